// sim_board_test.cpp - the simulated board moves its motors, decodes clocks and reads its lines
// back through the PC port's inversions.
#include "platform/sim_board.h"

#include "platform/counter.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <variant>

namespace {

using platform::SimBoard;
using platform::SimConfig;
using platform::SimMotor;

constexpr std::uint16_t kBase = 0xdf88;
constexpr std::array<std::uint8_t, 8> kHalfStep = {0x27, 0x2D, 0x1C, 0x0D, 0x03, 0x09, 0x38, 0x29};
constexpr std::array<std::uint8_t, 4> kFullStep = {0x04, 0x00, 0x20, 0x24};

// Latches `pattern` into `axis` the way a driver does: data, then a rising strobe.
void latch(SimBoard &board, int axis, std::uint8_t pattern) {
  board.write(kBase, static_cast<std::uint8_t>(pattern | (axis << 6)));
  board.write(kBase + 2, 0x01);
  board.write(kBase + 2, 0x00);
}

std::uint8_t status(SimBoard &board) {
  std::uint8_t value = 0;
  EXPECT_TRUE(board.read(kBase + 1, value));
  return value;
}

TEST(SimMotor, FollowsTheHalfStepTableOneHalfStepPerEntryBothWays) {
  SimMotor motor;
  for (int step = 0; step <= 16; ++step) {
    motor.apply(kHalfStep[static_cast<std::size_t>(step % 8)]);
  }
  EXPECT_EQ(motor.position(), 16); // the first pattern only references the rotor
  for (int step = 15; step >= 0; --step) {
    motor.apply(kHalfStep[static_cast<std::size_t>(step % 8)]);
  }
  EXPECT_EQ(motor.position(), 0);
  EXPECT_EQ(motor.lostSteps(), 0U);
}

TEST(SimMotor, FollowsTheFullStepTableTwoHalfStepsPerEntryBothWays) {
  SimMotor motor;
  for (int step = 0; step <= 8; ++step) {
    motor.apply(kFullStep[static_cast<std::size_t>(step % 4)]);
  }
  EXPECT_EQ(motor.position(), 16);
  for (int step = 7; step >= 0; --step) {
    motor.apply(kFullStep[static_cast<std::size_t>(step % 4)]);
  }
  EXPECT_EQ(motor.position(), 0);
  EXPECT_EQ(motor.lostSteps(), 0U);
}

TEST(SimMotor, FlagsAJumpOfMoreThanTwoHalfStepsAsALostStep) {
  SimMotor motor;
  motor.apply(kHalfStep[0]);
  motor.apply(kHalfStep[2]); // two half-steps: followed
  EXPECT_EQ(motor.lostSteps(), 0U);
  motor.apply(kHalfStep[5]); // three: lost
  EXPECT_EQ(motor.lostSteps(), 1U);
  motor.apply(kHalfStep[1]); // four, a reversal: lost
  EXPECT_EQ(motor.lostSteps(), 2U);
}

TEST(SimMotor, StandsFreeWithoutCurrentAndGoesOnFromWhereItStood) {
  SimMotor motor;
  motor.apply(0x3F); // no current at start: not yet referenced
  EXPECT_FALSE(motor.energized());
  motor.apply(kHalfStep[3]);
  EXPECT_EQ(motor.position(), 0);
  motor.apply(kHalfStep[4]);
  motor.apply(0x1B); // holding " 0%" at index 4: both windings off
  EXPECT_FALSE(motor.energized());
  EXPECT_EQ(motor.position(), 1);
  motor.apply(kHalfStep[5]);
  EXPECT_EQ(motor.position(), 2);
  EXPECT_TRUE(motor.energized());
}

TEST(SimMotor, HoldingPatternsKeepThePositionAndLowerTheLevel) {
  SimMotor motor;
  motor.apply(kHalfStep[1]);
  motor.apply(0x36); // index 1 at " 20%"
  EXPECT_EQ(motor.position(), 0);
  EXPECT_EQ(motor.windingLevel(0), 2);
  EXPECT_EQ(motor.windingLevel(1), 2);
}

TEST(SimBoard, LatchesOnTheRisingStrobeIntoTheSelectedAxis) {
  SimBoard board;
  board.write(kBase, 0x40 | 0x27);
  EXPECT_EQ(board.latch(1), 0) << "data alone latches nothing";
  board.write(kBase + 2, 0x01);
  EXPECT_EQ(board.latch(1), 0x27);
  board.write(kBase, 0x80 | 0x2D);
  board.write(kBase + 2, 0x01); // bit 0 stays 1: no edge
  EXPECT_EQ(board.latch(2), 0);
  board.write(kBase + 2, 0x00);
  board.write(kBase, 0xC0 | 0x1C); // select 11: no latch
  board.write(kBase + 2, 0x01);
  EXPECT_EQ(board.latchCount(), 1U);
  EXPECT_EQ(board.latch(0), 0);
}

TEST(SimBoard, ReadsTheStatusLinesThroughThePortInversions) {
  SimConfig config;
  config.wiring = platform::SimWiring::three;
  config.e1 = false;
  SimBoard board(config);
  board.setSwitchPosition(0, -10); // x inactive (position 0 > -10)
  board.setSwitchPosition(1, 5);   // y active
  board.setSwitchPosition(2, -10);
  // y on pin 11, high-active: the pin is high, and bit 7 reads it inverted as 0.
  EXPECT_EQ(status(board) & 0xF0, 0x00);
  board.setE1(true);
  board.setSwitchPosition(1, -10);
  board.setSwitchPosition(0, 0); // x active: pin 10, bit 6
  EXPECT_EQ(status(board) & 0xF0, 0x80 | 0x40 | 0x10);
  board.setSwitchPosition(0, -10);
  board.setSwitchPosition(2, 0); // z active: pin 12, bit 5
  EXPECT_EQ(status(board) & 0xF0, 0x80 | 0x20 | 0x10);
}

TEST(SimBoard, LowActiveSingleWiringPullsPin11LowForAnySwitch) {
  SimConfig config;
  config.polarity = platform::SimPolarity::low;
  SimBoard board(config);
  for (int axis = 0; axis < 3; ++axis) {
    board.setSwitchPosition(axis, -10);
  }
  EXPECT_TRUE(board.pinHigh(11));
  EXPECT_EQ(status(board) & 0x80, 0x00);
  board.setSwitchPosition(2, 0);
  EXPECT_FALSE(board.pinHigh(11));
  EXPECT_EQ(status(board) & 0x80, 0x80);
}

TEST(SimBoard, DrivesOutputPinsFromTheControlRegisterWithItsInversions) {
  SimBoard board;
  board.write(kBase + 2, 0x02);
  EXPECT_FALSE(board.pinHigh(14));
  EXPECT_TRUE(board.pinHigh(1));
  EXPECT_TRUE(board.pinHigh(17));
  EXPECT_FALSE(board.pinHigh(16));
  board.write(kBase + 2, 0x0D);
  EXPECT_TRUE(board.pinHigh(14));
  EXPECT_FALSE(board.pinHigh(1));
  EXPECT_FALSE(board.pinHigh(17));
  EXPECT_TRUE(board.pinHigh(16));
}

TEST(SimBoard, AnswersOnlyAtItsBaseAddress) {
  SimBoard board;
  std::uint8_t value = 0;
  ASSERT_TRUE(board.read(0x378, value));
  EXPECT_EQ(value, 0xFF);
  board.write(0x378, 0x27);
  board.write(0x37A, 0x01);
  EXPECT_EQ(board.latchCount(), 0U);
  EXPECT_EQ(board.dataRegister(), 0);
}

TEST(SimBoard, CountsRisingClockEdgesInTheDirectionLinesSense) {
  SimConfig config;
  config.drive = platform::SimDrive::clockdir;
  SimBoard board(config);
  board.write(kBase, 0x01);               // x direction forward
  board.write(kBase, 0x01 | 0x02);        // x clock up
  board.write(kBase, 0x01);               // down
  board.write(kBase, 0x01 | 0x02);        // up again
  board.write(kBase, 0x00);               // y direction backward, clocks down
  board.write(kBase, 0x08);               // y clock up
  board.write(kBase, 0x08 | 0x20 | 0x10); // z up, forward; y clock stays up
  EXPECT_EQ(board.clockSteps(0), 2);
  EXPECT_EQ(board.clockSteps(1), -1);
  EXPECT_EQ(board.clockSteps(2), 1);
  EXPECT_EQ(board.position(1), -1) << "clock/direction drive: the switch follows the clocks";
}

TEST(SimBoard, FailsReadsEveryKthOrByPattern) {
  SimBoard board;
  std::uint8_t value = 0;
  board.failEveryNthRead(3);
  std::string seen;
  for (int read = 0; read < 6; ++read) {
    seen += board.read(kBase + 1, value) ? '+' : '-';
  }
  EXPECT_EQ(seen, "++-++-");
  board.failReadsByPattern({true, false});
  seen.clear();
  for (int read = 0; read < 4; ++read) {
    seen += board.read(kBase + 1, value) ? '+' : '-';
  }
  EXPECT_EQ(seen, "-+-+");
  EXPECT_EQ(board.failedReads(), 4U);
}

TEST(SimBoard, KeepsOnlyTheLatestEventsInItsLog) {
  SimBoard board;
  std::int64_t now = 100;
  board.setTimeSource([&now] { return now++; });
  board.enableLog(2);
  latch(board, 0, kHalfStep[0]);
  latch(board, 0, kHalfStep[1]);
  latch(board, 1, kHalfStep[2]);
  const auto events = board.log();
  ASSERT_EQ(events.size(), 2U);
  EXPECT_EQ(events[0].value, kHalfStep[1]);
  EXPECT_EQ(events[1].axis, 1);
  EXPECT_EQ(events[1].ticks, 102);
  EXPECT_EQ(board.loggedEvents(), 3U);
}

// The log's text: times from the first event kept, latches and clock edges in their words,
// a heading that owns up to events no longer kept, and the board's state at the end.
TEST(SimBoard, WritesItsLogAsLinesWithMicrosecondsAndEndsWithItsState) {
  platform::FakeCounter counter{2'000'000}; // two ticks a microsecond
  platform::installCounter(&counter);
  SimBoard board;
  std::int64_t now = 1000;
  board.setTimeSource([&now] { return now += 5; });
  board.enableLog(3);
  latch(board, 0, kHalfStep[0]);
  latch(board, 2, kHalfStep[1]);
  board.setDrive(platform::SimDrive::clockdir);
  board.write(kBase, 0x00);
  board.write(kBase, 0x02);     // x's clock rises, its direction line low
  board.write(kBase, 0x0C);     // y's clock rises, its direction line high
  board.write(kBase + 2, 0x02); // pin 14 low
  const std::string text = platform::simLogText(board);
  platform::installCounter(nullptr);
  EXPECT_EQ(text, "# simulated board at 0xdf88: the last 3 of 4 events, times in microseconds\n"
                  "0.0 latch z 2d\n"
                  "2.5 clock x backward\n"
                  "5.0 clock y forward\n"
                  "# end: x=-1 y=1 z=0 lost=0, latches 27 00 2d, pin 14 low\n");
}

TEST(SimConfigParsing, ReadsEveryKey) {
  const auto parsed = platform::parseSimConfig(
      "base=0x378, "
      "switch.x=-5,switch.y=7,switch.z=0,wiring=three,polarity=low,e1=0,drive=clockdir,"
      "log=/tmp/board.log");
  ASSERT_TRUE(std::holds_alternative<SimConfig>(parsed)) << std::get<std::string>(parsed);
  const auto &config = std::get<SimConfig>(parsed);
  EXPECT_EQ(config.base, 0x378);
  EXPECT_EQ(config.switchPosition, (std::array<std::int32_t, 3>{-5, 7, 0}));
  EXPECT_EQ(config.wiring, platform::SimWiring::three);
  EXPECT_EQ(config.polarity, platform::SimPolarity::low);
  EXPECT_FALSE(config.e1);
  EXPECT_EQ(config.drive, platform::SimDrive::clockdir);
  EXPECT_EQ(config.logFile, "/tmp/board.log");
}

TEST(SimConfigParsing, DefaultsWhenEmpty) {
  const auto parsed = platform::parseSimConfig("");
  ASSERT_TRUE(std::holds_alternative<SimConfig>(parsed));
  const auto &config = std::get<SimConfig>(parsed);
  EXPECT_EQ(config.base, 0xdf88);
  EXPECT_EQ(config.switchPosition, (std::array<std::int32_t, 3>{-1000, -1000, -1000}));
  EXPECT_EQ(config.wiring, platform::SimWiring::single);
  EXPECT_EQ(config.polarity, platform::SimPolarity::high);
  EXPECT_TRUE(config.e1);
}

TEST(SimConfigParsing, NamesTheOffendingKeyOrValue) {
  const struct {
    const char *text;
    const char *named;
  } cases[] = {
      {"speed=3", "\"speed\""},
      {"base=0x10000", "\"0x10000\""},
      {"base=zz", "\"zz\""},
      {"switch.x=1.5", "\"1.5\""},
      {"switch.y=9999999999", "switch.y"},
      {"wiring=double", "\"double\""},
      {"polarity=HIGH", "polarity"},
      {"e1=2", "e1"},
      {"drive=fast", "drive"},
      {"wiring", "\"wiring\""},
      {"log=", "log"},
  };
  for (const auto &c : cases) {
    const auto parsed = platform::parseSimConfig(c.text);
    ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << c.text;
    EXPECT_NE(std::get<std::string>(parsed).find(c.named), std::string::npos)
        << c.text << " -> " << std::get<std::string>(parsed);
  }
}

} // namespace
