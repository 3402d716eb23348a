// soak.cpp - random operator commands on fresh simulated boards, and a model of the board that
// predicts where every motor stands after each of them.
//
// The model knows only the tables of the wire format and the commands; it never reads the
// driver's variables. Per axis it keeps the phase index that the commanded steps reach (forward
// past the top wraps to 0; backward past 0, or from above the top, to the top) and a rotor that
// the latched patterns pull. A pattern pulls the rotor to the half-step entry whose winding
// currents point the same ways, so in half step a step moves it one half-step and in full step
// two. The same index names another entry in the other step mode: after a change of step mode
// the holding pattern and the first step move the rotor by what the two entries lie apart,
// which can be more than a motor follows.
//
// A reference run in the model is the driver's sequence of moves with their stop conditions:
// release all axes while the input is active, release the axis, search down until active, back
// off until inactive, then the offset. Where the axis has stepped since the last change of step
// mode and the input is inactive when the search starts, its end is checked against the plain
// homing rule as well: with u half-steps a step (1 in half step and on a clock/direction board,
// 2 in full step) the search stops at the first position at or below the switch, the back-off
// u later, and the offset adds offset x u.
#include "soak.h"

#include "lpt/lpt.h"
#include "lpt/lpt_testing.h"
#include "lptt/lptt.h"
#include "platform/counter.h"
#include "platform/error_box.h"
#include "platform/thread.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <deque>
#include <optional>
#include <random>
#include <string_view>
#include <variant>

namespace kdx620::soak {
namespace {

using platform::SimBoard;
using platform::SimConfig;

constexpr std::int32_t kSearchLimit = 5'000'000; // steps of a release or search move
constexpr std::int64_t kTicksPerSecond = 1'000'000;
constexpr std::int64_t kTicksPerRead = 25; // a step at 600/s waits 67 counter reads, a strobe 1
constexpr std::size_t kFailurePatternLength = 9973;
constexpr std::uint8_t kClockLines = 0x02 | 0x08 | 0x20; // x, y, z clocks as the port choice sets
constexpr std::size_t kRecentCommands = 6;

// The step tables of the wire format, written out here once more so that the model never reads
// the driver's own tables.
constexpr int kHalfStep = 0;
constexpr int kFullStep = 1;
struct StepTable {
  std::uint8_t maxPhase;
  std::array<std::uint8_t, 8> run;
  std::array<std::array<std::uint8_t, 8>, 3> hold; // by holding level 0 (" 0%"), 1, 2
};
constexpr std::array<StepTable, 2> kTables = {{
    {7,
     {0x27, 0x2D, 0x1C, 0x0D, 0x03, 0x09, 0x38, 0x29},
     {{{0x3F, 0x3F, 0x1F, 0x1F, 0x1B, 0x1B, 0x3B, 0x3B},
       {0x37, 0x36, 0x1E, 0x16, 0x13, 0x12, 0x3A, 0x32},
       {0x2F, 0x2D, 0x1D, 0x0D, 0x0B, 0x09, 0x39, 0x29}}}},
    {3,
     {0x04, 0x00, 0x20, 0x24, 0, 0, 0, 0},
     {{{0x1F, 0x1B, 0x3B, 0x3F, 0, 0, 0, 0},
       {0x16, 0x12, 0x32, 0x36, 0, 0, 0, 0},
       {0x0D, 0x09, 0x29, 0x2D, 0, 0, 0, 0}}}},
}};

// The way the current flows in one winding (three bits: direction, then two level bits, 11
// meaning none): +1, -1 or 0.
int CurrentIn(unsigned winding) {
  if ((winding & 3U) == 3U) {
    return 0;
  }
  return (winding & 4U) != 0 ? 1 : -1;
}

// The half-step entry a pattern pulls the rotor to: the one whose windings carry current the
// same ways (the current vector turns an eighth of a turn per half-step entry); -1 when neither
// winding carries current.
int PullOf(std::uint8_t pattern) {
  const int winding1 = CurrentIn(pattern & 7U);
  const int winding2 = CurrentIn((pattern >> 3) & 7U);
  for (std::size_t entry = 0; entry < 8; ++entry) {
    const std::uint8_t run = kTables[kHalfStep].run[entry];
    if (CurrentIn(run & 7U) == winding1 && CurrentIn((run >> 3) & 7U) == winding2) {
      return static_cast<int>(entry);
    }
  }
  return -1;
}

// A rotor as the board's motors behave: it follows a pull of one or two half-steps; a pull of
// three is a lost step that still drags it the short way round, a reversal (four) a lost step
// that leaves it where it stands. Without current it stays free where it stands.
class Rotor {
public:
  void apply(std::uint8_t pattern) {
    const int target = PullOf(pattern);
    if (target < 0) {
      return;
    }
    if (pull_ >= 0) {
      int delta = (target - pull_ + 8) % 8;
      delta = delta > 4 ? delta - 8 : delta;
      const bool followed = delta >= -2 && delta <= 2;
      lost_ += followed ? 0U : 1U;
      position_ += delta == 4 ? 0 : delta;
    }
    pull_ = target;
  }
  std::int64_t position() const { return position_; }
  std::uint32_t lost() const { return lost_; }

private:
  std::int64_t position_ = 0;
  int pull_ = -1; // before the first pattern with current, the rotor stands wherever it is
  std::uint32_t lost_ = 0;
};

struct Stops {
  bool whenActive = false; // stopOnInput or stopWhenActive
  bool whenInactive = false;
};
constexpr Stops kOperatorMove{true, false}; // stopOnInput, on since the port was chosen
constexpr Stops kUntilActive{true, false};
constexpr Stops kUntilInactive{false, true};
constexpr Stops kNoStop{};

std::optional<int> AxisNamed(char letter) {
  for (const std::string_view names : {"xyz", "XYZ"}) {
    if (const auto at = names.find(letter); at != std::string_view::npos) {
      return static_cast<int>(at);
    }
  }
  return std::nullopt;
}

std::array<std::int32_t, 3> OnlyAxis(int axis, std::int32_t steps) {
  std::array<std::int32_t, 3> counts{};
  counts[static_cast<std::size_t>(axis)] = steps;
  return counts;
}

// The lead axis: x wins every tie, y a tie with z.
int LeadOf(const std::array<std::uint64_t, 3> &magnitude) {
  if (magnitude[0] >= magnitude[1]) {
    return magnitude[0] >= magnitude[2] ? 0 : 2;
  }
  return magnitude[1] >= magnitude[2] ? 1 : 2;
}

// Whether an axis of `count` steps steps with lead step k of n: the line drawn evenly.
bool StepsWith(std::uint64_t k, std::uint64_t count, std::uint64_t n) {
  return (k + 1) * count / n > k * count / n;
}

// The plain homing rule for an axis above its switch that moves `unit` half-steps a step.
std::int64_t HomingRule(std::int64_t from, std::int64_t switchAt, int unit, std::int32_t offset) {
  const std::int64_t searchSteps = (from - switchAt + unit - 1) / unit;
  const std::int64_t stopped = from - searchSteps * unit;
  return stopped + unit + std::int64_t{offset} * unit;
}

class Model {
public:
  Model(bool phaseDrive, const std::array<std::int32_t, 3> &switches, int stepMode, int level)
      : phaseDrive_(phaseDrive), switches_(switches), stepMode_(stepMode), level_(level) {}

