// sim_rig.h - a fresh driver on a simulated board behind a recording backend, a fake counter,
// and the error boxes captured; for any test framework.
#pragma once

#include "recording_backend.h"

#include "lpt/lpt_testing.h"
#include "platform/counter.h"
#include "platform/error_box.h"
#include "platform/sim_board.h"

#include <memory>
#include <string>
#include <vector>

namespace kdx620::test {

inline constexpr std::uint16_t kBase = 0xdf88;

// A fresh driver on a simulated board behind a recording backend, a fake counter, and the
// error boxes captured; everything put back when it goes.
class SimRig {
public:
  // Counter of 1 MHz advancing one tick per read: a strobe pulse waits 20 ticks.
  static constexpr std::int64_t kTicksPerSecond = 1'000'000;

  SimRig() { useBoard(platform::SimConfig{}); }
  ~SimRig() {
    platform::installPortBackend(nullptr);
    platform::installCounter(nullptr);
    platform::setErrorBoxHandler({});
    lpt::testing::ResetDriverState();
  }
  SimRig(const SimRig &) = delete;
  SimRig &operator=(const SimRig &) = delete;

  // Starts again from program start on a new board with `config`.
  void useBoard(const platform::SimConfig &config) {
    lpt::testing::ResetDriverState();
    board = std::make_shared<platform::SimBoard>(config);
    auto backend = std::make_unique<RecordingBackend>(board);
    recorder = backend.get();
    platform::installPortBackend(std::move(backend));
    platform::installCounter(&counter);
    platform::setErrorBoxHandler([this](std::string_view text) { boxes.emplace_back(text); });
    boxes.clear();
  }

  platform::FakeCounter counter{kTicksPerSecond, 1};
  std::shared_ptr<platform::SimBoard> board;
  RecordingBackend *recorder = nullptr;
  std::vector<std::string> boxes;
};

} // namespace kdx620::test
