// patterns.cpp - phase tables of half and full step, holding current, clock/direction masks.
//
// A pattern drives the two windings of one motor: winding 1 in bits 0-2, winding 2 in
// bits 3-5. Per winding the top bit is the current's direction and the two lower bits its
// level: 00 full (running current), 01 the " 60%" level, 10 the " 20%" level, 11 none.
//
//   half step      winding 1    winding 2    hold " 0%"  " 20%"  " 60%"
//   0  0x27        1 none       1 full       0x3F        0x37    0x2F
//   1  0x2D        1 60 %       1 60 %       0x3F        0x36    0x2D
//   2  0x1C        1 full       0 none       0x1F        0x1E    0x1D
//   3  0x0D        1 60 %       0 60 %       0x1F        0x16    0x0D
//   4  0x03        0 none       0 full       0x1B        0x13    0x0B
//   5  0x09        0 60 %       0 60 %       0x1B        0x12    0x09
//   6  0x38        0 full       1 none       0x3B        0x3A    0x39
//   7  0x29        0 60 %       1 60 %       0x3B        0x32    0x29
//
//   full step
//   0  0x04        1 full       0 full       0x1F        0x16    0x0D
//   1  0x00        0 full       0 full       0x1B        0x12    0x09
//   2  0x20        0 full       1 full       0x3B        0x32    0x29
//   3  0x24        1 full       1 full       0x3F        0x36    0x2D
//
// A holding pattern is the running pattern with the level of each winding that carries
// current replaced by the chosen level's code; direction bits stay.
#include "lpt.h"
#include "trace.h"

#include "platform/error_box.h"

#include <algorithm>
#include <array>

namespace lpt {

std::uint8_t maxPhase = 0;
std::uint32_t runPattern[8] = {};
std::uint32_t holdPattern[8] = {};
std::uint32_t clockBit[3] = {};
std::uint32_t dirBit[3] = {};

namespace {

struct StepModeTable {
  std::uint8_t maxPhase;
  std::array<std::uint32_t, 8> run;
  std::array<std::array<std::uint32_t, 8>, 3> hold; // by holding-current level 0, 1, 2
};

constexpr StepModeTable kHalfStep = {
    7,
    {0x27, 0x2D, 0x1C, 0x0D, 0x03, 0x09, 0x38, 0x29},
    {{{0x3F, 0x3F, 0x1F, 0x1F, 0x1B, 0x1B, 0x3B, 0x3B},
      {0x37, 0x36, 0x1E, 0x16, 0x13, 0x12, 0x3A, 0x32},
      {0x2F, 0x2D, 0x1D, 0x0D, 0x0B, 0x09, 0x39, 0x29}}},
};

constexpr StepModeTable kFullStep = {
    3,
    {0x04, 0x00, 0x20, 0x24, 0, 0, 0, 0},
    {{{0x1F, 0x1B, 0x3B, 0x3F, 0, 0, 0, 0},
      {0x16, 0x12, 0x32, 0x36, 0, 0, 0, 0},
      {0x0D, 0x09, 0x29, 0x2D, 0, 0, 0, 0}}},
};

void LoadStepMode(const StepModeTable &table, std::int32_t level) {
  maxPhase = table.maxPhase;
  std::copy(table.run.begin(), table.run.end(), runPattern);
  if (static_cast<std::uint32_t>(level) <= 2) {
    const auto &hold = table.hold[static_cast<std::size_t>(level)];
    std::copy(hold.begin(), hold.end(), holdPattern);
  } else {
    platform::showErrorBox("falscher Wert für Ruhestrom!");
  }
  LptState.schrittbetriebSet = 1;
}

void LatchHoldPattern(Axis axis) {
  // Indices stay within 0-7 (a step brings any index back to 0..maxPhase); the mask only
  // keeps a corrupted index from reading beyond the table.
  lastOutValue = holdPattern[LptState.phaseIndex[axis] & 7U] + kAxisSelect[axis];
  WriteLatched(lastOutValue);
}

} // namespace

void SetAxisBits(std::uint8_t variant) {
  // Each axis owns two adjacent data bits; the variant picks which of them is the clock.
  for (std::uint32_t axis = 0; axis < 3; ++axis) {
    const std::uint32_t lower = 1U << (2 * axis);
    const std::uint32_t higher = lower << 1;
    clockBit[axis] = variant == 0 ? higher : lower;
    dirBit[axis] = variant == 0 ? lower : higher;
  }
}

void SetSchrittbetrieb(std::int32_t stepMode, std::int32_t level) {
  std::fill(std::begin(runPattern), std::end(runPattern), 0U);
  std::fill(std::begin(holdPattern), std::end(holdPattern), 0U);
  switch (stepMode) {
  case 0:
    LoadStepMode(kHalfStep, level);
    break;
  case 1:
    LoadStepMode(kFullStep, level);
    break;
  default:
    platform::showErrorBox("falscher Wert für Schrittbetrieb!");
  }
}

void OutputRuhestrom(std::uint8_t zFlag) {
  if (LptState.traceOn) {
    TraceEmpty();
    TraceText("Stromabsenkung:");
  }
  LatchHoldPattern(xAxis);
  LatchHoldPattern(yAxis);
  if (zFlag != 0) {
    LatchHoldPattern(zAxis);
  }
}

} // namespace lpt
