// sim_board.h - a model of the controller board on the PC's parallel port: latches, motors,
// clock/direction decoder, reference switches, E1 and pin 14, as the driver's registers see them.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace platform {

inline constexpr int kAxes = 3; // x, y, z

enum class SimWiring : std::uint8_t {
  single, // every switch on status line 7 (pin 11)
  three,  // x on line 6 (pin 10), y on line 7 (pin 11), z on line 5 (pin 12)
};
enum class SimPolarity : std::uint8_t { high, low }; // level an active switch drives its pin to
enum class SimDrive : std::uint8_t {
  phase,    // motors follow the latched phase patterns
  clockdir, // motors follow the clock/direction lines on the data register
};

struct SimConfig {
  std::uint16_t base = 0xdf88;
  std::array<std::int32_t, kAxes> switchPosition = {-1000, -1000, -1000};
  SimWiring wiring = SimWiring::single;
  SimPolarity polarity = SimPolarity::high;
  bool e1 = true;
  SimDrive drive = SimDrive::phase;
  std::string logFile; // where the sim backend writes the board's log; empty: no log
};

// Parses "key=value,key=value" (keys base, switch.x, switch.y, switch.z, wiring, polarity,
// e1, drive, log); unknown keys and bad values give an error text naming them.
std::variant<SimConfig, std::string> parseSimConfig(std::string_view text);

// One stepper motor fed with six-bit phase patterns (winding 1 in bits 0-2, winding 2 in
// bits 3-5; per winding the top bit is the current's direction, the two lower bits its level,
// 11 meaning no current). The winding directions give one of eight electrical positions, one
// half-step apart; the rotor follows a change of one or two half-steps, and a larger jump is a
// lost step. A pattern without current leaves the rotor free where it stands.
class SimMotor {
public:
  void apply(std::uint8_t pattern);

  std::int64_t position() const { return position_; } // half-steps from the start
  std::uint32_t lostSteps() const { return lostSteps_; }
  bool energized() const { return energized_; }
  // Level code of a winding (0 full, 1 the 60 % level, 2 the 20 % level, 3 none).
  std::uint8_t windingLevel(int winding) const {
    return levels_[static_cast<std::size_t>(winding)];
  }

  // Electrical position 0-7 of a pattern, or -1 when neither winding carries current.
  static int electricalPosition(std::uint8_t pattern);

private:
  std::int64_t position_ = 0;
  int electrical_ = 0;
  bool referenced_ = false; // false until the first pattern with current
  bool energized_ = false;
  std::uint32_t lostSteps_ = 0;
  std::array<std::uint8_t, 2> levels_ = {3, 3};
};

// One event of the board's log, time-stamped in counter ticks.
struct SimEvent {
  enum class Kind : std::uint8_t { latch, clockEdge };
  std::int64_t ticks = 0;
  Kind kind = Kind::latch;
  std::uint8_t axis = 0;
  std::uint8_t value = 0; // latch: the six-bit pattern; clock edge: 1 forward, 0 backward
};

class SimBoard {
public:
  explicit SimBoard(SimConfig config = {});

  // Bus side, as the port backend sees the board.
  bool read(std::uint16_t address, std::uint8_t &value);
  void write(std::uint16_t address, std::uint8_t value);

  const SimConfig &config() const { return config_; }
  // Rewires the motors to follow the latches or the clock/direction lines, from now on.
  void setDrive(SimDrive drive) { config_.drive = drive; }

  // What the board did.
  std::uint8_t latch(int axis) const { return latches_[index(axis)]; }
  const SimMotor &motor(int axis) const { return motors_[index(axis)]; }
  // Clock edges counted in the direction lines' sense (clock/direction drive only).
  std::int64_t clockSteps(int axis) const { return clockSteps_[index(axis)]; }
  // The position that the axis's switch sees: the motor's (phase drive) or the clock count.
  std::int64_t position(int axis) const;
  std::uint32_t lostSteps() const;
  std::uint8_t dataRegister() const { return data_; }
  std::uint8_t controlRegister() const { return control_; }
  std::uint8_t statusRegister() const;
  bool pinHigh(int pin) const; // connector pins 1, 14, 16, 17 (outputs), 10-13, 15 (inputs)
  std::uint64_t latchCount() const { return latchCount_; }

  // Inputs; safe to change from another thread while the driver runs.
  void setSwitchPosition(int axis, std::int32_t position);
  std::int32_t switchPosition(int axis) const;
  bool switchActive(int axis) const;
  void setE1(bool high) { e1_.store(high, std::memory_order_relaxed); }
  bool e1() const { return e1_.load(std::memory_order_relaxed); }

  // Fault injection: every k-th read fails (0 = none), or reads fail as a repeating pattern
  // says from the next read on (true = this read fails). Setting one clears the other.
  void failEveryNthRead(std::uint32_t k);
  void failReadsByPattern(std::vector<bool> pattern);
  std::uint64_t reads() const { return reads_; }
  std::uint64_t failedReads() const { return failedReads_; }

  // Log of latched bytes and clock edges: a ring of the latest `capacity` events (0 = off),
  // allocated here so that logging never allocates while a move runs.
  void enableLog(std::size_t capacity);
  std::vector<SimEvent> log() const;
  std::uint64_t loggedEvents() const { return logged_; }
  void clearLog();
  // Where time stamps come from; the counter's peek() by default.
  void setTimeSource(std::function<std::int64_t()> source) { timeSource_ = std::move(source); }

private:
  static std::size_t index(int axis) { return static_cast<std::size_t>(axis); }
  bool readFails();
  void writeData(std::uint8_t value);
  void writeControl(std::uint8_t value);
  void record(SimEvent::Kind kind, int axis, std::uint8_t value);
  bool referenceLineActive(int statusBit) const;

  SimConfig config_;
  std::uint8_t data_ = 0;
  std::uint8_t control_ = 0;
  std::array<std::uint8_t, kAxes> latches_{};
  std::array<SimMotor, kAxes> motors_{};
  std::array<std::int64_t, kAxes> clockSteps_{};
  std::uint64_t latchCount_ = 0;

  std::array<std::atomic<std::int32_t>, kAxes> switchPosition_{};
  std::atomic<bool> e1_{true};

  std::uint32_t failEvery_ = 0;
  std::vector<bool> failPattern_;
  std::uint64_t patternStart_ = 0;
  std::uint64_t reads_ = 0;
  std::uint64_t failedReads_ = 0;

  std::vector<SimEvent> ring_;
  std::uint64_t logged_ = 0;
  std::function<std::int64_t()> timeSource_;
};

// Events a board keeps for its log file: far more than an operator's session makes, and
// 16 MiB of memory.
inline constexpr std::size_t kSimLogFileEvents = std::size_t{1} << 20;

// The board's log as text: a heading, a line per event with its time in microseconds since
// the first ("12.5 latch x 2d", "40.0 clock y backward"), then the board's state.
std::string simLogText(const SimBoard &board);

} // namespace platform