  void setSwitches(const std::array<std::int32_t, 3> &switches) { switches_ = switches; }

  // SetSchrittbetrieb: the tables change, the indices stay.
  void setStepMode(int stepMode, int level) {
    if (stepMode != stepMode_) {
      for (auto &axis : axes_) {
        axis.sinceStepModeChange = true;
      }
    }
    stepMode_ = stepMode;
    level_ = level;
  }

  // OutputRuhestrom with the z flag: each axis's holding pattern at its index.
  void hold() {
    for (int axis = 0; axis < 3; ++axis) {
      const auto &table = kTables[static_cast<std::size_t>(stepMode_)];
      latch(axis, table.hold[static_cast<std::size_t>(level_)][at(axis).index]);
    }
  }

  // A vector move; returns the lead steps made.
  std::uint64_t move(const std::array<std::int32_t, 3> &counts, bool phaseOutput, Stops stops) {
    std::array<std::uint64_t, 3> magnitude{};
    std::array<bool, 3> forward{};
    for (std::size_t axis = 0; axis < 3; ++axis) {
      forward[axis] = counts[axis] >= 0;
      magnitude[axis] = static_cast<std::uint64_t>(forward[axis] ? std::int64_t{counts[axis]}
                                                                 : -std::int64_t{counts[axis]});
    }
    const int lead = LeadOf(magnitude);
    const std::uint64_t n = magnitude[static_cast<std::size_t>(lead)];
    for (std::uint64_t k = 1; k <= n; ++k) {
      for (int axis = 0; axis < 3; ++axis) {
        const auto a = static_cast<std::size_t>(axis);
        if (axis == lead || StepsWith(k, magnitude[a], n)) {
          step(axis, forward[a], phaseOutput);
        }
      }
      const bool active = inputActive();
      if ((stops.whenActive && active) || (stops.whenInactive && !active)) {
        return k;
      }
    }
    return n;
  }

