// commands.h - the operator's commands, as the window's controls and the command-line tool
// give them: each reads its values when it runs and calls the driver and the motion worker
// in a fixed order.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace commands {

// A numeric field's text as a decimal integer: leading white space, an optional sign, then
// digits up to the first other character; no digits give 0; the value wraps modulo 2^32.
// The whole text counts, however long.
std::int32_t ConvertField(std::string_view text);

// The text without the characters below 33 (blanks, control characters) at either end.
std::string TrimBlanks(std::string_view text);

// Port choice: 0 LPT1 (0x378), 1 LPT2 (0x278), 2 the free address; anything else does nothing.
void SelectPort(int item, std::string_view freeAddress);

// Step mode (0 half, 1 full) and holding current (0 " 0%", 1 " 20%", 2 " 60%", anything else
// counts as 1), then the holding patterns to the board.
void ApplySchrittbetrieb(int stepMode, int levelItem);

// Pin 14: level 0 "reset", 1 "set"; waits for E1 first when asked (a stop request ending the
// wait leaves the pin).
void SetOutputPin(bool waitForE1, int level);

// Reference input polarity from the "highaktiv" button: down means low-active.
void SetRefPolarity(bool buttonDown);

// The settings the window starts with; the command-line tool may choose others.
struct StartUpSettings {
  int portItem = 2; // the free address
  std::string freeAddress = "0xdf88";
  int stepMode = 0;  // half step
  int levelItem = 1; // " 20%"
  int outputLevel = 0;
  bool lowActive = false;
  bool threeReferenceLines = false; // status lines 5, 6 and 7 instead of line 7 alone
  // False for a board driven by clock and direction lines: latch bytes on its data lines would
  // be clock edges.
  bool latchHoldingPatterns = true;
};

// Opens port access and the counter (false, each reported, when either fails), then
// configures the board as the window's start-up does: port, step mode and holding patterns,
// pin 14, and the reference input (the window's is always the single line).
bool StartUp(const StartUpSettings &settings);

struct MoveFields {
  std::int32_t startFreq;
  std::int32_t arbeitsFreq;
  std::int32_t rampenLaenge;
  std::int32_t xStep;
  std::int32_t yStep;
  std::int32_t zStep;
};

struct RefFields {
  std::int32_t startFreq;
  std::int32_t rampenLaenge;
  std::int32_t refFreq;
  std::int32_t refOffset;
};

// The vector move: E1 first when asked, then the fields, the move on a worker, and the
// holding patterns. With clock/direction output (outputMode not 0) the clock lines are first
// brought low, so that the first step's clock rises, and no holding pattern is latched.
// A stop request pending after the wait skips the move. False only when no worker could be
// started.
bool Vektorfahrt(bool waitForE1, const std::function<MoveFields()> &readFields,
                 std::uint8_t outputMode = 0);

// One reference run of `axis`, with E1 first when asked and the holding patterns after, as for
// the vector move.
void RefFahrtAxis(bool waitForE1, char axis, const std::function<RefFields()> &readFields,
                  std::uint8_t outputMode = 0);

// Reference runs of z, then x, then y, each complete before the next; a stop request ends
// the sequence.
void ReferenzfahrtAll(bool waitForE1, const std::function<RefFields()> &readFields,
                      std::uint8_t outputMode = 0);

} // namespace commands
