// patterns_test.cpp - phase tables, holding current and what the motors do with them.
#include "driver_fixture.h"

#include <gmock/gmock.h>

namespace kdx620::test {
namespace {

using ::testing::ElementsAre;
using Patterns = DriverFixture;

// The holding pattern that the rule derives from a running pattern: every winding with
// current gets the level's code (11, 10, 01 for levels 0, 1, 2), direction bits stay.
std::uint32_t derivedHoldPattern(std::uint32_t run, int level) {
  const std::uint32_t code = level == 0 ? 0b11 : level == 1 ? 0b10 : 0b01;
  std::uint32_t hold = run;
  for (const int shift : {0, 3}) {
    if (((run >> shift) & 0b11) != 0b11) {
      hold = (hold & ~(0b11U << shift)) | (code << shift);
    }
  }
  return hold;
}

TEST_F(Patterns, EveryHoldingPatternFollowsFromItsRunningPattern) {
  for (const int mode : {0, 1}) {
    for (const int level : {0, 1, 2}) {
      lpt::SetSchrittbetrieb(mode, level);
      for (int index = 0; index <= lpt::maxPhase; ++index) {
        EXPECT_EQ(lpt::holdPattern[index], derivedHoldPattern(lpt::runPattern[index], level))
            << "mode " << mode << " level " << level << " index " << index;
      }
    }
  }
  EXPECT_TRUE(boxes.empty());
}

TEST_F(Patterns, HalfStepRunsThroughEightPhasesFullStepThroughFour) {
  lpt::SetSchrittbetrieb(0, 1);
  EXPECT_EQ(lpt::maxPhase, 7);
  EXPECT_THAT(lpt::runPattern, ElementsAre(0x27, 0x2D, 0x1C, 0x0D, 0x03, 0x09, 0x38, 0x29));
  lpt::SetSchrittbetrieb(1, 2);
  EXPECT_EQ(lpt::maxPhase, 3);
  EXPECT_THAT(lpt::runPattern, ElementsAre(0x04, 0x00, 0x20, 0x24, 0, 0, 0, 0));
  EXPECT_THAT(lpt::holdPattern, ElementsAre(0x0D, 0x09, 0x29, 0x2D, 0, 0, 0, 0));
  EXPECT_EQ(lpt::LptState.schrittbetriebSet, 1);
}

TEST_F(Patterns, StartUpLatchesTheTwentyPercentHoldingPatternIntoEveryAxis) {
  startUp();
  EXPECT_THAT(recorder->writesTo(kBase), ElementsAre(0x00, 0x37, 0x77, 0xB7));
  for (int axis = 0; axis < 3; ++axis) {
    const auto &motor = board->motor(axis);
    EXPECT_EQ(board->latch(axis), 0x37) << axis;
    EXPECT_TRUE(motor.energized());
    EXPECT_EQ(motor.windingLevel(0), 3) << "winding 1 carries no current at index 0";
    EXPECT_EQ(motor.windingLevel(1), 2) << "winding 2 at the 20 % level";
    EXPECT_EQ(motor.position(), 0);
  }
  EXPECT_EQ(lpt::lastOutValue, 0xB7U);
}

TEST_F(Patterns, FullStepLevel2WritesEachAxisAtItsOwnIndex) {
  startUp();
  lpt::SetSchrittbetrieb(1, 2);
  lpt::LptState.phaseIndex[0] = 1;
  lpt::LptState.phaseIndex[1] = 2;
  lpt::LptState.phaseIndex[2] = 3;
  recorder->accesses.clear();
  lpt::OutputRuhestrom(1);
  EXPECT_THAT(recorder->writesTo(kBase), ElementsAre(0x09, 0x69, 0xAD));
}

TEST_F(Patterns, WithoutTheZFlagOnlyXAndYAreWritten) {
  startUp();
  recorder->accesses.clear();
  lpt::OutputRuhestrom(0);
  EXPECT_THAT(recorder->writesTo(kBase), ElementsAre(0x37, 0x77));
}

TEST_F(Patterns, AfterHalfToFullStepAnIndexAbove3HoldsWithPatternZero) {
  startUp();
  lpt::LptState.phaseIndex[0] = 4;
  lpt::LptState.phaseIndex[1] = 7;
  lpt::SetSchrittbetrieb(1, 1);
  recorder->accesses.clear();
  lpt::OutputRuhestrom(1);
  EXPECT_THAT(recorder->writesTo(kBase), ElementsAre(0x00, 0x40, 0x96));
  // Pattern 0 runs both windings at full current: the motor is held hard.
  EXPECT_EQ(board->motor(0).windingLevel(0), 0);
  EXPECT_EQ(board->motor(0).windingLevel(1), 0);
}

TEST_F(Patterns, AnInvalidLevelKeepsTheStepModeWithoutHoldingPatterns) {
  for (const int level : {3, -1}) {
    lpt::SetSchrittbetrieb(0, level);
    EXPECT_EQ(lpt::maxPhase, 7);
    EXPECT_EQ(lpt::runPattern[0], 0x27U);
    EXPECT_THAT(lpt::holdPattern, ElementsAre(0, 0, 0, 0, 0, 0, 0, 0));
    EXPECT_EQ(lpt::LptState.schrittbetriebSet, 1);
  }
  EXPECT_THAT(boxes, ElementsAre("falscher Wert für Ruhestrom!", "falscher Wert für Ruhestrom!"));
}

TEST_F(Patterns, AnInvalidStepModeEmptiesTheTablesAndChangesNothingElse) {
  lpt::SetSchrittbetrieb(2, 1);
  EXPECT_EQ(lpt::LptState.schrittbetriebSet, 0);
  EXPECT_EQ(lpt::maxPhase, 0);

  lpt::SetSchrittbetrieb(1, 1);
  lpt::SetSchrittbetrieb(-1, 1);
  EXPECT_EQ(lpt::maxPhase, 3);
  EXPECT_EQ(lpt::LptState.schrittbetriebSet, 1);
  EXPECT_THAT(lpt::runPattern, ElementsAre(0, 0, 0, 0, 0, 0, 0, 0));
  EXPECT_THAT(lpt::holdPattern, ElementsAre(0, 0, 0, 0, 0, 0, 0, 0));
  EXPECT_THAT(
      boxes, ElementsAre("falscher Wert für Schrittbetrieb!", "falscher Wert für Schrittbetrieb!"));
}

TEST_F(Patterns, SetAxisBitsPutsTheClockOnEitherBitOfEachPair) {
  lpt::SetAxisBits(0);
  EXPECT_THAT(lpt::clockBit, ElementsAre(0x02, 0x08, 0x20));
  EXPECT_THAT(lpt::dirBit, ElementsAre(0x01, 0x04, 0x10));
  lpt::SetAxisBits(5);
  EXPECT_THAT(lpt::clockBit, ElementsAre(0x01, 0x04, 0x10));
  EXPECT_THAT(lpt::dirBit, ElementsAre(0x02, 0x08, 0x20));
}

} // namespace
} // namespace kdx620::test
