// referenzfahrt_test.cpp - reference runs on the simulated board: where the axis ends, and the
// stop flags around the run.
#include "driver_fixture.h"

#include <gmock/gmock.h>

namespace kdx620::test {
namespace {

using ::testing::ElementsAre;

constexpr std::int32_t kRefOffset = 25;

struct Wiring {
  platform::SimWiring wiring;
  platform::SimPolarity polarity;
};

// A board with `wiring`, and the driver's reference input set to match it.
class ReferenceRun : public DriverFixture {
protected:
  void startOn(Wiring wiring, std::array<std::int32_t, 3> switches) {
    platform::SimConfig config;
    config.wiring = wiring.wiring;
    config.polarity = wiring.polarity;
    config.switchPosition = switches;
    useBoard(config);
    startUp();
    lpt::SetRefInput(wiring.wiring == platform::SimWiring::single ? 1 : 0,
                     wiring.polarity == platform::SimPolarity::high ? 1 : 0);
  }
  void home(char axis, std::int32_t offset = kRefOffset) {
    lpt::Referenzfahrt(0, axis, offset, 200, 500, 100);
  }
};

TEST_F(ReferenceRun, EndsTheOffsetBeyondWhereTheSwitchReleasedInEveryWiring) {
  const Wiring wirings[] = {{platform::SimWiring::single, platform::SimPolarity::high},
                            {platform::SimWiring::single, platform::SimPolarity::low},
                            {platform::SimWiring::three, platform::SimPolarity::high},
                            {platform::SimWiring::three, platform::SimPolarity::low}};
  for (const auto &wiring : wirings) {
    for (const int axis : {0, 1, 2}) {
      std::array<std::int32_t, 3> switches = {-1000, -1000, -1000};
      switches[static_cast<std::size_t>(axis)] = -40;
      startOn(wiring, switches);
      home(static_cast<char>('x' + axis));
      // The search stops at -40, where the switch closes; it releases one step later at -39.
      EXPECT_EQ(board->position(axis), -39 + kRefOffset)
          << "axis " << axis << " wiring " << int(wiring.wiring) << " polarity "
          << int(wiring.polarity);
      EXPECT_EQ(board->lostSteps(), 0U);
    }
  }
}

TEST_F(ReferenceRun, FreesAllThreeAxesFirstWhenTheInputIsActiveAtEntry) {
  startOn({platform::SimWiring::single, platform::SimPolarity::high}, {10, -1000, -1000});
  home('x');
  EXPECT_EQ(board->position(1), 11) << "the release moves every axis until x lets go";
  EXPECT_EQ(board->position(2), 11);
  EXPECT_EQ(board->position(0), 11 + kRefOffset);
}

TEST_F(ReferenceRun, TakesEitherCaseAndANegativeOffsetGoesBackPastTheSwitch) {
  startOn({platform::SimWiring::single, platform::SimPolarity::high}, {-1000, -1000, -20});
  home('Z', -30);
  EXPECT_EQ(board->position(2), -19 - 30);
}

TEST_F(ReferenceRun, AnUnknownAxisMovesNothingAndRestoresTheStopFlag) {
  startOn({platform::SimWiring::single, platform::SimPolarity::high}, {-40, -1000, -1000});
  for (const char axis : {'q', static_cast<char>(0xF8)}) {
    home(axis);
    EXPECT_THAT(
        (std::array<std::int64_t, 3>{board->position(0), board->position(1), board->position(2)}),
        ElementsAre(0, 0, 0));
    EXPECT_EQ(lpt::LptState.stopOnInput, 1);
  }
}

TEST_F(ReferenceRun, LeavesTheStopFlagsAsItFoundThem) {
  startOn({platform::SimWiring::single, platform::SimPolarity::high}, {-40, -1000, -1000});
  lpt::SetStopOnInput(0);
  home('x');
  EXPECT_EQ(lpt::LptState.stopOnInput, 0);
  EXPECT_EQ(lpt::LptState.stopWhenActive, 0);
  EXPECT_EQ(lpt::LptState.stopWhenInactive, 0);
  EXPECT_EQ(board->position(0), -39 + kRefOffset);
}

TEST_F(ReferenceRun, WithoutAStepModeItStillPausesAndRestoresTheStopFlag) {
  useBoard(platform::SimConfig{});
  ASSERT_TRUE(lpt::LptOpen());
  ASSERT_TRUE(lpt::TimerOpen());
  lpt::SetPortAddress("0xdf88");
  lpt::SetRefInput(1, 1);
  recorder->accesses.clear();
  home('y');
  EXPECT_THAT(boxes, ElementsAre("Schrittbetrieb einstellen!", "Schrittbetrieb einstellen!",
                                 "Schrittbetrieb einstellen!"));
  EXPECT_TRUE(recorder->writesTo(kBase).empty());
  // Two looks at the input (entry, before the axis's release), then the search, back-off and
  // exit pauses of 501 slices each, with the input inactive: thirty status reads apiece.
  EXPECT_EQ(recorder->readsOf(kBase + 1), 30U * (2 + 3 * 501));
  EXPECT_EQ(lpt::LptState.stopOnInput, 1);
}

} // namespace
} // namespace kdx620::test
