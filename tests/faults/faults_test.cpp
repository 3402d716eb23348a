// faults_test.cpp - the driver on a board that lets it down: reads that fail, a reference input
// stuck active or inactive, an E1 that never rises, inputs that change from another thread.
// It does what it is meant to: skips the write after a failed read, scores no hit for it, runs
// a move whose stop never comes to its full count; and only the wait without a limit goes on
// while nothing changes. The reference runs whose moves run to their 5,000,000-step limit are
// in bench/soak.
#include "driver_fixture.h"
#include "soak.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <functional>
#include <thread>

namespace kdx620::test {
namespace {

constexpr double kFailureRates[] = {0.01, 0.5, 1.0};

class Faults : public DriverFixture {
protected:
  void SetUp() override { startUp(); }

  // A fresh board behind a backend that watches the port rule, started as the window starts.
  soak::RuleCheckingBackend &startOnCheckedBoard(const platform::SimConfig &config) {
    useBoard(config);
    auto backend = std::make_unique<soak::RuleCheckingBackend>(board, kBase);
    auto &checked = *backend;
    platform::installPortBackend(std::move(backend));
    recorder = nullptr;
    startUp();
    return checked;
  }

  static platform::SimConfig
  switchesAt(std::int32_t position, platform::SimWiring wiring = platform::SimWiring::single,
             platform::SimPolarity polarity = platform::SimPolarity::high) {
    platform::SimConfig config;
    config.switchPosition = {position, position, position};
    config.wiring = wiring;
    config.polarity = polarity;
    return config;
  }

