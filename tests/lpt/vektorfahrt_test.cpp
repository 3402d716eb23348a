// vektorfahrt_test.cpp - the vector move: its plan, and what the simulated motors did.
#include "board_log.h"
#include "driver_fixture.h"

#include <gmock/gmock.h>

#include <climits>
#include <cmath>

namespace kdx620::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using Kind = platform::SimEvent::Kind;

std::vector<double> plannedFrequencies(const lpt::VektorPlan &plan) {
  std::vector<double> frequencies;
  lpt::ForEachPlannedStep(plan, [&](double aktFreq) { frequencies.push_back(aktFreq); });
  return frequencies;
}

TEST(PlanVektorfahrt, ComputesTheRampInExtendedPrecisionAndCutsItForShortMoves) {
  const struct {
    std::int32_t start, work, rampMs, steps;
    std::uint32_t rampSteps;
    double slope;
  } cases[] = {
      {200, 600, 100, 1000, 60, 400.0 / 60},
      {300, 900, 50, 1000, 44, 600.0 / 44}, // the quotient lands just below 45
      {200, 600, 1, 1000, 0, 0.0},          // 0.6 truncates to 0
      {200, 600, 2, 1000, 1, 400.0},
      {200, 600, 5, 10, 3, 400.0 / 3},
      {200, 600, 100, 5, 2, 400.0 / 60}, // cut from 60; the slope is kept
      {200, 600, 100, 4, 2, 400.0 / 60},
      {200, 600, 100, 1, 0, 400.0 / 60},
      {200, 600, 0, 1000, 0, 0.0},
      {600, 200, 100, 1000, 0, 0.0}, // working frequency raised to the start frequency
  };
  for (const auto &c : cases) {
    const auto plan = lpt::PlanVektorfahrt(c.steps, 0, 0, c.start, c.work, c.rampMs);
    EXPECT_EQ(plan.rampSteps, c.rampSteps) << c.start << "/" << c.work << "/" << c.rampMs;
    EXPECT_DOUBLE_EQ(plan.Steilheit, c.slope) << c.start << "/" << c.work << "/" << c.rampMs;
  }
}

TEST(PlanVektorfahrt, ClampsFrequenciesAndRampInOrder) {
  const struct {
    std::int32_t start, work, rampMs;
    std::int32_t clampedStart, clampedWork, clampedRamp;
  } cases[] = {
      {0, 600, 100, 1, 600, 100},
      {-7, -3, 100, 1, 1, 100},
      {70000, 90000, 100, 64000, 64000, 100},
      {200, 100, -5, 200, 200, 0},
      {200, 600, 70000, 200, 600, 60000},
  };
  for (const auto &c : cases) {
    const auto plan = lpt::PlanVektorfahrt(10, 0, 0, c.start, c.work, c.rampMs);
    EXPECT_EQ(plan.startFreq, c.clampedStart);
    EXPECT_EQ(plan.arbeitsFreq, c.clampedWork);
    EXPECT_EQ(plan.rampenLaenge, c.clampedRamp);
  }
}

TEST(PlanVektorfahrt, ChoosesTheLeadByMagnitudeWithXWinningTies) {
  const struct {
    std::int32_t x, y, z;
    lpt::Axis lead, second, third;
    std::uint32_t leadCount;
  } cases[] = {
      {5, 5, 5, lpt::xAxis, lpt::yAxis, lpt::zAxis, 5},
      {3, 5, 5, lpt::yAxis, lpt::xAxis, lpt::zAxis, 5},
      {3, 3, 5, lpt::zAxis, lpt::xAxis, lpt::yAxis, 5},
      {-7, 7, 0, lpt::xAxis, lpt::yAxis, lpt::zAxis, 7},
      {1, -2, 0, lpt::yAxis, lpt::xAxis, lpt::zAxis, 2},
      {INT_MIN, INT_MAX, 0, lpt::xAxis, lpt::yAxis, lpt::zAxis, 0x80000000U},
  };
  for (const auto &c : cases) {
    const auto plan = lpt::PlanVektorfahrt(c.x, c.y, c.z, 200, 600, 100);
    EXPECT_EQ(plan.lead.axis, c.lead) << c.x << "," << c.y << "," << c.z;
    EXPECT_EQ(plan.second.axis, c.second);
    EXPECT_EQ(plan.third.axis, c.third);
    EXPECT_EQ(plan.leadCount, c.leadCount);
    EXPECT_EQ(plan.lead.forward, (c.lead == lpt::xAxis   ? c.x
                                  : c.lead == lpt::yAxis ? c.y
                                                         : c.z) >= 0);
  }
}

