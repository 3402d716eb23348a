// sim_board.cpp - the simulated controller board: a model that moves motors and switches.
#include "sim_board.h"

#include "counter.h"

#include <algorithm>
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace platform {
namespace {

// Register offsets from the base address.
constexpr std::uint16_t kData = 0;
constexpr std::uint16_t kStatus = 1;
constexpr std::uint16_t kControl = 2;

constexpr std::uint8_t kStrobe = 0x01;         // control bit 0, pin 1
constexpr std::uint8_t kLevelNone = 0b11;      // level bits of a winding without current
constexpr std::uint8_t kReservedStatus = 0x07; // status bits 0-2 read high (pulled up)

// Data bits of the clock/direction decoder, per axis.
constexpr std::array<std::uint8_t, kAxes> kClockLine = {0x02, 0x08, 0x20};
constexpr std::array<std::uint8_t, kAxes> kDirectionLine = {0x01, 0x04, 0x10};

// Electrical positions by the sign of the current in winding 1 and winding 2
// (-1, 0, +1 each): a rotating vector, one half-step per position.
//   w1 \ w2   -   0   +
//     -       5   6   7
//     0       4   -   0
//     +       3   2   1
constexpr int kElectrical[3][3] = {{5, 6, 7}, {4, -1, 0}, {3, 2, 1}};

int windingSign(std::uint8_t group) {
  if ((group & kLevelNone) == kLevelNone) {
    return 0;
  }
  return (group & 0b100) ? 1 : -1;
}

// Shortest signed distance from electrical position `from` to `to`, in -3 .. 4.
int electricalDelta(int from, int to) {
  int delta = (to - from + 8) % 8;
  return delta > 4 ? delta - 8 : delta;
}

std::string trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) {
    return {};
  }
  const auto last = text.find_last_not_of(" \t");
  return std::string(text.substr(first, last - first + 1));
}

bool parseInteger(const std::string &text, long long &value, int base) {
  const char *begin = text.data();
  const char *end = text.data() + text.size();
  bool negative = false;
  if (begin != end && (*begin == '-' || *begin == '+')) {
    negative = *begin == '-';
    ++begin;
  }
  if (base == 16 && end - begin > 2 && begin[0] == '0' && (begin[1] == 'x' || begin[1] == 'X')) {
    begin += 2;
  }
  unsigned long long magnitude = 0;
  const auto [rest, error] = std::from_chars(begin, end, magnitude, base);
  if (error != std::errc() || rest != end || begin == end || magnitude > (1ULL << 62)) {
    return false;
  }
  value = negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
  return true;
}

constexpr const char *kAxisNames[kAxes] = {"x", "y", "z"};

// printf into a string, for the log's short lines.
[[gnu::format(printf, 1, 2)]] std::string formatted(const char *format, ...) {
  char line[128];
  va_list values;
  va_start(values, format);
  std::vsnprintf(line, sizeof line, format, values);
  va_end(values);
  return line;
}

std::string badValue(const std::string &key, const std::string &value, std::string_view expected) {
  return "KDX620_SIM: bad value \"" + value + "\" for " + key + " (expected " +
         std::string(expected) + ")";
}

// Applies one key=value pair to `config`; returns an error text or an empty string.
std::string applySetting(SimConfig &config, const std::string &key, const std::string &value) {
  long long number = 0;
  if (key == "base") {
    if (!parseInteger(value, number, 16) || number < 0 || number > 0xFFFF) {
      return badValue(key, value, "a hexadecimal address up to 0xffff");
    }
    config.base = static_cast<std::uint16_t>(number);
  } else if (key == "switch.x" || key == "switch.y" || key == "switch.z") {
    if (!parseInteger(value, number, 10) || number < INT32_MIN || number > INT32_MAX) {
      return badValue(key, value, "a signed 32-bit position in half-steps");
    }
    config.switchPosition[static_cast<std::size_t>(key.back() - 'x')] =
        static_cast<std::int32_t>(number);
  } else if (key == "wiring") {
    if (value != "single" && value != "three") {
      return badValue(key, value, "single or three");
    }
    config.wiring = value == "single" ? SimWiring::single : SimWiring::three;
  } else if (key == "polarity") {
    if (value != "high" && value != "low") {
      return badValue(key, value, "high or low");
    }
    config.polarity = value == "high" ? SimPolarity::high : SimPolarity::low;
  } else if (key == "e1") {
    if (value != "0" && value != "1") {
      return badValue(key, value, "0 or 1");
    }
    config.e1 = value == "1";
  } else if (key == "drive") {
    if (value != "phase" && value != "clockdir") {
      return badValue(key, value, "phase or clockdir");
    }
    config.drive = value == "phase" ? SimDrive::phase : SimDrive::clockdir;
  } else if (key == "log") {
    if (value.empty()) {
      return badValue(key, value, "a file name");
    }
    config.logFile = value;
  } else {
    return "KDX620_SIM: unknown key \"" + key +
           "\" (known: base, switch.x, switch.y, switch.z, wiring, polarity, e1, drive, log)";
  }
  return {};
}

} // namespace