  // A reference run; returns where the plain homing rule puts the axis, when it applies.
  std::optional<std::int64_t> referenceRun(char letter, std::int32_t offset, bool phaseOutput) {
    if (inputActive()) {
      move({kSearchLimit, kSearchLimit, kSearchLimit}, phaseOutput, kUntilInactive);
    }
    const std::optional<int> axis = AxisNamed(letter);
    if (!axis) {
      return std::nullopt;
    }
    if (inputActive()) {
      move(OnlyAxis(*axis, kSearchLimit), phaseOutput, kUntilInactive);
    }
    const bool plain = !inputActive() && !at(*axis).sinceStepModeChange;
    const std::int64_t from = position(*axis);
    move(OnlyAxis(*axis, -kSearchLimit), phaseOutput, kUntilActive);
    move(OnlyAxis(*axis, kSearchLimit), phaseOutput, kUntilInactive);
    move(OnlyAxis(*axis, offset), phaseOutput, kNoStop);
    if (!plain) {
      return std::nullopt;
    }
    return HomingRule(from, switches_[static_cast<std::size_t>(*axis)], unit(), offset);
  }

  // Both wirings come to the same with the driver set to match them: on a single line every
  // switch drives line 7, on three lines each its own, and the driver takes any of them.
  bool inputActive() const {
    for (int axis = 0; axis < 3; ++axis) {
      if (position(axis) <= switches_[static_cast<std::size_t>(axis)]) {
        return true;
      }
    }
    return false;
  }

  std::int64_t position(int axis) const {
    return phaseDrive_ ? at(axis).rotor.position() : at(axis).clocks;
  }
  std::uint8_t latched(int axis) const { return at(axis).latched; }
  std::uint8_t index(int axis) const { return at(axis).index; }
  int stepMode() const { return stepMode_; }
  std::uint64_t latches() const { return latches_; }
  std::uint64_t edges() const { return edges_; }
  std::uint64_t steps() const { return steps_; }
  std::uint64_t lost() const { return lost_; }
  std::uint64_t lostAtStepModeChange() const { return lostAtStepModeChange_; }

private:
  struct Axis {
    std::uint8_t index = 0;
    Rotor rotor;
    std::int64_t clocks = 0;
    std::uint8_t latched = 0;
    bool sinceStepModeChange = false; // no step yet since the step mode changed
  };

  Axis &at(int axis) { return axes_[static_cast<std::size_t>(axis)]; }
  const Axis &at(int axis) const { return axes_[static_cast<std::size_t>(axis)]; }
  int unit() const { return phaseDrive_ && stepMode_ == kFullStep ? 2 : 1; }

  // Phase output steps only a phase board's motors, clock/direction output only a
  // clock/direction board's counts (never generated the other way round: latch bytes on a
  // clock/direction board would clock it).
  void step(int axis, bool forward, bool phaseOutput) {
    Axis &a = at(axis);
    if (!phaseOutput) {
      if (!phaseDrive_) {
        a.clocks += forward ? 1 : -1;
        ++edges_;
        ++steps_;
      }
      return;
    }
    const std::uint8_t top = kTables[static_cast<std::size_t>(stepMode_)].maxPhase;
    a.index = static_cast<std::uint8_t>(forward ? a.index + 1 : a.index - 1);
    if (a.index > top) {
      a.index = forward ? 0 : top;
    }
    ++steps_;
    latch(axis, kTables[static_cast<std::size_t>(stepMode_)].run[a.index]);
    a.sinceStepModeChange = false;
  }

  void latch(int axis, std::uint8_t pattern) {
    Axis &a = at(axis);
    ++latches_;
    a.latched = pattern;
    const std::uint32_t before = a.rotor.lost();
    a.rotor.apply(pattern);
    if (a.rotor.lost() != before) {
      ++lost_;
      lostAtStepModeChange_ += a.sinceStepModeChange ? 1U : 0U;
    }
  }