TEST(PlannedProfile, RisesHoldsAndFallsAsTheRampSays) {
  const double s = 200;
  const double slope = 400.0 / 3;
  EXPECT_THAT(plannedFrequencies(lpt::PlanVektorfahrt(10, 0, 0, 200, 600, 5)),
              ElementsAre(s, ::testing::DoubleEq(s + slope), ::testing::DoubleEq(s + 2 * slope),
                          ::testing::DoubleEq(600), ::testing::DoubleEq(600),
                          ::testing::DoubleEq(600), ::testing::DoubleEq(600),
                          ::testing::DoubleEq(s + 2 * slope), ::testing::DoubleEq(s + slope),
                          ::testing::DoubleEq(s)));
}

TEST(PlannedProfile, ShortMovesTurnBeforeTheWorkingFrequency) {
  const double s = 200;
  const double slope = 400.0 / 60;
  using ::testing::DoubleEq;
  EXPECT_THAT(plannedFrequencies(lpt::PlanVektorfahrt(5, 0, 0, 200, 600, 100)),
              ElementsAre(s, DoubleEq(s + slope), DoubleEq(s + 2 * slope), DoubleEq(s + slope),
                          DoubleEq(s)));
  EXPECT_THAT(plannedFrequencies(lpt::PlanVektorfahrt(4, 0, 0, 200, 600, 100)),
              ElementsAre(s, DoubleEq(s + slope), DoubleEq(s + 2 * slope), DoubleEq(s + slope)));
  EXPECT_THAT(plannedFrequencies(lpt::PlanVektorfahrt(1, 0, 0, 200, 600, 100)), ElementsAre(s));
  EXPECT_THAT(plannedFrequencies(lpt::PlanVektorfahrt(4, 0, 0, 200, 600, 2)),
              ElementsAre(s, 600, 600, s));
}

TEST(PlannedProfile, TheDefaultMoveCarriesTheRoundingOfItsSums) {
  const auto frequencies = plannedFrequencies(lpt::PlanVektorfahrt(1000, 0, 0, 200, 600, 100));
  ASSERT_EQ(frequencies.size(), 1000U);
  for (std::size_t k = 1; k <= 60; ++k) {
    EXPECT_NEAR(frequencies[k - 1], 200 + static_cast<double>(k - 1) * 400.0 / 60, 1e-9) << k;
    EXPECT_NEAR(frequencies[1000 - k], 200 + static_cast<double>(k - 1) * 400.0 / 60, 1e-9) << k;
  }
  EXPECT_EQ(frequencies[60], 600.0000000000001);
  EXPECT_EQ(frequencies[939], 600.0000000000001);
  EXPECT_EQ(frequencies[999], 199.99999999999997);
}

class Move : public DriverFixture {
protected:
  void SetUp() override {
    DriverFixture::SetUp();
    startUp();
    board->enableLog(1 << 16);
  }
  std::int64_t position(int axis) const { return board->position(axis); }
};

TEST_F(Move, TheWindowsDefaultMoveTurnsXAThousandHalfStepsOnTheRampsProfile) {
  lpt::Vektorfahrt(0, 1000, 0, 0, 200, 600, 100);

  EXPECT_EQ(position(0), 1000);
  EXPECT_EQ(position(1), 0);
  EXPECT_EQ(position(2), 0);
  EXPECT_EQ(board->lostSteps(), 0U);
  EXPECT_EQ(lpt::LptState.phaseIndex[0], 1000 % 8);
  // The time between two of the motor's steps is the planned period of the first of them,
  // give or take the few counter reads around the wait.
  const auto gaps = intervals(*board, 0, Kind::latch);
  const auto frequencies = plannedFrequencies(lpt::PlanVektorfahrt(1000, 0, 0, 200, 600, 100));
  ASSERT_EQ(gaps.size(), 999U);
  for (std::size_t k = 0; k < gaps.size(); ++k) {
    const auto planned = static_cast<std::int64_t>(kTicksPerSecond / frequencies[k]);
    EXPECT_NEAR(static_cast<double>(gaps[k]), static_cast<double>(planned), 4.0)
        << "step " << k + 1;
  }
  EXPECT_GT(gaps[0] - gaps[1], 150) << "the ramp rises from the first step";
}

