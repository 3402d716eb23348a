// inputs_test.cpp - the reference input in every wiring and polarity, E1, and the settle wait.
#include "driver_fixture.h"

namespace kdx620::test {
namespace {

// Three-line wiring, high-active: x drives status line 6, y line 7, z line 5, each high
// while its switch is active. That lets a test set every line on its own.
class Inputs : public DriverFixture {
protected:
  void SetUp() override {
    platform::SimConfig config;
    config.wiring = platform::SimWiring::three;
    useBoard(config);
    startUp();
  }
  // Lines 6, 7 and 5 high or not.
  void setLines(bool line6, bool line7, bool line5) {
    board->setSwitchPosition(0, line6 ? 0 : -1);
    board->setSwitchPosition(1, line7 ? 0 : -1);
    board->setSwitchPosition(2, line5 ? 0 : -1);
  }
};

TEST_F(Inputs, RefInputActiveCombinesTheLinesAsTheModeSays) {
  const struct {
    std::uint8_t single, high;
    bool line6, line7, line5;
    bool active;
  } cases[] = {
      {1, 1, false, true, false, true},   {1, 1, true, false, true, false},
      {1, 0, false, false, false, true},  {1, 0, true, true, true, false},
      {0, 1, true, false, false, true},   {0, 1, false, false, true, true},
      {0, 1, false, false, false, false}, {0, 0, true, false, true, true},
      {0, 0, true, true, true, false},
  };
  for (const auto &c : cases) {
    lpt::SetRefInput(c.single, c.high);
    setLines(c.line6, c.line7, c.line5);
    EXPECT_EQ(lpt::RefInputActive(), c.active)
        << "single " << int(c.single) << " high " << int(c.high) << " lines " << c.line6 << c.line7
        << c.line5;
  }
}

TEST_F(Inputs, RefInputActiveAlwaysSamplesAllThreeLines) {
  lpt::SetRefInput(1, 1);
  recorder->accesses.clear();
  lpt::RefInputActive();
  EXPECT_EQ(recorder->readsOf(kBase + 1), 30U);
}

TEST_F(Inputs, Line7HighInOnlySevenOfTenSamplesCountsAsNotHigh) {
  lpt::SetRefInput(1, 0);
  setLines(false, true, false);
  EXPECT_FALSE(lpt::RefInputActive());
  std::vector<bool> failures(30, false);
  failures[10] = failures[11] = failures[12] = true; // three of line 7's samples
  board->failReadsByPattern(failures);
  EXPECT_TRUE(lpt::RefInputActive());
}

TEST_F(Inputs, EveryReadFailingMakesALowActiveInputActive) {
  setLines(false, false, false);
  board->failEveryNthRead(1);
  lpt::SetRefInput(0, 0);
  EXPECT_TRUE(lpt::RefInputActive());
  lpt::SetRefInput(1, 1);
  EXPECT_FALSE(lpt::RefInputActive());
}

TEST_F(Inputs, WaitForE1ReturnsAtOnceWhenNotAsked) {
  board->setE1(false);
  recorder->accesses.clear();
  lpt::WaitForE1(0);
  EXPECT_TRUE(recorder->accesses.empty());
}

TEST_F(Inputs, WaitForE1EndsOnE1OrOnTheReferenceInput) {
  lpt::SetRefInput(1, 1);
  const struct { bool e1, line7; } cases[] = {{true, false}, {false, true}};
  for (const auto &c : cases) {
    board->setE1(c.e1);
    setLines(false, c.line7, false);
    recorder->accesses.clear();
    lpt::WaitForE1(1);
    EXPECT_EQ(recorder->readsOf(kBase + 1), 40U) << "one pass: E1, then the reference input";
  }
}

TEST_F(Inputs, WaitForE1WaitsUntilE1Rises) {
  lpt::SetRefInput(1, 1);
  setLines(false, false, false);
  board->setE1(false);
  const std::size_t start = recorder->reads;
  recorder->onRead = [&](std::size_t reads) {
    if (reads - start == 400) {
      board->setE1(true);
    }
  };
  lpt::WaitForE1(1);
  EXPECT_GE(recorder->reads - start, 400U);
  EXPECT_LT(recorder->reads - start, 450U);
}

// Each slice ends with one RefInputActive, thirty status reads: count slices by them.
TEST_F(Inputs, WaitInputSettleWaitsCountPlusOneSlicesOrUntilActive) {
  lpt::SetRefInput(1, 1);
  const struct {
    std::int32_t count;
    bool active;
    std::size_t slices;
  } cases[] = {{0, false, 1}, {-3, false, 1}, {500, false, 501}, {500, true, 1}, {2, false, 3}};
  for (const auto &c : cases) {
    setLines(false, c.active, false);
    recorder->accesses.clear();
    const std::int64_t before = counter.peek();
    lpt::WaitInputSettle(c.count);
    EXPECT_EQ(recorder->readsOf(kBase + 1), 30 * c.slices) << c.count;
    EXPECT_GT(counter.peek() - before,
              static_cast<std::int64_t>(c.slices) * kTicksPerSecond / 1000);
  }
}

} // namespace
} // namespace kdx620::test