  bool phaseDrive_;
  std::array<std::int32_t, 3> switches_;
  int stepMode_;
  int level_;
  std::array<Axis, 3> axes_{};
  std::uint64_t latches_ = 0;
  std::uint64_t edges_ = 0;
  std::uint64_t steps_ = 0;
  std::uint64_t lost_ = 0;
  std::uint64_t lostAtStepModeChange_ = 0;
};

// The operator's commands, as the soak gives them.
struct Speeds {
  std::int32_t startFreq;
  std::int32_t arbeitsFreq; // the reference frequency of a reference run
  std::int32_t rampenLaenge;
};
struct MoveCommand {
  std::array<std::int32_t, 3> steps;
  std::uint8_t outputMode;
  Speeds speeds;
  bool waitForE1;
  bool onWorker;
};
struct ReferenceCommand {
  char axis;
  std::int32_t refOffset;
  std::uint8_t outputMode;
  Speeds speeds;
  std::array<std::int32_t, 3> switches; // where the switches stand for this run
  bool onWorker;
};
struct StepModeCommand {
  int stepMode;
  int level;
};
struct PinCommand {
  int level;
  bool waitForE1;
};
struct SwitchCommand {
  std::array<std::int32_t, 3> switches;
};
using Command =
    std::variant<MoveCommand, ReferenceCommand, StepModeCommand, PinCommand, SwitchCommand>;

__attribute__((format(printf, 1, 2))) std::string Format(const char *format, ...) {
  char text[512];
  va_list values;
  va_start(values, format);
  std::vsnprintf(text, sizeof text, format, values);
  va_end(values);
  return text;
}

// The port address as an operator might type it.
std::string AddressText(int style, unsigned base) {
  switch (style) {
  case 0:
    return Format("0x%x", base);
  case 1:
    return Format("%x", base);
  case 2:
    return Format("0X%04X", base);
  default:
    return Format("  0x%X", base);
  }
}

std::string Describe(const Speeds &speeds) {
  return Format("%d/%d/%d ms", speeds.startFreq, speeds.arbeitsFreq, speeds.rampenLaenge);
}

std::string Describe(const Command &command) {
  struct Describer {
    std::string operator()(const MoveCommand &c) const {
      return Format("move (%d, %d, %d) output %u at ", c.steps[0], c.steps[1], c.steps[2],
                    unsigned{c.outputMode}) +
             Describe(c.speeds) + (c.waitForE1 ? ", E1 first" : "") +
             (c.onWorker ? ", on the worker" : "");
    }
    std::string operator()(const ReferenceCommand &c) const {
      return Format("reference run '%c' (0x%02x) offset %d output %u, switches (%d, %d, %d), at ",
                    c.axis, unsigned{static_cast<unsigned char>(c.axis)}, c.refOffset,
                    unsigned{c.outputMode}, c.switches[0], c.switches[1], c.switches[2]) +
             Describe(c.speeds) + (c.onWorker ? ", on the worker" : "");
    }
    std::string operator()(const StepModeCommand &c) const {
      return Format("%s step, holding level %d", c.stepMode == kHalfStep ? "half" : "full",
                    c.level);
    }
    std::string operator()(const PinCommand &c) const {
      return Format("pin 14 level %d%s", c.level, c.waitForE1 ? ", E1 first" : "");
    }
    std::string operator()(const SwitchCommand &c) const {
      return Format("switches to (%d, %d, %d)", c.switches[0], c.switches[1], c.switches[2]);
    }
  };
  return std::visit(Describer{}, command);
}

// One board of the soak, with the start-up the window would give it.
struct BoardSetup {
  SimConfig config;
  std::string addressText; // as the operator typed it
  int stepMode = kHalfStep;
  int level = 1;
  double failRate = 0; // share of reads that fail
  std::uint32_t commands = 0;

  bool phaseDrive() const { return config.drive == platform::SimDrive::phase; }
  std::string describe() const {
    return Format("%s board, wiring %s, polarity %s, port \"%s\", %s step level %d, %s",
                  phaseDrive() ? "phase" : "clock/direction",
                  config.wiring == platform::SimWiring::single ? "single" : "three",
                  config.polarity == platform::SimPolarity::high ? "high" : "low",
                  addressText.c_str(), stepMode == kHalfStep ? "half" : "full", level,
                  failRate > 0 ? Format("%.0f %% of reads failing", failRate * 100).c_str()
                               : "every read good");
  }
};

class Random {
public:
  explicit Random(std::uint64_t seed) : engine_(seed) {}
  int between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(engine_); }
  bool chance(double p) { return std::bernoulli_distribution(p)(engine_); }
  template <typename T> T pick(std::initializer_list<T> choices) {
    return choices.begin()[between(0, static_cast<int>(choices.size()) - 1)];
  }
  std::uint64_t next() { return engine_(); }

private:
  std::mt19937_64 engine_;
};

// Draws the commands: small moves with mixed signs, ties and zeros, now and then one beyond
// the clamps; reference runs with the switches placed around where the axes stand; changes of
// step mode and holding current; pin 14; switches that move.
class Generator {
public:
  explicit Generator(Random &random) : random_(random) {}