TEST_F(Move, NegativeCountsStepBackward) {
  lpt::Vektorfahrt(0, -5, 0, 0, 200, 600, 100);
  EXPECT_EQ(position(0), -5);
  EXPECT_EQ(lpt::LptState.phaseIndex[0], 3); // 0 -> 7, 6, 5, 4, 3
}

TEST_F(Move, TheSecondAxisStepsWithLeadSteps3And6And9) {
  lpt::Vektorfahrt(0, 10, 3, 0, 200, 600, 100);
  EXPECT_THAT(leadStepsOf(*board, 0, 1), ElementsAre(3, 6, 9));
  EXPECT_EQ(position(0), 10);
  EXPECT_EQ(position(1), 3);
}

TEST_F(Move, TiesStepInLeadSecondThirdOrder) {
  const struct {
    std::int32_t x, y, z;
    std::vector<int> order; // axes latched in the first two steps
  } cases[] = {
      {5, 5, 5, {0, 1, 2, 0, 1, 2}},
      {3, 5, 5, {1, 0, 2, 1, 2}}, // lead y; x steps at lead steps 1, 3, 4
      {3, 3, 5, {2, 0, 1, 2}},
      {-7, 7, 0, {0, 1, 0, 1}},
  };
  for (const auto &c : cases) {
    useBoard(platform::SimConfig{});
    startUp();
    board->enableLog(1024);
    lpt::Vektorfahrt(0, c.x, c.y, c.z, 200, 600, 100);
    const auto axes = latchedAxes(*board);
    ASSERT_GE(axes.size(), c.order.size());
    EXPECT_EQ(std::vector<int>(axes.begin(), axes.begin() + static_cast<long>(c.order.size())),
              c.order)
        << c.x << "," << c.y << "," << c.z;
    EXPECT_EQ(position(0), c.x);
    EXPECT_EQ(position(1), c.y);
    EXPECT_EQ(position(2), c.z);
  }
}

TEST_F(Move, LatchesYPatternsWith64AndZPatternsWith128) {
  recorder->accesses.clear();
  lpt::Vektorfahrt(0, 0, 1, 0, 200, 600, 100);
  lpt::Vektorfahrt(0, 0, 0, -1, 200, 600, 100);
  EXPECT_THAT(recorder->writesTo(kBase), ElementsAre(0x2D + 64, 0x29 + 128));
  EXPECT_EQ(lpt::lastOutValue, 0x29U + 128);
}

TEST_F(Move, PhaseIndicesWrapAroundTheTable) {
  const struct {
    int stepMode;
    std::uint8_t index;
    std::int32_t steps;
    std::uint8_t after;
  } cases[] = {{0, 7, 1, 0}, {0, 0, -1, 7}, {1, 5, 1, 0}, {1, 5, -1, 3}};
  for (const auto &c : cases) {
    lpt::SetSchrittbetrieb(c.stepMode, 1);
    lpt::LptState.phaseIndex[0] = c.index;
    recorder->accesses.clear();
    lpt::Vektorfahrt(0, c.steps, 0, 0, 200, 600, 100);
    EXPECT_EQ(lpt::LptState.phaseIndex[0], c.after);
    EXPECT_THAT(recorder->writesTo(kBase), ElementsAre(lpt::runPattern[c.after]));
  }
}

TEST_F(Move, AMoveOfNothingEndsAtOnce) {
  recorder->accesses.clear();
  const std::int64_t before = counter.peek();
  EXPECT_EQ(lpt::Vektorfahrt(0, 0, 0, 0, 200, 600, 100), 0);
  EXPECT_TRUE(recorder->accesses.empty());
  EXPECT_EQ(counter.peek(), before);
}

