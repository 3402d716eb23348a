// port_test.cpp - port access, the register addresses and the register-level primitives.
#include "driver_fixture.h"

#include <gmock/gmock.h>

namespace kdx620::test {
namespace {

using ::testing::ElementsAre;
using Driver = DriverFixture;

TEST_F(Driver, SetPortAddressTakesTheBaseAndItsTwoNeighbours) {
  const struct {
    const char *text;
    std::uint16_t data, status, control;
  } cases[] = {
      {"0x378", 0x378, 0x379, 0x37A},
      {"378", 0x378, 0x379, 0x37A},
      {"0x12378", 0x2378, 0x2379, 0x237A}, // only the low 16 bits
      {"0xFFFF", 0xFFFF, 0x0000, 0x0001},  // 16-bit wrap
  };
  for (const auto &c : cases) {
    lpt::SetPortAddress(c.text);
    EXPECT_EQ(lpt::portData, c.data) << c.text;
    EXPECT_EQ(lpt::portStatus, c.status) << c.text;
    EXPECT_EQ(lpt::portControl, c.control) << c.text;
  }
  EXPECT_TRUE(boxes.empty());
}

TEST_F(Driver, SetPortAddressResetsInputsAndAxisBitsAndClearsOnlyTheDataRegister) {
  startUp();
  lpt::SetStopOnInput(0);
  lpt::SetControlBit(2, 1);
  const std::uint8_t controlBefore = board->controlRegister();
  const auto holdBefore =
      std::vector<std::uint32_t>(std::begin(lpt::holdPattern), std::end(lpt::holdPattern));
  recorder->accesses.clear();

  lpt::SetPortAddress("0xdf88");

  EXPECT_THAT(recorder->writesTo(kBase), ElementsAre(0));
  EXPECT_EQ(recorder->accesses.size(), 1U) << "one write, no read";
  EXPECT_EQ(board->controlRegister(), controlBefore);
  EXPECT_EQ(lpt::LptState.refSingleInput, 0);
  EXPECT_EQ(lpt::LptState.refHighActive, 0);
  EXPECT_EQ(lpt::LptState.stopOnInput, 1);
  EXPECT_EQ(lpt::LptState.schrittbetriebSet, 1);
  EXPECT_EQ(lpt::clockBit[0], 0x02U);
  EXPECT_EQ(std::vector<std::uint32_t>(std::begin(lpt::holdPattern), std::end(lpt::holdPattern)),
            holdBefore);
}

TEST_F(Driver, SetPortAddressWithoutANumberKeepsEverythingAndSaysSo) {
  startUp();
  lpt::SetRefInput(1, 1);
  lpt::SetStopOnInput(0);
  recorder->accesses.clear();

  for (const char *text : {"", "LPT", "  "}) {
    lpt::SetPortAddress(text);
  }

  EXPECT_EQ(lpt::portData, kBase);
  EXPECT_EQ(lpt::portControl, kBase + 2);
  EXPECT_EQ(lpt::LptState.refSingleInput, 1);
  EXPECT_EQ(lpt::LptState.stopOnInput, 0);
  EXPECT_TRUE(recorder->accesses.empty());
  ASSERT_EQ(boxes.size(), 3U);
  EXPECT_EQ(boxes[1], "Keine gültige Portadresse: \"LPT\"");
}

TEST_F(Driver, SetControlBitDrivesPin14AndLeavesTheOtherBits) {
  startUp();
  board->write(kBase + 2, 0x0C); // init and select lines set by someone else

  lpt::SetControlBit(2, 0);
  EXPECT_EQ(board->controlRegister(), 0x0E);
  EXPECT_FALSE(board->pinHigh(14));
  lpt::SetControlBit(2, 1);
  EXPECT_EQ(board->controlRegister(), 0x0C);
  EXPECT_TRUE(board->pinHigh(14));
  lpt::SetControlBit(4, 7); // any non-zero level clears; bit 2 is not inverted: pin 16 low
  EXPECT_EQ(board->controlRegister(), 0x08);
  EXPECT_FALSE(board->pinHigh(16));
}

TEST_F(Driver, SetControlBitWritesNothingForOtherMasksOrAFailedRead) {
  startUp();
  recorder->accesses.clear();
  lpt::SetControlBit(3, 0);
  lpt::SetControlBit(16, 0);
  board->failEveryNthRead(1);
  lpt::SetControlBit(2, 1);
  EXPECT_TRUE(recorder->writesTo(kBase + 2).empty());
  EXPECT_EQ(recorder->readsOf(kBase + 2), 3U);
}

TEST_F(Driver, SetDataBitsChangesOnlyItsMask) {
  startUp();
  board->write(kBase, 0x81);
  lpt::SetDataBits(0x12, 1);
  EXPECT_EQ(board->dataRegister(), 0x93);
  lpt::SetDataBits(0x101, 0); // only the low byte reaches the port
  EXPECT_EQ(board->dataRegister(), 0x92);
  board->failEveryNthRead(1);
  lpt::SetDataBits(0x0C, 1);
  EXPECT_EQ(board->dataRegister(), 0x92);
}

// Sets the status line of `mask` high on the board, for lines 4-7.
void driveLineHigh(platform::SimBoard &board, int mask) {
  if (mask == 0x10) {
    board.setE1(true);
  } else {
    board.setSwitchPosition(mask == 0x80 ? 1 : mask == 0x40 ? 0 : 2, 1000); // active, high-active
  }
}

TEST_F(Driver, SampleStatusBitWantsEightHitsOfTen) {
  platform::SimConfig config;
  config.wiring = platform::SimWiring::three;
  for (const int mask : {0x10, 0x20, 0x40, 0x80}) {
    useBoard(config);
    startUp();
    driveLineHigh(*board, mask);
    // Failed reads score nothing but count as samples.
    board->failReadsByPattern({true, true, false, false, false, false, false, false, false, false});
    EXPECT_TRUE(lpt::SampleStatusBit(mask)) << "8 hits, mask " << mask;
    board->failReadsByPattern({true, true, true, false, false, false, false, false, false, false});
    EXPECT_FALSE(lpt::SampleStatusBit(mask)) << "7 hits, mask " << mask;
  }
}

TEST_F(Driver, SampleStatusBitReadsTenTimesAndNeverScoresOtherMasks) {
  startUp();
  recorder->accesses.clear();
  // Status reads 0x9F here (switches inactive, E1 high): bit 0 would score if accepted.
  EXPECT_FALSE(lpt::SampleStatusBit(0x01));
  EXPECT_FALSE(lpt::SampleStatusBit(0x18));
  EXPECT_TRUE(lpt::SampleStatusBit(0x08));
  EXPECT_EQ(recorder->readsOf(kBase + 1), 30U);
  board->failEveryNthRead(1);
  EXPECT_FALSE(lpt::SampleStatusBit(0x08));
}

TEST_F(Driver, SampleStatusBit7ReportsPin11HighWhenTheBitReadsZero) {
  startUp();
  board->setSwitchPosition(0, -1000); // x at 0: inactive, pin 11 low, bit 7 reads 1
  EXPECT_FALSE(lpt::SampleStatusBit(0x80));
  board->setSwitchPosition(0, 0); // active: pin 11 high, bit 7 reads 0
  EXPECT_TRUE(lpt::SampleStatusBit(0x80));
}

TEST_F(Driver, WaitTicksLastsMoreThanItsCount) {
  ASSERT_TRUE(lpt::TimerOpen());
  const struct {
    std::int32_t ticks;
    std::int64_t reads;
  } cases[] = {{-5, 2}, {0, 2}, {1, 3}, {20, 22}};
  for (const auto &c : cases) {
    const std::int64_t before = counter.peek();
    lpt::WaitTicks(c.ticks);
    EXPECT_EQ(counter.peek() - before, c.reads) << c.ticks; // one tick per read
  }
}

TEST_F(Driver, WaitTicksSurvivesTheWrapOfTheLow32Bits) {
  platform::FakeCounter nearWrap(1'000'000, 1, 0xFFFFFFF0LL);
  platform::installCounter(&nearWrap);
  lpt::WaitTicks(100);
  EXPECT_EQ(nearWrap.peek() - 0xFFFFFFF0LL, 102);
}

TEST_F(Driver, WriteLatchedPutsTheByteOutAndStrobesItForMoreThan20Microseconds) {
  startUp();
  board->write(kBase + 2, 0x0A);
  recorder->accesses.clear();

  lpt::WriteLatched(0x77);

  EXPECT_EQ(board->latch(1), 0x37);
  EXPECT_EQ(board->dataRegister(), 0x77);
  EXPECT_THAT(recorder->writesTo(kBase + 2), ElementsAre(0x0B, 0x0A));
  std::vector<std::int64_t> strobeTimes;
  for (const auto &access : recorder->accesses) {
    if (access.kind == PortAccess::Kind::write && access.address == kBase + 2) {
      strobeTimes.push_back(access.ticks);
    }
  }
  ASSERT_EQ(strobeTimes.size(), 2U);
  EXPECT_GT(strobeTimes[1] - strobeTimes[0], kTicksPerSecond / 50000);
}

TEST_F(Driver, WriteLatchedStillWaitsAndEndsThePulseWhenTheFirstReadFails) {
  startUp();
  board->write(kBase + 2, 0x01); // a strobe left high
  recorder->accesses.clear();
  board->failReadsByPattern({true, false});
  lpt::WriteLatched(0x27);
  EXPECT_THAT(recorder->writesTo(kBase + 2), ElementsAre(0x00));
}

TEST_F(Driver, LptOpenReportsABackendThatCannotStart) {
  recorder->startFailure = "no /dev/parport0";
  EXPECT_FALSE(lpt::LptOpen());
  ASSERT_EQ(boxes.size(), 1U);
  EXPECT_EQ(boxes[0], "InitializeWinIo() failed\nno /dev/parport0");
}

TEST_F(Driver, LptCloseShutsThePortDownOnce) {
  ASSERT_TRUE(lpt::LptOpen());
  lpt::LptClose();
  EXPECT_EQ(recorder->stops, 1);
}

TEST_F(Driver, TimerOpenTakesTheCounterRateOrReportsItsAbsence) {
  ASSERT_TRUE(lpt::TimerOpen());
  EXPECT_EQ(lpt::counterFrequency, kTicksPerSecond);

  platform::FakeCounter none(0);
  platform::installCounter(&none);
  EXPECT_FALSE(lpt::TimerOpen());
  ASSERT_EQ(boxes.size(), 1U);
  EXPECT_EQ(boxes[0], "QueryPerformanceFrequency() failed.\nKein Performance Counter vorhanden!");
}

} // namespace
} // namespace kdx620::test