  BoardSetup board(bool faultyBoards) {
    BoardSetup setup;
    setup.config.drive =
        random_.chance(0.25) ? platform::SimDrive::clockdir : platform::SimDrive::phase;
    setup.config.wiring =
        random_.chance(0.5) ? platform::SimWiring::single : platform::SimWiring::three;
    setup.config.polarity =
        random_.chance(0.5) ? platform::SimPolarity::high : platform::SimPolarity::low;
    setup.config.switchPosition = {-1000, -1000, -1000};
    const int base = random_.pick({0x378, 0x278, 0xdf88, random_.between(0, 0xFFFF)});
    setup.config.base = static_cast<std::uint16_t>(base);
    setup.addressText = AddressText(random_.between(0, 3), static_cast<unsigned>(base));
    setup.stepMode = random_.between(kHalfStep, kFullStep);
    setup.level = random_.between(0, 2);
    setup.commands = static_cast<std::uint32_t>(random_.between(10, 40));
    if (faultyBoards && random_.chance(0.2)) {
      setup.failRate = random_.chance(0.67) ? 0.01 : 0.5;
    }
    return setup;
  }

  // With half the reads failing, the input reads nearly at random and a reference run's
  // release and search moves mostly run to their 5,000,000-step limit: no reference runs there.
  Command next(const SimBoard &board, const BoardSetup &setup, std::uint32_t workerEvery) {
    const bool phaseBoard = setup.phaseDrive();
    const int roll = random_.between(0, 99);
    const bool onWorker =
        workerEvery != 0 && random_.between(1, static_cast<int>(workerEvery)) == 1;
    if (roll < 50 || (roll < 70 && setup.failRate >= 0.5)) {
      return move(phaseBoard, onWorker);
    }
    if (roll < 70) {
      return reference(board, phaseBoard, onWorker);
    }
    if (roll < 84 && phaseBoard) {
      return StepModeCommand{random_.between(kHalfStep, kFullStep), random_.between(0, 2)};
    }
    if (roll < 92) {
      return PinCommand{random_.between(0, 1), random_.chance(0.3)};
    }
    return SwitchCommand{switchesAround(board, -1)};
  }

private:
  std::int32_t count() {
    const int roll = random_.between(0, 99);
    const int sign = random_.chance(0.5) ? 1 : -1;
    if (roll < 20) {
      return 0;
    }
    if (roll < 70) {
      return sign * random_.between(1, 12);
    }
    return sign * (roll < 95 ? random_.between(13, 60) : random_.between(61, 250));
  }

  std::uint8_t clockOutput() { return random_.pick<std::uint8_t>({1, 2, 255}); }

  Speeds speeds() {
    Speeds s{};
    s.startFreq = random_.chance(0.04) ? random_.pick({0, -20, 70000}) : random_.between(100, 3000);
    s.arbeitsFreq = random_.chance(0.04) ? random_.pick({0, 90000})
                                         : random_.between(std::max(1, s.startFreq / 2), 20000);
    s.rampenLaenge = random_.chance(0.04) ? random_.pick({-5, 70000}) : random_.between(0, 250);
    return s;
  }

  MoveCommand move(bool phaseBoard, bool onWorker) {
    MoveCommand m{};
    for (auto &steps : m.steps) {
      steps = count();
    }
    if (random_.chance(0.2)) { // a tie: another axis as far, either way
      const auto from = static_cast<std::size_t>(random_.between(0, 2));
      const auto to = (from + static_cast<std::size_t>(random_.between(1, 2))) % 3;
      m.steps[to] = random_.chance(0.5) ? m.steps[from] : -m.steps[from];
    }
    if (random_.chance(0.03)) {
      m.steps = {0, 0, 0};
    }
    m.outputMode = phaseBoard && !random_.chance(0.06) ? 0 : clockOutput();
    m.speeds = speeds();
    m.waitForE1 = random_.chance(0.2);
    m.onWorker = onWorker;
    return m;
  }

  // Switches below where the axes stand, or now and then at or above (active): the homed axis
  // close above its switch so that the search is short.
  std::array<std::int32_t, 3> switchesAround(const SimBoard &board, int homed) {
    std::array<std::int32_t, 3> switches{};
    for (int axis = 0; axis < 3; ++axis) {
      const auto position = static_cast<std::int32_t>(board.position(axis));
      const bool active = random_.chance(axis == homed ? 0.25 : 0.12);
      const int below = axis == homed ? random_.between(1, 40) : random_.between(30, 300);
      switches[static_cast<std::size_t>(axis)] =
          active ? position + random_.between(0, 10) : position - below;
    }
    return switches;
  }

  ReferenceCommand reference(const SimBoard &board, bool phaseBoard, bool onWorker) {
    ReferenceCommand r{};
    r.axis = random_.chance(0.03) ? random_.pick({'q', static_cast<char>(0xF8)})
                                  : random_.pick({'x', 'X', 'y', 'Y', 'z', 'Z'});
    r.switches = switchesAround(board, AxisNamed(r.axis).value_or(-1));
    r.refOffset = random_.chance(0.1) ? 0 : random_.between(-25, 60);
    r.outputMode = phaseBoard ? 0 : clockOutput();
    r.speeds = {random_.between(100, 2000), random_.between(200, 8000), random_.between(0, 100)};
    r.onWorker = onWorker;
    return r;
  }

