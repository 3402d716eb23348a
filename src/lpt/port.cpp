// port.cpp - driver state, port access, counter, and the register-level primitives every
// move is built from: latched write, read-modify-write of one mask, debounced status read,
// busy wait in counter ticks.
//
// Wire format. Data register (base): the latch byte, pattern in bits 0-5 and the axis in
// bits 6-7 (00 x, 01 y, 10 z), taken in on a strobe pulse on control bit 0; or, in the
// other output mode, a clock and a direction line per axis. Status register (base + 1):
// E1 on bit 4, the reference input on bits 5, 6 and 7. Control register (base + 2): the strobe
// on bit 0 and the operator's pin 14 on bit 1. The PC port inverts status bit 7 and control
// bits 0, 1 and 3 at their pins.
#include "hex_text.h"
#include "lpt.h"
#include "trace.h"

#include "platform/counter.h"
#include "platform/error_box.h"
#include "platform/port_io.h"

#include <string>

namespace lpt {

const std::uint8_t kTraceOnAtStart = KDX620_TRACE_DEFAULT; // set by the KDX620_TRACE option

LptStateRecord LptState = {KDX620_TRACE_DEFAULT, 0, 0, 0, 0, 0, 0, {0, 0, 0}};

std::uint16_t portData = 0;
std::uint16_t portStatus = 0;
std::uint16_t portControl = 0;

std::uint32_t portValue = 0;
std::uint32_t lastOutValue = 0;
std::int64_t counterFrequency = 0;

namespace {

constexpr std::uint32_t kStrobeBit = 0x01; // control bit 0: pin 1, inverted by the port
constexpr std::int32_t kSamplesPerRead = 10;
constexpr std::int32_t kHitsNeeded = 8;
constexpr std::int64_t kStrobeDivisor = 50000; // pulse of more than 1/50000 s = 20 us

// Writes the control register with `bit` set or cleared, when the register could be read.
void ChangeControlBit(std::uint32_t bit, bool set) {
  if (!platform::portRead(portControl, portValue)) {
    return;
  }
  platform::portWrite(portControl, set ? (portValue | bit) : (portValue & ~bit));
}

} // namespace

bool LptOpen() {
  if (!platform::portInitialize()) {
    std::string text = "InitializeWinIo() failed";
    if (const std::string &reason = platform::portStartFailure(); !reason.empty()) {
      text += "\n" + reason;
    }
    platform::showErrorBox(text);
    return false;
  }
  if (LptState.traceOn) {
    TraceOpen();
  }
  return true;
}

void LptClose() {
  platform::portShutdown();
  if (LptState.traceOn) {
    TraceClose();
  }
}

bool TimerOpen() {
  if (!platform::queryCounterFrequency(counterFrequency)) {
    platform::showErrorBox(
        "QueryPerformanceFrequency() failed.\nKein Performance Counter vorhanden!");
    return false;
  }
  return true;
}

void SetPortAddress(const char *text) {
  // Text without a number leaves the port where it was, rather than guessing an address.
  const std::optional<std::uint32_t> number = ParseHexNumber(text ? text : "");
  if (!number) {
    platform::showErrorBox(std::string("Keine gültige Portadresse: \"") + (text ? text : "") +
                           "\"");
    return;
  }
  portData = static_cast<std::uint16_t>(*number);
  portStatus = static_cast<std::uint16_t>(portData + 1);
  portControl = static_cast<std::uint16_t>(portData + 2);
  SetAxisBits(0);
  SetRefInput(0, 0);
  SetStopOnInput(1);
  platform::portWrite(portData, 0);
}

void SetRefInput(std::uint8_t singleLine, std::uint8_t highActive) {
  LptState.refSingleInput = singleLine;
  LptState.refHighActive = highActive;
}

void SetStopOnInput(std::uint8_t on) {
  LptState.stopOnInput = on;
}

void SetControlBit(std::int32_t mask, std::int32_t level) {
  if (mask != 1 && mask != 2 && mask != 4 && mask != 8) {
    platform::portRead(portControl, portValue); // read as for any mask, but nothing to write
    return;
  }
  // Level 0 sets the register bit: pins 1, 14 and 17 go low (inverted), pin 16 high.
  ChangeControlBit(static_cast<std::uint32_t>(mask), level == 0);
}

void SetDataBits(std::uint32_t mask, std::uint32_t on) {
  if (!platform::portRead(portData, portValue)) {
    return;
  }
  platform::portWrite(portData, on != 0 ? (portValue | mask) : (portValue & ~mask));
}

bool SampleStatusBit(std::int32_t mask) {
  const bool accepted =
      mask == 0x08 || mask == 0x10 || mask == 0x20 || mask == 0x40 || mask == 0x80;
  // Pin 11 reaches bit 7 inverted: a high pin reads 0 there.
  const std::uint32_t highReads = mask == 0x80 ? 0 : static_cast<std::uint32_t>(mask);
  std::int32_t hits = 0;
  for (std::int32_t sample = 0; sample < kSamplesPerRead; ++sample) {
    if (platform::portRead(portStatus, portValue) && accepted &&
        (portValue & static_cast<std::uint32_t>(mask)) == highReads) {
      ++hits;
    }
  }
  return hits >= kHitsNeeded;
}

void WaitTicks(std::int32_t ticks) {
  const std::int64_t start = platform::readCounter();
  while (platform::tickDifference(platform::readCounter(), start) <= ticks) {
  }
}

void WriteLatched(std::uint32_t value) {
  if (LptState.traceOn) {
    TraceValues("  OutValue: %d", static_cast<int>(value));
  }
  platform::portWrite(portData, value);
  ChangeControlBit(kStrobeBit, true); // pin 1 goes low: the board takes the byte
  WaitTicks(static_cast<std::int32_t>(counterFrequency / kStrobeDivisor));
  ChangeControlBit(kStrobeBit, false);
}

} // namespace lpt