std::variant<SimConfig, std::string> parseSimConfig(std::string_view text) {
  SimConfig config;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    const std::string item = trimmed(text.substr(start, comma - start));
    start = comma + 1;
    if (item.empty()) {
      continue;
    }
    const std::size_t equals = item.find('=');
    if (equals == std::string::npos) {
      return "KDX620_SIM: \"" + item + "\" is not key=value";
    }
    const std::string error =
        applySetting(config, trimmed(item.substr(0, equals)), trimmed(item.substr(equals + 1)));
    if (!error.empty()) {
      return error;
    }
  }
  return config;
}

int SimMotor::electricalPosition(std::uint8_t pattern) {
  const int winding1 = windingSign(pattern & 0x07);
  const int winding2 = windingSign(static_cast<std::uint8_t>((pattern >> 3) & 0x07));
  return kElectrical[winding1 + 1][winding2 + 1];
}

void SimMotor::apply(std::uint8_t pattern) {
  levels_ = {static_cast<std::uint8_t>(pattern & kLevelNone),
             static_cast<std::uint8_t>((pattern >> 3) & kLevelNone)};
  const int target = electricalPosition(pattern);
  energized_ = target >= 0;
  if (!energized_) {
    return; // free: the rotor stays where it stands, aligned with its last position
  }
  if (!referenced_) {
    referenced_ = true; // the first current only tells us where the rotor is
    electrical_ = target;
    return;
  }
  const int delta = electricalDelta(electrical_, target);
  if (delta >= -2 && delta <= 2) {
    position_ += delta;
  } else {
    // Too far to follow: the rotor loses the step. It is pulled the short way round,
    // and stays put on a reversal (delta 4), where no way round is shorter.
    ++lostSteps_;
    position_ += delta == 4 ? 0 : delta;
  }
  electrical_ = target;
}

SimBoard::SimBoard(SimConfig config)
    : config_(std::move(config)), timeSource_([] { return counter().peek(); }) {
  for (int axis = 0; axis < kAxes; ++axis) {
    setSwitchPosition(axis, config_.switchPosition[index(axis)]);
  }
  e1_.store(config_.e1);
}

bool SimBoard::readFails() {
  const std::uint64_t number = reads_++;
  bool fails = false;
  if (failEvery_ != 0) {
    fails = (number + 1) % failEvery_ == 0;
  } else if (!failPattern_.empty()) {
    fails = failPattern_[(number - patternStart_) % failPattern_.size()];
  }
  failedReads_ += fails ? 1 : 0;
  return fails;
}

bool SimBoard::read(std::uint16_t address, std::uint8_t &value) {
  if (readFails()) {
    return false;
  }
  switch (static_cast<std::uint16_t>(address - config_.base)) {
  case kData:
    value = data_;
    break;
  case kStatus:
    value = statusRegister();
    break;
  case kControl:
    value = control_;
    break;
  default:
    value = 0xFF; // nothing drives the bus there
  }
  return true;
}

void SimBoard::write(std::uint16_t address, std::uint8_t value) {
  switch (static_cast<std::uint16_t>(address - config_.base)) {
  case kData:
    writeData(value);
    break;
  case kControl:
    writeControl(value);
    break;
  default:
    break; // the status register and foreign addresses take no writes
  }
}

void SimBoard::writeData(std::uint8_t value) {
  const std::uint8_t before = data_;
  data_ = value;
  if (config_.drive != SimDrive::clockdir) {
    return; // latch bytes on the data lines are no clocks
  }
  for (int axis = 0; axis < kAxes; ++axis) {
    const std::uint8_t clock = kClockLine[index(axis)];
    if ((before & clock) == 0 && (value & clock) != 0) {
      const bool forward = (value & kDirectionLine[index(axis)]) != 0;
      clockSteps_[index(axis)] += forward ? 1 : -1;
      record(SimEvent::Kind::clockEdge, axis, forward ? 1 : 0);
    }
  }
}

void SimBoard::writeControl(std::uint8_t value) {
  const bool strobeRises = (control_ & kStrobe) == 0 && (value & kStrobe) != 0;
  control_ = value;
  if (!strobeRises) {
    return;
  }
  const int axis = data_ >> 6;
  if (axis >= kAxes) {
    return; // select 11 addresses no latch
  }
  const auto pattern = static_cast<std::uint8_t>(data_ & 0x3F);
  latches_[index(axis)] = pattern;
  motors_[index(axis)].apply(pattern);
  ++latchCount_;
  record(SimEvent::Kind::latch, axis, pattern);
}

std::int64_t SimBoard::position(int axis) const {
  return config_.drive == SimDrive::phase ? motors_[index(axis)].position()
                                          : clockSteps_[index(axis)];
}

std::uint32_t SimBoard::lostSteps() const {
  std::uint32_t lost = 0;
  for (const auto &motor : motors_) {
    lost += motor.lostSteps();
  }
  return lost;
}

void SimBoard::setSwitchPosition(int axis, std::int32_t position) {
  switchPosition_[index(axis)].store(position, std::memory_order_relaxed);
}