  Random &random_;
};

class Soak {
public:
  explicit Soak(const Options &options)
      : options_(options), random_(options.seed), generator_(random_) {
    figures_.seed = options.seed;
  }

  Figures run() {
    const auto started = std::chrono::steady_clock::now();
    platform::installCounter(&counter_);
    platform::allowRealTime(false); // busy-waiting FIFO threads would starve a shared machine
    platform::setErrorBoxHandler([this](std::string_view text) { boxes_.emplace_back(text); });
    while (figures_.commands < options_.commands && figures_.violations.empty()) {
      runBoard(generator_.board(options_.faultyBoards));
    }
    platform::setErrorBoxHandler({});
    platform::allowRealTime(true);
    platform::installPortBackend(nullptr);
    platform::installCounter(nullptr);
    lpt::testing::ResetDriverState();
    figures_.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return figures_;
  }

private:
  void runBoard(const BoardSetup &setup) {
    setup_ = setup;
    ++figures_.boards;
    figures_.clockBoards += setup.phaseDrive() ? 0U : 1U;
    figures_.faultyBoards += setup.failRate > 0 ? 1U : 0U;
    startUp();
    for (std::uint32_t n = 0;
         n < setup.commands && figures_.commands < options_.commands && figures_.violations.empty();
         ++n) {
      const Command command = generator_.next(*board_, setup, options_.workerEvery);
      ++figures_.commands;
      remember(Describe(command));
      std::visit([this](const auto &c) { execute(c); }, command);
      checkPortRule();
      if (checked()) {
        checkBoard();
      } else {
        ++figures_.faultyCommands;
      }
    }
    figures_.portReads += backend_->reads();
    if (checked()) {
      figures_.steps += model_->steps();
      figures_.lostSteps += board_->lostSteps();
      figures_.lostAtStepModeChange += model_->lostAtStepModeChange();
    } else {
      figures_.failedReads += backend_->failedReads();
      figures_.lostStepsUnderFaults += board_->lostSteps();
    }
  }

  // A fresh driver on a fresh board, started as the window starts: the port, the step mode
  // with the holding patterns (a phase board only: on a clock/direction board the latch bytes
  // would clock the axes), pin 14 reset, and the reference input as the board is wired.
  void startUp() {
    lpt::testing::ResetDriverState();
    board_ = std::make_shared<SimBoard>(setup_.config);
    board_->enableLog(1); // only its count of latches and clock edges is used
    auto backend = std::make_unique<RuleCheckingBackend>(board_, setup_.config.base);
    backend_ = backend.get();
    platform::installPortBackend(std::move(backend));
    if (setup_.failRate > 0) {
      board_->failReadsByPattern(FailurePattern(setup_.failRate, random_.next()));
    }
    model_.emplace(setup_.phaseDrive(), setup_.config.switchPosition, setup_.stepMode,
                   setup_.level);
    recent_.clear();
    remember("start-up on a " + setup_.describe());
    if (!lpt::LptOpen() || !lpt::TimerOpen()) {
      violation("the start-up failed");
      return;
    }
    lpt::SetPortAddress(setup_.addressText.c_str());
    lpt::SetSchrittbetrieb(setup_.stepMode, setup_.level);
    hold();
    lpt::SetControlBit(2, 0);
    pinLevel_ = 0;
    lpt::SetRefInput(setup_.config.wiring == platform::SimWiring::single ? 1 : 0,
                     setup_.config.polarity == platform::SimPolarity::high ? 1 : 0);
    if (checked()) {
      checkBoard();
    }
  }

  // Whether the board's reads all succeed, so that the model can tell where it stands.
  bool checked() const { return setup_.failRate == 0; }

  // The holding patterns after every command that moves or configures, as the window writes
  // them; and, on the board, whether one left a winding at running current.
  void hold() {
    if (!setup_.phaseDrive()) {
      return;
    }
    lpt::OutputRuhestrom(1);
    if (!checked()) {
      return;
    }
    model_->hold();
    for (int axis = 0; axis < 3; ++axis) {
      const platform::SimMotor &motor = board_->motor(axis);
      figures_.heldAtRunningCurrent +=
          motor.energized() && (motor.windingLevel(0) == 0 || motor.windingLevel(1) == 0) ? 1U : 0U;
    }
  }

