// driver_fixture.h - a fresh driver on a simulated board, a fake counter and captured error boxes.
#pragma once

#include "recording_backend.h"

#include "lpt/lpt.h"
#include "lpt/lpt_testing.h"
#include "platform/counter.h"
#include "platform/error_box.h"
#include "platform/sim_board.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace kdx620::test {

inline constexpr std::uint16_t kBase = 0xdf88;

class DriverFixture : public ::testing::Test {
protected:
  // Counter of 1 MHz advancing one tick per read: a strobe pulse waits 20 ticks.
  static constexpr std::int64_t kTicksPerSecond = 1'000'000;

  void SetUp() override { useBoard(platform::SimConfig{}); }

  void TearDown() override {
    platform::installPortBackend(nullptr);
    platform::installCounter(nullptr);
    platform::setErrorBoxHandler({});
    lpt::testing::ResetDriverState();
  }

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

  // The window's start-up configuration: port 0xdf88, half step, level 1, holding patterns,
  // pin 14 reset, single high-active reference input.
  void startUp() {
    ASSERT_TRUE(lpt::LptOpen());
    ASSERT_TRUE(lpt::TimerOpen());
    lpt::SetPortAddress("0xdf88");
    lpt::SetSchrittbetrieb(0, 1);
    lpt::OutputRuhestrom(1);
    lpt::SetControlBit(2, 0);
    lpt::SetRefInput(1, 1);
  }

  platform::FakeCounter counter{kTicksPerSecond, 1};
  std::shared_ptr<platform::SimBoard> board;
  RecordingBackend *recorder = nullptr;
  std::vector<std::string> boxes;
};

} // namespace kdx620::test
