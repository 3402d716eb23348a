// inputs.cpp - the reference input in its two wirings and polarities, and the waits on inputs.
//
//   refSingleInput  refHighActive  active when
//   on              on             status line 7 (pin 11) high
//   on              off            line 7 not high
//   off             on             any of lines 6, 7, 5 high
//   off             off            any of lines 6, 7, 5 not high
#include "lpt.h"

namespace lpt {
namespace {

constexpr std::int32_t kLine5 = 0x20; // pin 12
constexpr std::int32_t kLine6 = 0x40; // pin 10
constexpr std::int32_t kLine7 = 0x80; // pin 11
constexpr std::int32_t kE1 = 0x10;    // pin 13

} // namespace

bool RefInputActive() {
  // All three lines are sampled in every mode, so each call costs the same thirty reads.
  const bool line6 = SampleStatusBit(kLine6);
  const bool line7 = SampleStatusBit(kLine7);
  const bool line5 = SampleStatusBit(kLine5);
  if (LptState.refSingleInput) {
    return LptState.refHighActive ? line7 : !line7;
  }
  return LptState.refHighActive ? (line6 || line7 || line5) : (!line6 || !line7 || !line5);
}

void WaitForE1(std::uint8_t enabled) {
  if (enabled == 0) {
    return;
  }
  // No time limit; only an operator's stop request ends the wait otherwise.
  while (PendingStop() == StopRequest::none) {
    const bool e1High = SampleStatusBit(kE1);
    const bool referenceActive = RefInputActive();
    if (e1High || referenceActive) {
      return;
    }
  }
}

void WaitInputSettle(std::int32_t count) {
  const auto slice = static_cast<std::int32_t>(counterFrequency / 1000); // 1 ms of ticks
  for (;;) {
    WaitTicks(slice);
    const bool active = RefInputActive();
    if (count <= 0) {
      return;
    }
    --count;
    if (active) {
      return;
    }
  }
}

} // namespace lpt
