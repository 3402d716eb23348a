// lpt.h - the controller driver: process-wide state, port primitives, step patterns,
// holding current and the diagnostic trace. Plain functions over process-wide state; the
// window's thread configures, the motion worker moves, never both at once, so nothing locks.
#pragma once

#include <atomic>
#include <cstdint>
#include <fstream>
#include <type_traits>

namespace lpt {

// Axis indices into phaseIndex, clockBit and dirBit.
enum Axis : std::uint8_t { xAxis = 0, yAxis = 1, zAxis = 2 };

// Axis select bits 6-7 of the latch byte: 00 x, 01 y, 10 z (11 addresses no latch).
inline constexpr std::uint32_t kAxisSelect[3] = {0x00, 0x40, 0x80};

// The driver state record: ten one-byte switches and indices. A switch is on when non-zero;
// setters store the byte they are given.
struct LptStateRecord {
  std::uint8_t traceOn;
  std::uint8_t schrittbetriebSet; // a step mode has been configured
  std::uint8_t stopOnInput;       // a move ends after a step that sees the input active
  std::uint8_t stopWhenActive;    // as stopOnInput, set by the reference run
  std::uint8_t stopWhenInactive;  // a move ends after a step that sees the input inactive
  std::uint8_t refSingleInput;    // on: status line 7 alone; off: lines 5, 6 and 7
  std::uint8_t refHighActive;     // polarity of the reference input
  std::uint8_t phaseIndex[3];     // x, y, z position in the phase tables
};
static_assert(sizeof(LptStateRecord) == 10);

extern LptStateRecord LptState;

// Register addresses: base, base + 1, base + 2 (16-bit arithmetic). 0 until SetPortAddress.
extern std::uint16_t portData;
extern std::uint16_t portStatus;
extern std::uint16_t portControl;

extern std::uint32_t portValue;       // every port read lands here
extern std::uint32_t lastOutValue;    // the latch byte last handed to WriteLatched
extern std::int64_t counterFrequency; // counter ticks per second, set by TimerOpen

// Phase tables of the step mode in force (all 0 until SetSchrittbetrieb), and the
// clock/direction masks of the data register.
extern std::uint8_t maxPhase;
extern std::uint32_t runPattern[8];
extern std::uint32_t holdPattern[8];
extern std::uint32_t clockBit[3];
extern std::uint32_t dirBit[3];

// Port access, counter, registers.
bool LptOpen();
void LptClose();
bool TimerOpen();
void SetPortAddress(const char *text);
void SetRefInput(std::uint8_t singleLine, std::uint8_t highActive);
void SetStopOnInput(std::uint8_t on);
void SetControlBit(std::int32_t mask, std::int32_t level);
void SetDataBits(std::uint32_t mask, std::uint32_t on);
bool SampleStatusBit(std::int32_t mask);
void WaitTicks(std::int32_t ticks);
void WriteLatched(std::uint32_t value);

// Step patterns and holding current.
void SetAxisBits(std::uint8_t variant);
void SetSchrittbetrieb(std::int32_t stepMode, std::int32_t level);
void OutputRuhestrom(std::uint8_t zFlag);

// Switch inputs and waits.
bool RefInputActive();
void WaitForE1(std::uint8_t enabled);
void WaitInputSettle(std::int32_t count);

// One axis of a vector move: its direction and the magnitude of its step count.
struct AxisMotion {
  Axis axis;
  bool forward;
  std::uint32_t count;
};

// A vector move prepared for stepping: the lead axis steps every period, the second and third
// when their accumulators overflow; frequencies and ramp clamped, the ramp computed.
// When leadCount is 0 nothing past the axes is filled in.
struct VektorPlan {
  AxisMotion lead;
  AxisMotion second;
  AxisMotion third;
  std::uint32_t leadCount; // N
  std::int32_t startFreq;
  std::int32_t arbeitsFreq;
  std::int32_t rampenLaenge;
  std::uint32_t rampSteps;
  double Steilheit;
};

VektorPlan PlanVektorfahrt(std::int32_t xStep, std::int32_t yStep, std::int32_t zStep,
                           std::int32_t startFreq, std::int32_t arbeitsFreq,
                           std::int32_t rampenLaenge);
// The frequency of the step after the one that left `SAkku` lead steps to go.
double NextStepFrequency(const VektorPlan &plan, std::uint32_t SAkku, double aktFreq);
// Counter ticks of one step at `aktFreq`.
std::int32_t StepPeriod(double aktFreq);

// Calls visit(aktFreq) for every lead step the plan makes when nothing stops it, in order; a
// visitor that returns bool ends the walk by returning false.
template <typename Visit> void ForEachPlannedStep(const VektorPlan &plan, Visit visit) {
  double aktFreq = plan.startFreq;
  for (std::uint32_t SAkku = plan.leadCount; SAkku > 0;) {
    if constexpr (std::is_same_v<decltype(visit(aktFreq)), bool>) {
      if (!visit(aktFreq)) {
        return;
      }
    } else {
      visit(aktFreq);
    }
    --SAkku;
    aktFreq = NextStepFrequency(plan, SAkku, aktFreq);
  }
}

// An operator's request to end a running move early, for tools that offer one (the window
// offers none; unused, it changes nothing). Async-signal-safe.
enum class StopRequest : int { none = 0, rampDown = 1, now = 2 };
void RequestStop(StopRequest request);
StopRequest PendingStop();
void ClearStopRequest();

// What the vector moves since the last ResetMoveReport did; read once they are over.
struct MoveReport {
  std::int64_t axisSteps[3]; // steps made per axis, negative backward
  std::uint32_t lateSteps;   // lead steps that began more than 10 us after their planned time
  std::int64_t maxLateTicks; // the largest such delay, in counter ticks
  bool stoppedByOperator;
  bool stoppedByInput; // a stop flag's condition on the reference input ended a move
};
void ResetMoveReport();
const MoveReport &LastMoveReport();

// The move under way, for a progress display on another thread.
struct MoveProgress {
  std::atomic<std::uint32_t> leadCount{0};
  std::atomic<std::uint32_t> leadStepsDone{0};
  std::atomic<double> aktFreq{0.0};
};
extern MoveProgress moveProgress;

// Moves the three axes together by their signed step counts. Returns 0, or 1 when an
// operator's stop request ended it (which also ends a reference run's further moves).
std::uint8_t Vektorfahrt(std::uint8_t outputMode, std::int32_t xStep, std::int32_t yStep,
                         std::int32_t zStep, std::int32_t startFreq, std::int32_t arbeitsFreq,
                         std::int32_t rampenLaenge);
// Homes one axis ('x', 'y', 'z', either case) against the reference switch.
void Referenzfahrt(std::uint8_t outputMode, char axis, std::int32_t refOffset,
                   std::int32_t startFreq, std::int32_t refFreq, std::int32_t rampenLaenge);

// Diagnostic trace: "ausgabe.txt" in the current directory, written only while traceOn is on.
extern std::ofstream traceStream;
extern char traceLine[80];
// Line end of the trace: a line feed, then a flush, so each line is on disk once written.
std::ostream &traceEndl(std::ostream &stream);

} // namespace lpt
