// arguments.cpp - the command line of kdx620ctl on CLI11. Numbers are taken in decimal only
// and checked against their range before anything runs.
#include "arguments.h"

#include "platform/port_io.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <climits>
#include <deque>
#include <sstream>

namespace cli {
namespace {

constexpr std::int32_t kMaxFreq = 64000;   // steps per second, as the driver clamps
constexpr std::int32_t kMaxRampMs = 60000; // milliseconds

bool ParseDecimal(const std::string &text, std::int64_t &value) {
  const char *begin = text.data();
  const char *end = text.data() + text.size();
  const bool plus = begin != end && *begin == '+';
  begin += plus ? 1 : 0;
  if (begin == end || (plus && *begin == '-')) {
    return false;
  }
  const auto [rest, error] = std::from_chars(begin, end, value);
  return error == std::errc() && rest == end;
}

// A decimal integer in [min, max]; CLI11's own conversion would also read 010 as octal.
CLI::Validator DecimalIn(std::int64_t min, std::int64_t max) {
  return {[min, max](std::string &text) -> std::string {
            std::int64_t value = 0;
            if (!ParseDecimal(text, value)) {
              return "\"" + text + "\" is not a decimal integer";
            }
            if (value < min || value > max) {
              return text + " is out of range " + std::to_string(min) + " to " +
                     std::to_string(max);
            }
            return {};
          },
          "in " + std::to_string(min) + ".." + std::to_string(max)};
}

// lpt1, lpt2, or a hexadecimal address up to 0xffff.
CLI::Validator PortChoice() {
  return {[](std::string &text) -> std::string {
            std::string lower = text;
            std::transform(lower.begin(), lower.end(), lower.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            if (lower == "lpt1" || lower == "lpt2") {
              return {};
            }
            std::string_view digits = lower;
            if (digits.substr(0, 2) == "0x") {
              digits.remove_prefix(2);
            }
            unsigned value = 0;
            const auto [rest, error] =
                std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
            if (digits.empty() || error != std::errc() || rest != digits.data() + digits.size() ||
                value > 0xFFFF) {
              return "\"" + text +
                     "\" is neither lpt1, lpt2 nor a hexadecimal address up to 0xffff";
            }
            return {};
          },
          "lpt1|lpt2|ADDRESS"};
}

CLI::Validator PlotFile() {
  return {[](std::string &text) -> std::string {
            const auto endsWith = [&text](std::string_view ending) {
              return text.size() > ending.size() &&
                     text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
            };
            return endsWith(".png") || endsWith(".svg")
                       ? ""
                       : "\"" + text + "\" must end in .png or .svg";
          },
          "FILE.png|FILE.svg"};
}

// Numbers arrive as text, checked by their validator, and are converted once parsing is over.
class Numbers {
public:
  CLI::Option *add(CLI::App &app, const std::string &name, std::int32_t &target, std::int64_t min,
                   std::int64_t max, const std::string &help) {
    auto &binding = bindings_.emplace_back(Binding{{}, &target});
    CLI::Option *option =
        app.add_option(name, binding.text, help)->check(DecimalIn(min, max))->type_name("INT");
    if (name.rfind('-', 0) == 0) {
      option->default_str(std::to_string(target));
    } else {
      option->required();
    }
    return option;
  }
  void convert() {
    for (const auto &binding : bindings_) {
      std::int64_t value = 0;
      if (!binding.text.empty() && ParseDecimal(binding.text, value)) {
        *binding.target = static_cast<std::int32_t>(value);
      }
    }
  }

private:
  struct Binding {
    std::string text;
    std::int32_t *target;
  };
  std::deque<Binding> bindings_;
};

struct Targets {
  GlobalOptions global;
  MoveArgs move;
  HomeArgs home;
  OutputArgs output;
  ProfileArgs profile;
  LatencyArgs latency;
  ScriptArgs script;
  std::string port = "0xdf88";
  bool halfStep = false;
  std::string hold = "20";
  std::string homeAxis;
  std::string outputLevel;
  Numbers numbers;
};

void AddMoveNumbers(CLI::App &command, Targets &to, MoveArgs &move) {
  to.numbers.add(command, "X", move.x, INT32_MIN, INT32_MAX, "steps of x (negative: backward)");
  to.numbers.add(command, "Y", move.y, INT32_MIN, INT32_MAX, "steps of y");
  to.numbers.add(command, "Z", move.z, INT32_MIN, INT32_MAX, "steps of z");
  to.numbers.add(command, "--start", move.start, 1, kMaxFreq, "start frequency, steps/s");
  to.numbers.add(command, "--work", move.work, 1, kMaxFreq, "working frequency, steps/s");
  to.numbers.add(command, "--ramp", move.ramp, 0, kMaxRampMs, "ramp length, ms");
}

void AddGlobalOptions(CLI::App &app, Targets &to) {
  std::vector<std::string> backends;
  for (const auto name : platform::portBackendNames()) {
    backends.emplace_back(name);
  }
  app.add_option("--io", to.global.io, "port backend (default sim, or KDX620_IO)")
      ->check(CLI::IsMember(backends));
  app.add_option("--port", to.port, "lpt1 (0x378), lpt2 (0x278) or a hexadecimal address")
      ->check(PortChoice())
      ->default_str("0xdf88");
  auto *half = app.add_flag("--half", to.halfStep, "half step (default)");
  app.add_flag("--full", to.global.fullStep, "full step")->excludes(half);
  app.add_option("--hold", to.hold, "holding current in % of the running current")
      ->check(CLI::IsMember({"0", "20", "60"}))
      ->default_str("20");
  app.add_flag("--low-active", to.global.lowActive, "the reference input is low-active");
  app.add_flag("--three-lines", to.global.threeLines,
               "the reference input on status lines 5, 6 and 7 (pins 12, 10, 11), not 7 alone");
  app.add_flag("--e1", to.global.waitForE1, "wait for input E1 before each command");
  app.add_flag("--clock-dir", to.global.clockDir,
               "clock/direction output instead of the phase latches");
  app.add_flag("--quiet", to.global.quiet, "no progress bar");
}

void AddCommands(CLI::App &app, Targets &to) {
  app.require_subcommand(1, 1);
  app.fallthrough(); // global options may also follow the command

  auto *move = app.add_subcommand("move", "vector move of the three axes with a linear ramp");
  AddMoveNumbers(*move, to, to.move);
  move->add_flag("--clock-dir", to.move.clockDir, "clock/direction output for this move");

  auto *home = app.add_subcommand("home", "reference run of an axis, or of all (z, x, then y)");
  home->add_option("AXIS", to.homeAxis, "x, y, z or all")
      ->required()
      ->check(CLI::IsMember({"x", "y", "z", "all"}));
  to.numbers.add(*home, "--start", to.home.start, 1, kMaxFreq, "start frequency, steps/s");
  to.numbers.add(*home, "--ref-freq", to.home.refFreq, 1, kMaxFreq, "reference frequency, steps/s");
  to.numbers.add(*home, "--ref-offset", to.home.refOffset, INT32_MIN, INT32_MAX,
                 "steps beyond the switch's release point");
  to.numbers.add(*home, "--ramp", to.home.ramp, 0, kMaxRampMs, "ramp length, ms");
  home->add_flag("--clock-dir", to.home.clockDir, "clock/direction output for this run");

  auto *output = app.add_subcommand("output", "sets (high) or resets (low) pin 14");
  output->add_option("LEVEL", to.outputLevel, "set or reset")
      ->required()
      ->check(CLI::IsMember({"set", "reset"}));

  app.add_subcommand("inputs", "shows E1, the reference input and each status line");

  auto *profile = app.add_subcommand("profile", "the planned move, without hardware");
  AddMoveNumbers(*profile, to, to.profile.move);
  profile->add_option("--plot", to.profile.plotFile, "frequency over step and over time")
      ->check(PlotFile());
  profile->add_flag("--run", to.profile.run,
                    "also run it on the simulated board and plot the measured steps");

  auto *latency = app.add_subcommand("latency", "busy-wait overshoot at the worker's priority");
  latency->add_option("--seconds", to.latency.seconds, "how long to measure")
      ->check(CLI::Range(0.1, 3600.0))
      ->default_str("10");

  auto *script = app.add_subcommand("script", "runs commands from a file, one per line");
  script->add_option("FILE", to.script.file, "the file, or - for standard input")->required();
}

// The invocation that the parsed `app` names.
Invocation Collect(CLI::App &app, Targets &to) {
  to.numbers.convert();
  Invocation invocation;
  invocation.global = to.global;
  std::string port = to.port;
  std::transform(port.begin(), port.end(), port.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  invocation.global.portItem = port == "lpt1" ? 0 : port == "lpt2" ? 1 : 2;
  invocation.global.freeAddress = to.port;
  invocation.global.holdLevelItem = to.hold == "0" ? 0 : to.hold == "60" ? 2 : 1;

  const std::string name = app.get_subcommands().front()->get_name();
  if (name == "move") {
    invocation.command = to.move;
  } else if (name == "home") {
    to.home.axis = to.homeAxis == "all" ? 'a' : to.homeAxis.front();
    invocation.command = to.home;
  } else if (name == "output") {
    invocation.command = OutputArgs{to.outputLevel == "set"};
  } else if (name == "inputs") {
    invocation.command = InputsArgs{};
  } else if (name == "profile") {
    invocation.command = to.profile;
  } else if (name == "latency") {
    invocation.command = to.latency;
  } else {
    invocation.command = to.script;
  }
  return invocation;
}

std::string CommandNames(const CLI::App &app) {
  std::string names;
  for (const CLI::App *command : app.get_subcommands({})) {
    names += (names.empty() ? "" : ", ") + command->get_name();
  }
  return names;
}

Parsed ParseWith(CLI::App &app, Targets &to, std::vector<std::string> arguments) {
  std::reverse(arguments.begin(), arguments.end()); // CLI11 takes them last first
  try {
    app.parse(arguments);
  } catch (const CLI::ParseError &error) {
    if (app.get_subcommands().empty() && !app.remaining().empty() &&
        dynamic_cast<const CLI::RequiredError *>(&error)) {
      return {std::nullopt,
              "unknown command \"" + app.remaining().front() +
                  "\" (commands: " + CommandNames(app) + ")\n",
              2};
    }
    std::ostringstream out;
    std::ostringstream err;
    const int code = app.exit(error, out, err);
    return {std::nullopt, out.str() + err.str(), code == 0 ? 0 : 2};
  }
  return {Collect(app, to), {}, 0};
}

} // namespace

Parsed ParseArguments(const std::vector<std::string> &arguments) {
  CLI::App app{"kdx620ctl - the operator's commands of kdx620 without a window", "kdx620ctl"};
  Targets to;
  AddGlobalOptions(app, to);
  AddCommands(app, to);
  return ParseWith(app, to, arguments);
}

Parsed ParseScriptLine(const std::string &line, const GlobalOptions &global) {
  CLI::App app{"a command of a kdx620ctl script", "script line"};
  Targets to;
  AddCommands(app, to);
  std::istringstream words(line);
  std::vector<std::string> arguments;
  for (std::string word; words >> word;) {
    arguments.push_back(word);
  }
  Parsed parsed = ParseWith(app, to, arguments);
  if (parsed.invocation) {
    parsed.invocation->global = global;
  }
  return parsed;
}

bool UsesTheBoard(const CommandArgs &command) {
  return !std::holds_alternative<ProfileArgs>(command) &&
         !std::holds_alternative<LatencyArgs>(command);
}

} // namespace cli