std::int32_t SimBoard::switchPosition(int axis) const {
  return switchPosition_[index(axis)].load(std::memory_order_relaxed);
}

bool SimBoard::switchActive(int axis) const {
  return position(axis) <= switchPosition(axis);
}

// Whether the switch (or switches) wired to a reference status line is active.
bool SimBoard::referenceLineActive(int statusBit) const {
  if (config_.wiring == SimWiring::single) {
    return statusBit == 7 && (switchActive(0) || switchActive(1) || switchActive(2));
  }
  switch (statusBit) {
  case 6:
    return switchActive(0);
  case 7:
    return switchActive(1);
  case 5:
    return switchActive(2);
  default:
    return false;
  }
}

bool SimBoard::pinHigh(int pin) const {
  const bool highActive = config_.polarity == SimPolarity::high;
  switch (pin) {
  case 1: // the port inverts control bits 0, 1 and 3 at their pins
    return (control_ & 0x01) == 0;
  case 14:
    return (control_ & 0x02) == 0;
  case 16:
    return (control_ & 0x04) != 0;
  case 17:
    return (control_ & 0x08) == 0;
  case 10:
    return referenceLineActive(6) == highActive;
  case 11:
    return referenceLineActive(7) == highActive;
  case 12:
    return referenceLineActive(5) == highActive;
  case 13:
    return e1();
  case 15:
    return true; // unconnected, pulled up
  default:
    return false;
  }
}

std::uint8_t SimBoard::statusRegister() const {
  unsigned status = kReservedStatus;
  status |= pinHigh(15) ? 0x08U : 0U;
  status |= pinHigh(13) ? 0x10U : 0U;
  status |= pinHigh(12) ? 0x20U : 0U;
  status |= pinHigh(10) ? 0x40U : 0U;
  status |= pinHigh(11) ? 0U : 0x80U; // the port inverts pin 11 into status bit 7
  return static_cast<std::uint8_t>(status);
}

void SimBoard::failEveryNthRead(std::uint32_t k) {
  failEvery_ = k;
  failPattern_.clear();
}

void SimBoard::failReadsByPattern(std::vector<bool> pattern) {
  failPattern_ = std::move(pattern);
  patternStart_ = reads_;
  failEvery_ = 0;
}

void SimBoard::enableLog(std::size_t capacity) {
  ring_.assign(capacity, SimEvent{});
  logged_ = 0;
}

void SimBoard::clearLog() {
  logged_ = 0;
}

void SimBoard::record(SimEvent::Kind kind, int axis, std::uint8_t value) {
  if (ring_.empty()) {
    return;
  }
  ring_[logged_ % ring_.size()] =
      SimEvent{timeSource_(), kind, static_cast<std::uint8_t>(axis), value};
  ++logged_;
}

std::vector<SimEvent> SimBoard::log() const {
  std::vector<SimEvent> events;
  if (ring_.empty()) {
    return events;
  }
  const std::uint64_t kept = std::min<std::uint64_t>(logged_, ring_.size());
  events.reserve(kept);
  for (std::uint64_t number = logged_ - kept; number < logged_; ++number) {
    events.push_back(ring_[number % ring_.size()]);
  }
  return events;
}

std::string simLogText(const SimBoard &board) {
  const std::vector<SimEvent> events = board.log();
  std::string text = formatted("# simulated board at 0x%04x: ", board.config().base);
  if (board.loggedEvents() > events.size()) {
    text += formatted("the last %zu of %llu events", events.size(),
                      static_cast<unsigned long long>(board.loggedEvents()));
  } else {
    text += formatted("%zu event%s", events.size(), events.size() == 1 ? "" : "s");
  }
  text += ", times in microseconds\n";
  std::int64_t ticksPerSecond = 0;
  const double ticksPerMicrosecond = queryCounterFrequency(ticksPerSecond) && ticksPerSecond > 0
                                         ? static_cast<double>(ticksPerSecond) / 1e6
                                         : 1.0;
  for (const SimEvent &event : events) {
    const double microseconds =
        static_cast<double>(event.ticks - events.front().ticks) / ticksPerMicrosecond;
    text += event.kind == SimEvent::Kind::latch
                ? formatted("%.1f latch %s %02x\n", microseconds, kAxisNames[event.axis],
                            static_cast<unsigned>(event.value))
                : formatted("%.1f clock %s %s\n", microseconds, kAxisNames[event.axis],
                            event.value != 0 ? "forward" : "backward");
  }
  text += formatted("# end: x=%lld y=%lld z=%lld lost=%u, latches %02x %02x %02x, pin 14 %s\n",
                    static_cast<long long>(board.position(0)),
                    static_cast<long long>(board.position(1)),
                    static_cast<long long>(board.position(2)), board.lostSteps(),
                    static_cast<unsigned>(board.latch(0)), static_cast<unsigned>(board.latch(1)),
                    static_cast<unsigned>(board.latch(2)), board.pinHigh(14) ? "high" : "low");
  return text;
}

} // namespace platform
