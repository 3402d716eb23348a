// recording_backend.h - a port backend over a simulated board that also records every access.
#pragma once

#include "platform/counter.h"
#include "platform/port_io.h"
#include "platform/sim_board.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kdx620::test {

struct PortAccess {
  enum class Kind : std::uint8_t { read, write };
  Kind kind;
  std::uint16_t address;
  std::uint8_t value; // the byte written, or the byte read when the read succeeded
  bool succeeded;
  std::int64_t ticks; // counter when it happened
};

class RecordingBackend final : public platform::PortBackend {
public:
  explicit RecordingBackend(std::shared_ptr<platform::SimBoard> board) : board_(std::move(board)) {}

  std::string_view name() const override { return "sim"; }
  bool start(std::string &reason) override {
    if (onStart) {
      onStart();
    }
    reason = startFailure;
    return startFailure.empty();
  }
  void stop() override { ++stops; }
  bool read(std::uint16_t address, std::uint8_t &value) override {
    const bool ok = board_->read(address, value);
    ++reads;
    if (onRead) {
      onRead(reads);
    }
    if (recording) {
      accesses.push_back({PortAccess::Kind::read, address, ok ? value : std::uint8_t{0}, ok,
                          platform::counter().peek()});
    }
    return ok;
  }
  void write(std::uint16_t address, std::uint8_t value) override {
    if (recording) {
      accesses.push_back(
          {PortAccess::Kind::write, address, value, true, platform::counter().peek()});
    }
    board_->write(address, value);
  }

  // Writes to one register, in order.
  std::vector<std::uint8_t> writesTo(std::uint16_t address) const {
    std::vector<std::uint8_t> values;
    for (const auto &access : accesses) {
      if (access.kind == PortAccess::Kind::write && access.address == address) {
        values.push_back(access.value);
      }
    }
    return values;
  }
  std::size_t readsOf(std::uint16_t address) const {
    std::size_t count = 0;
    for (const auto &access : accesses) {
      count += access.kind == PortAccess::Kind::read && access.address == address ? 1 : 0;
    }
    return count;
  }

  std::string startFailure;                           // non-empty: start() fails with this reason
  std::function<void(std::size_t readsSoFar)> onRead; // lets a test change the board mid-wait
  std::function<void()> onStart;                       // sees what came before port access
  std::size_t reads = 0;
  bool recording = true;
  int stops = 0;
  std::vector<PortAccess> accesses;

private:
  std::shared_ptr<platform::SimBoard> board_;
};

} // namespace kdx620::test