TEST_F(Move, WithoutAStepModePhaseOutputIsRefusedAndTouchesNothing) {
  useBoard(platform::SimConfig{});
  ASSERT_TRUE(lpt::LptOpen());
  ASSERT_TRUE(lpt::TimerOpen());
  lpt::SetPortAddress("0xdf88");
  recorder->accesses.clear();
  EXPECT_EQ(lpt::Vektorfahrt(0, 10, 0, 0, 200, 600, 100), 0);
  EXPECT_THAT(boxes, ElementsAre("Schrittbetrieb einstellen!"));
  EXPECT_TRUE(recorder->accesses.empty());
}

TEST_F(Move, AStopThatHoldsAtTheFirstStepMakesOneStepAndWaitsItsFullPeriod) {
  board->setSwitchPosition(0, 10); // active where x stands
  const std::int64_t before = counter.peek();
  lpt::Vektorfahrt(0, 5, 5, 0, 200, 600, 100); // stopOnInput is on since the port choice
  EXPECT_EQ(position(0), 1);
  EXPECT_EQ(position(1), 1);
  const std::int64_t ticks = counter.peek() - before;
  EXPECT_GT(ticks, kTicksPerSecond / 200);
  EXPECT_LT(ticks, 2 * kTicksPerSecond / 200);
}

TEST_F(Move, AnOperatorMoveEndsOnTheStepThatReachesTheSwitch) {
  board->setSwitchPosition(0, -10);
  lpt::Vektorfahrt(0, -100, 0, 0, 200, 600, 100);
  EXPECT_EQ(position(0), -10);
}

TEST_F(Move, StopWhenInactiveEndsWhereTheSwitchReleases) {
  board->setSwitchPosition(0, 3);
  lpt::SetStopOnInput(0);
  lpt::LptState.stopWhenInactive = 1;
  lpt::Vektorfahrt(0, 100, 0, 0, 200, 600, 100);
  EXPECT_EQ(position(0), 4);
}

TEST_F(Move, TheMostNegativeCountRunsBackwardUntilStopped) {
  board->setSwitchPosition(0, -3);
  lpt::Vektorfahrt(0, INT_MIN, INT_MIN, 0, 64000, 64000, 0);
  EXPECT_EQ(position(0), -3);
  EXPECT_EQ(position(1), -3) << "a second axis of 2^31 steps keeps pace with the lead";
}

class ClockDirectionMove : public DriverFixture {
protected:
  void SetUp() override {
    platform::SimConfig config;
    config.drive = platform::SimDrive::clockdir;
    useBoard(config);
    ASSERT_TRUE(lpt::LptOpen());
    ASSERT_TRUE(lpt::TimerOpen());
    lpt::SetPortAddress("0xdf88"); // no step mode: clock/direction output needs none
    lpt::SetRefInput(1, 1);
  }
};

TEST_F(ClockDirectionMove, TheDecoderCountsEveryAxisStepInItsDirection) {
  lpt::Vektorfahrt(1, 10, -5, 3, 200, 600, 100);
  EXPECT_EQ(board->clockSteps(0), 10);
  EXPECT_EQ(board->clockSteps(1), -5);
  EXPECT_EQ(board->clockSteps(2), 3);
  EXPECT_THAT(lpt::LptState.phaseIndex, ElementsAre(0, 0, 0));
  EXPECT_EQ(board->dataRegister(), 0x01 | 0x10) << "clocks low, directions as last set";
  EXPECT_TRUE(boxes.empty());
}

TEST_F(ClockDirectionMove, ClocksFallHalfAPeriodIntoTheStep) {
  recorder->accesses.clear();
  lpt::Vektorfahrt(1, -1, 0, 0, 200, 200, 0);
  std::vector<PortAccess> dataWrites;
  for (const auto &access : recorder->accesses) {
    if (access.kind == PortAccess::Kind::write && access.address == kBase) {
      dataWrites.push_back(access);
    }
  }
  // Direction down, clock up, then the three clocks cleared.
  ASSERT_EQ(dataWrites.size(), 5U);
  EXPECT_EQ(dataWrites[0].value, 0x00);
  EXPECT_EQ(dataWrites[1].value, 0x02);
  EXPECT_EQ(dataWrites[2].value, 0x00);
  EXPECT_GT(dataWrites[2].ticks - dataWrites[1].ticks, kTicksPerSecond / 200 / 2);
}

} // namespace
} // namespace kdx620::test