  void execute(const MoveCommand &c) {
    ++figures_.moves;
    figures_.onWorker += c.onWorker ? 1U : 0U;
    lpt::WaitForE1(c.waitForE1 ? 1 : 0);
    const Speeds &s = c.speeds;
    if (c.onWorker) {
      lptt::RunVektorfahrt(c.outputMode, c.steps[0], c.steps[1], c.steps[2], s.startFreq,
                           s.arbeitsFreq, s.rampenLaenge);
    } else {
      lpt::Vektorfahrt(c.outputMode, c.steps[0], c.steps[1], c.steps[2], s.startFreq, s.arbeitsFreq,
                       s.rampenLaenge);
    }
    if (checked()) {
      model_->move(c.steps, c.outputMode == 0, kOperatorMove);
    }
    hold();
  }

  void execute(const ReferenceCommand &c) {
    ++figures_.referenceRuns;
    figures_.onWorker += c.onWorker ? 1U : 0U;
    placeSwitches(c.switches);
    const Speeds &s = c.speeds;
    if (c.onWorker) {
      lptt::RunReferenzfahrt(c.outputMode, c.axis, c.refOffset, s.startFreq, s.arbeitsFreq,
                             s.rampenLaenge);
    } else {
      lpt::Referenzfahrt(c.outputMode, c.axis, c.refOffset, s.startFreq, s.arbeitsFreq,
                         s.rampenLaenge);
    }
    if (!checked()) {
      hold();
      return;
    }
    const std::optional<std::int64_t> homed =
        model_->referenceRun(c.axis, c.refOffset, c.outputMode == 0);
    hold();
    if (homed && board_->position(*AxisNamed(c.axis)) != *homed) {
      violation(Format("the axis ends at %" PRId64 ", the homing rule says %" PRId64,
                       board_->position(*AxisNamed(c.axis)), *homed));
    }
  }

  void execute(const StepModeCommand &c) {
    ++figures_.stepModeChanges;
    lpt::SetSchrittbetrieb(c.stepMode, c.level);
    if (checked()) {
      bool highIndex = false;
      for (int axis = 0; axis < 3; ++axis) {
        highIndex = highIndex || model_->index(axis) >= 4;
      }
      figures_.halfToFullAtHighIndex +=
          model_->stepMode() == kHalfStep && c.stepMode == kFullStep && highIndex ? 1U : 0U;
      model_->setStepMode(c.stepMode, c.level);
    }
    hold();
  }

  void execute(const PinCommand &c) {
    lpt::WaitForE1(c.waitForE1 ? 1 : 0);
    lpt::SetControlBit(2, c.level);
    pinLevel_ = c.level;
  }

  void execute(const SwitchCommand &c) { placeSwitches(c.switches); }

  void placeSwitches(const std::array<std::int32_t, 3> &switches) {
    for (int axis = 0; axis < 3; ++axis) {
      board_->setSwitchPosition(axis, switches[static_cast<std::size_t>(axis)]);
    }
    model_->setSwitches(switches);
  }

  void checkPortRule() {
    if (backend_->writesAfterFailedReads() != 0 || backend_->controlWritesWithoutRead() != 0) {
      violation(Format("the port rule broke: %" PRIu64 " writes after a failed read, %" PRIu64
                       " control writes without a read",
                       backend_->writesAfterFailedReads(), backend_->controlWritesWithoutRead()));
    }
    if (!boxes_.empty()) {
      violation("an error box: " + boxes_.front());
    }
  }

  // Everything the board shows against the model.
  void checkBoard() {
    for (int axis = 0; axis < 3; ++axis) {
      const char name = static_cast<char>('x' + axis);
      if (board_->position(axis) != model_->position(axis)) {
        violation(Format("%c at %" PRId64 " half-steps, the model says %" PRId64, name,
                         board_->position(axis), model_->position(axis)));
      }
      if (setup_.phaseDrive() && board_->latch(axis) != model_->latched(axis)) {
        violation(Format("%c latch holds 0x%02x, the tables say 0x%02x at index %u", name,
                         unsigned{board_->latch(axis)}, unsigned{model_->latched(axis)},
                         unsigned{model_->index(axis)}));
      }
    }
    if (board_->lostSteps() != model_->lost()) {
      violation(Format("the motors lost %u steps, the model expects %" PRIu64, board_->lostSteps(),
                       model_->lost()));
    }
    if (setup_.phaseDrive() && board_->latchCount() != model_->latches()) {
      violation(Format("the board took %" PRIu64 " latches, the model expects %" PRIu64,
                       board_->latchCount(), model_->latches()));
    }
    if (!setup_.phaseDrive() && board_->loggedEvents() != model_->edges()) {
      violation(Format("the board counted %" PRIu64 " clock edges, the model expects %" PRIu64,
                       board_->loggedEvents(), model_->edges()));
    }
    if (!setup_.phaseDrive() && (board_->dataRegister() & kClockLines) != 0) {
      violation(Format("clock lines left high: data 0x%02x", unsigned{board_->dataRegister()}));
    }
    if (board_->pinHigh(14) != (pinLevel_ != 0)) {
      violation(
          Format("pin 14 is %s after level %d", board_->pinHigh(14) ? "high" : "low", pinLevel_));
    }
  }

