// lpt.h - the controller driver: process-wide state, port primitives, step patterns,
// holding current and the diagnostic trace. Plain functions over process-wide state; the
// window's thread configures, the motion worker moves, never both at once, so nothing locks.
#pragma once

#include <cstdint>
#include <fstream>

namespace lpt {

// Axis indices into phaseIndex, clockBit and dirBit.
enum Axis : std::uint8_t { xAxis = 0, yAxis = 1, zAxis = 2 };

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

// Diagnostic trace: "ausgabe.txt" in the current directory, written only while traceOn is on.
extern std::ofstream traceStream;
extern char traceLine[80];
// Line end of the trace: a line feed, then a flush, so each line is on disk once written.
std::ostream &traceEndl(std::ostream &stream);

} // namespace lpt