  void matchReferenceInput(const platform::SimConfig &config) {
    lpt::SetRefInput(config.wiring == platform::SimWiring::single ? 1 : 0,
                     config.polarity == platform::SimPolarity::high ? 1 : 0);
  }
};

TEST_F(Faults, AFailedSampleScoresNoHitButCountsAsOneOfTen) {
  // Three lines, high-active, every switch active: lines 5, 6 and 7 are high, E1 and line 3
  // (pin 15, pulled up) too, so every good read of any accepted mask is a hit.
  useBoard(switchesAt(INT32_MAX, platform::SimWiring::three));
  startUp();
  for (const double rate : kFailureRates) {
    for (std::uint64_t seed = 1; seed <= 20; ++seed) {
      board->failReadsByPattern(soak::FailurePattern(rate, seed));
      for (const std::int32_t mask : {0x08, 0x10, 0x20, 0x40, 0x80}) {
        recorder->accesses.clear();
        const bool high = lpt::SampleStatusBit(mask);
        ASSERT_EQ(recorder->accesses.size(), 10U);
        const auto goodReads = std::count_if(recorder->accesses.begin(), recorder->accesses.end(),
                                             [](const PortAccess &read) { return read.succeeded; });
        EXPECT_EQ(high, goodReads >= 8) << "rate " << rate << " seed " << seed << " mask " << mask;
      }
    }
  }
}

TEST_F(Faults, FailingReadsSkipTheirWritesWhileTheMovesMakeEveryStep) {
  for (const double rate : kFailureRates) {
    SCOPED_TRACE(testing::Message() << rate * 100 << " % of reads failing");
    auto &port = startOnCheckedBoard(switchesAt(INT32_MIN));
    const std::uint64_t latchesBefore = board->latchCount();
    const std::uint64_t dataWritesBefore = port.dataWrites();
    board->failReadsByPattern(soak::FailurePattern(rate, 7));

    lpt::Vektorfahrt(0, 40, -25, 10, 200, 600, 20);
    lpt::OutputRuhestrom(1);
    lpt::SetControlBit(2, 1);
    lpt::Vektorfahrt(0, -15, 15, 15, 200, 600, 20);
    lpt::OutputRuhestrom(1);
    lpt::SetSchrittbetrieb(1, 2);
    lpt::OutputRuhestrom(1);
    lpt::Vektorfahrt(0, 12, 0, -12, 200, 600, 20);
    lpt::OutputRuhestrom(1);
    lpt::WaitInputSettle(3);

    // Latch bytes go out whatever the reads do: 75 + 45 + 24 axis steps and four holdings.
    constexpr std::uint64_t kLatchBytes = 75 + 45 + 24 + 4 * 3;
    EXPECT_EQ(port.dataWrites() - dataWritesBefore, kLatchBytes);
    EXPECT_EQ(port.writesAfterFailedReads(), 0U);
    EXPECT_EQ(port.controlWritesWithoutRead(), 0U);
    // A failed read of the control register costs the strobe of one latch byte at most: its own,
    // or, when the strobe could not be ended, the next one's rising edge.
    const std::uint64_t taken = board->latchCount() - latchesBefore;
    EXPECT_LE(taken, kLatchBytes);
    EXPECT_GE(taken + port.failedControlReads(), kLatchBytes);
    EXPECT_TRUE(boxes.empty());
    if (rate == 1.0) {
      EXPECT_EQ(taken, 0U) << "a port that never answers latches nothing";
      EXPECT_FALSE(board->pinHigh(14)) << "nor sets pin 14";
      EXPECT_THAT((std::array{board->position(0), board->position(1), board->position(2)}),
                  ::testing::ElementsAre(0, 0, 0));
    }
  }
}

TEST_F(Faults, FailingReadsSkipTheClockAndDirectionWrites) {
  for (const double rate : kFailureRates) {
    SCOPED_TRACE(testing::Message() << rate * 100 << " % of reads failing");
    platform::SimConfig config = switchesAt(INT32_MIN);
    config.drive = platform::SimDrive::clockdir;
    useBoard(config);
    auto backend = std::make_unique<soak::RuleCheckingBackend>(board, kBase);
    auto &port = *backend;
    platform::installPortBackend(std::move(backend));
    ASSERT_TRUE(lpt::LptOpen());
    ASSERT_TRUE(lpt::TimerOpen());
    lpt::SetPortAddress("0xdf88");
    lpt::SetRefInput(1, 1);
    board->failReadsByPattern(soak::FailurePattern(rate, 11));

    lpt::Vektorfahrt(1, 30, -20, 10, 200, 600, 20);
    lpt::Vektorfahrt(1, -15, 15, 0, 200, 600, 20);

    EXPECT_EQ(port.writesAfterFailedReads(), 0U);
    EXPECT_EQ(port.controlWritesWithoutRead(), 0U);
    if (rate == 1.0) {
      EXPECT_EQ(port.dataWrites(), 1U) << "only the port choice's 0";
      EXPECT_THAT((std::array{board->clockSteps(0), board->clockSteps(1), board->clockSteps(2)}),
                  ::testing::ElementsAre(0, 0, 0));
    }
  }
}

TEST_F(Faults, AMoveWhoseStopNeverComesMakesItsFullCountInEveryWiring) {
  constexpr std::int32_t kSteps = 20'000;
  const struct {
    std::int32_t switches;
    const char *stuck;
    std::uint8_t lpt::LptStateRecord::*stopFlag;
  } cases[] = {{INT32_MAX, "active", &lpt::LptStateRecord::stopWhenInactive},
               {INT32_MIN, "inactive", &lpt::LptStateRecord::stopWhenActive}};
  for (const auto &c : cases) {
    for (const auto wiring : {platform::SimWiring::single, platform::SimWiring::three}) {
      for (const auto polarity : {platform::SimPolarity::high, platform::SimPolarity::low}) {
        const platform::SimConfig config = switchesAt(c.switches, wiring, polarity);
        startOnCheckedBoard(config);
        matchReferenceInput(config);
        lpt::SetStopOnInput(0);
        lpt::LptState.*c.stopFlag = 1;
        lpt::Vektorfahrt(0, kSteps, -kSteps, kSteps / 2, 64000, 64000, 0);
        lpt::LptState.*c.stopFlag = 0;
        EXPECT_THAT((std::array{board->position(0), board->position(1), board->position(2)}),
                    ::testing::ElementsAre(kSteps, -kSteps, kSteps / 2))
            << "input stuck " << c.stuck << ", wiring " << int(wiring) << ", polarity "
            << int(polarity);
        EXPECT_EQ(board->lostSteps(), 0U);
      }
    }
  }
}

TEST_F(Faults, WaitForE1GoesOnWhileE1StaysLowAndTheInputInactiveAndEndsWhenE1Rises) {
  board->setE1(false);
  board->setSwitchPosition(0, INT32_MIN);
  recorder->recording = false;
  constexpr std::size_t kReads = 1'000'000;
  const std::size_t start = recorder->reads;
  recorder->onRead = [&](std::size_t reads) {
    if (reads - start == kReads) {
      board->setE1(true);
    }
  };
  lpt::WaitForE1(1);
  EXPECT_GE(recorder->reads - start, kReads);
  EXPECT_LE(recorder->reads - start, kReads + 2 * 40) << "at most the pass it saw E1 in, and one";
}

TEST_F(Faults, WaitForE1SeesNothingThroughAPortThatFailsEveryReadUntilItAnswersAgain) {
  // High-active: a failed read is a line not high, so the input is inactive and E1 low.
  board->setSwitchPosition(0, INT32_MIN);
  recorder->recording = false;
  constexpr std::size_t kReads = 200'000;
  const std::size_t start = recorder->reads;
  board->failEveryNthRead(1);
  recorder->onRead = [&](std::size_t reads) {
    if (reads - start == kReads) {
      board->failEveryNthRead(0);
    }
  };
  lpt::WaitForE1(1);
  EXPECT_GE(recorder->reads - start, kReads);
  EXPECT_LE(recorder->reads - start, kReads + 2 * 40);

  // Low-active, the same failures make the input active: the wait ends after one pass.
  lpt::SetRefInput(1, 0);
  board->failEveryNthRead(1);
  const std::size_t before = recorder->reads;
  lpt::WaitForE1(1);
  EXPECT_EQ(recorder->reads - before, 40U);
}

// An operator's panel changes the board's inputs from its own thread while the driver waits or
// moves: the driver pauses at a given read until the panel has acted, so the interleaving is
// the same on every run.
class PanelThread : public Faults {
protected:
  void pauseDriverAtRead(std::size_t read, std::function<void()> act) {
    recorder->recording = false;
    const std::size_t start = recorder->reads;
    recorder->onRead = [this, read, start](std::size_t reads) {
      if (reads - start == read) {
        positionAtPause_ = board->position(0);
        reached_.store(true, std::memory_order_release);
        while (!acted_.load(std::memory_order_acquire)) {
          std::this_thread::yield();
        }
      }
    };
    panel_ = std::thread([this, act = std::move(act)] {
      while (!reached_.load(std::memory_order_acquire)) {
        std::this_thread::yield();
      }
      act();
      acted_.store(true, std::memory_order_release);
    });
  }
  void TearDown() override {
    reached_.store(true, std::memory_order_release); // lets the panel go should the read not come
    if (panel_.joinable()) {
      panel_.join();
    }
  }

  std::int64_t positionAtPause_ = 0;

private:
  std::atomic<bool> reached_{false};
  std::atomic<bool> acted_{false};
  std::thread panel_;
};

TEST_F(PanelThread, AnE1RaisedFromAnotherThreadEndsTheWait) {
  board->setE1(false);
  const std::size_t start = recorder->reads;
  pauseDriverAtRead(10'000, [this] { board->setE1(true); });
  lpt::WaitForE1(1);
  EXPECT_LE(recorder->reads - start, 10'000U + 2 * 40);
}

TEST_F(PanelThread, ASwitchClosedFromAnotherThreadStopsTheMoveWithinAStep) {
  board->setSwitchPosition(0, INT32_MIN);
  pauseDriverAtRead(50'000, [this] { board->setSwitchPosition(0, INT32_MAX); });
  lpt::Vektorfahrt(0, -1'000'000, 0, 0, 64000, 64000, 0); // stopOnInput: on since the port choice
  EXPECT_LT(positionAtPause_, 0);
  EXPECT_GE(positionAtPause_ - board->position(0), 0);
  EXPECT_LE(positionAtPause_ - board->position(0), 1);
}

} // namespace
} // namespace kdx620::test