  void remember(std::string what) {
    recent_.push_back(std::move(what));
    if (recent_.size() > kRecentCommands) {
      recent_.pop_front();
    }
  }

  void violation(const std::string &what) {
    std::string text =
        Format("seed %" PRIu64 ", command %" PRIu64 ": ", options_.seed, figures_.commands) + what +
        "\n  on a " + setup_.describe() + "\n  the latest commands:";
    for (const auto &command : recent_) {
      text += "\n    " + command;
    }
    figures_.violations.push_back(text);
  }

  Options options_;
  Random random_;
  Generator generator_;
  Figures figures_;
  platform::FakeCounter counter_{kTicksPerSecond, kTicksPerRead};
  BoardSetup setup_;
  std::shared_ptr<SimBoard> board_;
  RuleCheckingBackend *backend_ = nullptr;
  std::optional<Model> model_;
  int pinLevel_ = 0;
  std::vector<std::string> boxes_;
  std::deque<std::string> recent_;
};

} // namespace

bool RuleCheckingBackend::read(std::uint16_t address, std::uint8_t &value) {
  judgePendingWrite(address == control_);
  const bool succeeded = board_->read(address, value);
  ++reads_;
  failedReads_ += succeeded ? 0U : 1U;
  failedControlReads_ += !succeeded && address == control_ ? 1U : 0U;
  last_ = {true, address, succeeded};
  return succeeded;
}

void RuleCheckingBackend::write(std::uint16_t address, std::uint8_t value) {
  judgePendingWrite(false);
  const bool afterReadOfIt = last_.read && last_.address == address;
  if (address == control_) {
    controlWritesWithoutRead_ += afterReadOfIt && last_.succeeded ? 0U : 1U;
  } else {
    pendingWrite_ = afterReadOfIt && !last_.succeeded;
  }
  dataWrites_ += address == data_ ? 1U : 0U;
  last_ = {false, address, true};
  board_->write(address, value);
}

void RuleCheckingBackend::judgePendingWrite(bool strobeFollows) {
  writesAfterFailedReads_ += pendingWrite_ && !strobeFollows ? 1U : 0U;
  pendingWrite_ = false;
}

std::vector<bool> FailurePattern(double rate, std::uint64_t seed) {
  std::mt19937_64 engine(seed);
  std::bernoulli_distribution fails(rate);
  std::vector<bool> pattern(kFailurePatternLength);
  for (std::size_t read = 0; read < pattern.size(); ++read) {
    pattern[read] = fails(engine);
  }
  return pattern;
}

Figures RunSoak(const Options &options) {
  return Soak(options).run();
}

std::string Summary(const Figures &f) {
  std::string text =
      Format("soak, seed %" PRIu64 ": %" PRIu64 " commands on %" PRIu64 " boards (%" PRIu64
             " clock/direction, %" PRIu64 " with failing reads) in %.1f s\n",
             f.seed, f.commands, f.boards, f.clockBoards, f.faultyBoards, f.seconds);
  text +=
      Format("  %" PRIu64 " moves, %" PRIu64 " reference runs, %" PRIu64
             " changes of step mode or holding current (%" PRIu64
             " half to full step with an axis at index 4-7); %" PRIu64 " on the motion worker\n",
             f.moves, f.referenceRuns, f.stepModeChanges, f.halfToFullAtHighIndex, f.onWorker);
  text += Format("  checked boards: %" PRIu64 " axis steps made, %" PRIu64
                 " lost in moves and reference runs, %" PRIu64
                 " lost at a change of step mode; %" PRIu64
                 " holding patterns left a winding at running current\n",
                 f.steps, f.lostSteps - f.lostAtStepModeChange, f.lostAtStepModeChange,
                 f.heldAtRunningCurrent);
  text += Format("  failing reads: %" PRIu64 " faults injected over %" PRIu64 " commands, %" PRIu64
                 " steps lost to them\n",
                 f.failedReads, f.faultyCommands, f.lostStepsUnderFaults);
  text += Format("  %" PRIu64 " port reads; %zu violations\n", f.portReads, f.violations.size());
  for (const auto &violation : f.violations) {
    text += violation + "\n";
  }
  return text;
}

} // namespace kdx620::soak
