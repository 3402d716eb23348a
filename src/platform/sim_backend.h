// sim_backend.h - the port backend that wires the driver to an in-process simulated board.
#pragma once

#include "port_io.h"
#include "sim_board.h"

#include <fstream>
#include <memory>
#include <string>

namespace platform {

class SimPortBackend final : public PortBackend {
public:
  explicit SimPortBackend(std::shared_ptr<SimBoard> board) : board_(std::move(board)) {}

  std::string_view name() const override { return "sim"; }
  // With a log file in the board's configuration: empties it and starts the board's log,
  // or says why the file cannot be written.
  bool start(std::string &reason) override;
  // Writes the log of the events since start() to the file.
  void stop() override;
  bool read(std::uint16_t address, std::uint8_t &value) override {
    return board_->read(address, value);
  }
  void write(std::uint16_t address, std::uint8_t value) override { board_->write(address, value); }

  SimBoard &board() { return *board_; }

private:
  std::shared_ptr<SimBoard> board_;
  std::ofstream logFile_;
};

// A sim backend configured from KDX620_SIM, or nullptr with `error` set when that is malformed.
std::unique_ptr<PortBackend> makeSimBackendFromEnvironment(std::string &error);

// The board behind the installed backend, or nullptr when the backend is not the simulation.
SimBoard *activeSimBoard();

} // namespace platform
