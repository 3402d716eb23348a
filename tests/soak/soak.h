// soak.h - long seeded sequences of random operator commands on fresh simulated boards, every
// command checked against a model of the motors that knows only the step tables and what was
// commanded; and the port rule that holds under any fault, as a backend that watches it.
#pragma once

#include "platform/port_io.h"
#include "platform/sim_board.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kdx620::soak {

struct Options {
  std::uint64_t seed = 1;
  std::uint32_t commands = 400;
  // One command in this many runs through the motion worker instead of calling the driver
  // directly (each costs the worker's 10 ms poll); 0 never.
  std::uint32_t workerEvery = 16;
  // Some boards fail 1 % or 50 % of their reads; their commands are checked only for the port
  // rule and for ending, since a skipped strobe is a step the model cannot know of.
  bool faultyBoards = true;
};

struct Figures {
  std::uint64_t seed = 0;
  std::uint64_t commands = 0;
  std::uint64_t boards = 0;      // fresh boards with a fresh start-up
  std::uint64_t clockBoards = 0; // of those, clock/direction boards
  std::uint64_t faultyBoards = 0;
  std::uint64_t moves = 0;
  std::uint64_t referenceRuns = 0;
  std::uint64_t stepModeChanges = 0;
  std::uint64_t halfToFullAtHighIndex = 0; // half to full step with an axis at index 4 to 7
  std::uint64_t onWorker = 0;
  // Checked boards: axis steps the board took (latches of a stepping axis, clock edges), and
  // the steps its motors flagged as lost, all of them where the model expected them.
  std::uint64_t steps = 0;
  std::uint64_t lostSteps = 0;
  std::uint64_t lostAtStepModeChange = 0; // of those, on the holding pattern or first step after
  std::uint64_t heldAtRunningCurrent = 0; // holding patterns with a winding at running current
  // Faulty boards.
  std::uint64_t faultyCommands = 0;
  std::uint64_t failedReads = 0; // faults injected
  std::uint64_t lostStepsUnderFaults = 0;
  std::uint64_t portReads = 0; // all boards
  double seconds = 0;
  // What did not hold, with the seed and the commands that led there; empty when all held.
  std::vector<std::string> violations;
};

Figures RunSoak(const Options &options);

// The figures as lines of text, for a test's output and the benchmark.
std::string Summary(const Figures &figures);

// The simulated board behind a backend that watches the port rule: a read that fails skips the
// write that would follow it. Every control write is the second half of a read-modify-write, so
// it must follow a good read of the control register; a data write may follow a failed read of
// the data register only as a latch byte, which the strobe's read of the control register
// follows at once.
class RuleCheckingBackend final : public platform::PortBackend {
public:
  // `base` is the data register's address, as the driver's port choice has it.
  RuleCheckingBackend(std::shared_ptr<platform::SimBoard> board, std::uint16_t base)
      : board_(std::move(board)), data_(base), control_(static_cast<std::uint16_t>(base + 2)) {}

  std::string_view name() const override { return "sim"; }
  bool start(std::string &) override { return true; }
  void stop() override {}
  bool read(std::uint16_t address, std::uint8_t &value) override;
  void write(std::uint16_t address, std::uint8_t value) override;

  std::uint64_t reads() const { return reads_; }
  std::uint64_t failedReads() const { return failedReads_; }
  std::uint64_t failedControlReads() const { return failedControlReads_; }
  std::uint64_t dataWrites() const { return dataWrites_; }
  std::uint64_t writesAfterFailedReads() const {
    return writesAfterFailedReads_ + (pendingWrite_ ? 1U : 0U);
  }
  std::uint64_t controlWritesWithoutRead() const { return controlWritesWithoutRead_; }

private:
  // Decides about a data write that followed a failed read of the data register.
  void judgePendingWrite(bool strobeFollows);

  struct Access {
    bool read = false;
    std::uint16_t address = 0;
    bool succeeded = true;
  };

  std::shared_ptr<platform::SimBoard> board_;
  std::uint16_t data_;
  std::uint16_t control_;
  Access last_;
  bool pendingWrite_ = false;
  std::uint64_t reads_ = 0;
  std::uint64_t failedReads_ = 0;
  std::uint64_t failedControlReads_ = 0;
  std::uint64_t dataWrites_ = 0;
  std::uint64_t writesAfterFailedReads_ = 0;
  std::uint64_t controlWritesWithoutRead_ = 0;
};

// A repeating pattern of read failures for SimBoard::failReadsByPattern: each entry fails with
// `rate`, drawn from `seed`; its length is a prime so that it never keeps step with the ten
// samples of a status line or the thirty of the reference input.
std::vector<bool> FailurePattern(double rate, std::uint64_t seed);

} // namespace kdx620::soak
