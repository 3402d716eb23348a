// run.cpp - kdx620ctl's commands on the driver: the window's start-up and shut-down around
// each, stop on Ctrl-C, progress, and what the move did.
#include "run.h"

#include "latency.h"
#include "progress.h"
#ifdef KDX620_PLOTS
#include "plot.h"
#endif

#include "commands/commands.h"
#include "lpt/lpt.h"
#include "platform/error_box.h"
#include "platform/port_io.h"
#include "platform/sim_backend.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>

namespace cli {
namespace {

constexpr double kProgressAfterSeconds = 1.0;

// The first Ctrl-C or SIGTERM ramps the move down, a second stops it after the current step.
extern "C" void OnStopSignal(int) {
  lpt::RequestStop(lpt::PendingStop() == lpt::StopRequest::none ? lpt::StopRequest::rampDown
                                                                : lpt::StopRequest::now);
}

void InstallStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool StopRequested() {
  return lpt::PendingStop() != lpt::StopRequest::none;
}

std::uint8_t OutputMode(const GlobalOptions &global, bool forThisCommand) {
  return global.clockDir || forThisCommand ? 1 : 0;
}

commands::StartUpSettings StartUpOf(const GlobalOptions &global) {
  commands::StartUpSettings settings;
  settings.portItem = global.portItem;
  settings.freeAddress = global.freeAddress;
  settings.stepMode = global.fullStep ? 1 : 0;
  settings.levelItem = global.holdLevelItem;
  settings.lowActive = global.lowActive;
  settings.threeReferenceLines = global.threeLines;
  settings.latchHoldingPatterns = !global.clockDir;
  return settings;
}

// The backend asked for; on the simulated board with --clock-dir, motors follow the clocks
// unless KDX620_SIM says otherwise.
bool SelectBackend(const GlobalOptions &global) {
  if (const auto error = platform::selectPortBackend(platform::chosenPortBackendName(global.io))) {
    std::fprintf(stderr, "kdx620ctl: %s\n", error->c_str());
    return false;
  }
  const char *simSettings = std::getenv("KDX620_SIM");
  platform::SimBoard *board = platform::activeSimBoard();
  if (board && global.clockDir && !(simSettings && std::strstr(simSettings, "drive="))) {
    board->setDrive(platform::SimDrive::clockdir);
  }
  return true;
}

void PrintSimLine() {
  if (const platform::SimBoard *board = platform::activeSimBoard()) {
    std::printf("sim: x=%lld y=%lld z=%lld lost=%u\n", static_cast<long long>(board->position(0)),
                static_cast<long long>(board->position(1)),
                static_cast<long long>(board->position(2)), board->lostSteps());
  }
  std::fflush(stdout);
}

// At least `limit` seconds, or all of the planned move if shorter.
double PlannedSecondsUpTo(const lpt::VektorPlan &plan, double limit) {
  double seconds = 0;
  lpt::ForEachPlannedStep(plan, [&](double aktFreq) {
    seconds += 1.0 / aktFreq;
    return seconds < limit;
  });
  return seconds;
}

void PrintSteps(const char *what) {
  const lpt::MoveReport &report = lpt::LastMoveReport();
  std::printf(
      "%s; steps made: x=%lld y=%lld z=%lld\n", what, static_cast<long long>(report.axisSteps[0]),
      static_cast<long long>(report.axisSteps[1]), static_cast<long long>(report.axisSteps[2]));
}

void PrintTiming() {
  const lpt::MoveReport &report = lpt::LastMoveReport();
  const double largestUs =
      static_cast<double>(report.maxLateTicks) * 1e6 / static_cast<double>(lpt::counterFrequency);
  if (report.lateSteps == 0) {
    std::printf("timing: no step later than its period (largest delay %.1f us)\n", largestUs);
  } else {
    std::printf("timing: %u steps later than their period by more than 10 us, at most %.1f us\n",
                report.lateSteps, largestUs);
  }
}

// What the command did, and its exit code: 130 once the operator stopped it.
int Finish(const char *done) {
  if (StopRequested() || lpt::LastMoveReport().stoppedByOperator) {
    PrintSteps("stopped by the operator");
    return kExitStopped;
  }
  PrintSteps(done);
  return kExitOk;
}

int RunMove(const GlobalOptions &global, const MoveArgs &move) {
  lpt::ResetMoveReport();
  const auto plan = lpt::PlanVektorfahrt(move.x, move.y, move.z, move.start, move.work, move.ramp);
  {
    const bool show = !global.quiet && isatty(STDERR_FILENO) &&
                      PlannedSecondsUpTo(plan, kProgressAfterSeconds) >= kProgressAfterSeconds;
    ProgressBar progress(show);
    commands::Vektorfahrt(
        global.waitForE1,
        [&] {
          return commands::MoveFields{move.start, move.work, move.ramp, move.x, move.y, move.z};
        },
        OutputMode(global, move.clockDir));
  }
  // An operator's move ends on the step that finds the reference input active.
  const int code =
      Finish(lpt::LastMoveReport().stoppedByInput ? "move ended early by the active reference input"
                                                  : "move done");
  if (plan.leadCount > 1) {
    PrintTiming();
  }
  return code;
}

int RunHome(const GlobalOptions &global, const HomeArgs &home) {
  lpt::ResetMoveReport();
  const auto fields = [&] {
    return commands::RefFields{home.start, home.ramp, home.refFreq, home.refOffset};
  };
  const std::uint8_t mode = OutputMode(global, home.clockDir);
  if (home.axis == 'a') {
    commands::ReferenzfahrtAll(global.waitForE1, fields, mode);
  } else {
    commands::RefFahrtAxis(global.waitForE1, home.axis, fields, mode);
  }
  return Finish("reference run done");
}

int RunOutput(const GlobalOptions &global, const OutputArgs &output) {
  commands::SetOutputPin(global.waitForE1, output.set ? 1 : 0);
  if (StopRequested()) {
    return kExitStopped;
  }
  std::printf("pin 14 %s\n", output.set ? "set (high)" : "reset (low)");
  return kExitOk;
}

const char *Level(bool high) {
  return high ? "high" : "low";
}

int RunInputs() {
  std::printf("E1: %s\n", Level(lpt::SampleStatusBit(0x10)));
  std::printf("reference input: %s (%s, %s)\n", lpt::RefInputActive() ? "active" : "inactive",
              lpt::LptState.refSingleInput ? "status line 7" : "status lines 5, 6, 7",
              lpt::LptState.refHighActive ? "high-active" : "low-active");
  const struct { int line, pin; } lines[] = {{3, 15}, {4, 13}, {5, 12}, {6, 10}, {7, 11}};
  for (const auto &[line, pin] : lines) {
    std::printf("status line %d (pin %d): %s\n", line, pin, Level(lpt::SampleStatusBit(1 << line)));
  }
  return kExitOk;
}

#ifdef KDX620_PLOTS
// What the plots show; a build without them needs neither.
std::vector<double> PlannedFrequencies(const lpt::VektorPlan &plan) {
  std::vector<double> frequencies;
  lpt::ForEachPlannedStep(plan, [&](double aktFreq) { frequencies.push_back(aktFreq); });
  return frequencies;
}

// The lead axis's steps as the simulated board saw them, as frequencies (1 / interval).
std::vector<double> MeasuredFrequencies(const MoveArgs &move) {
  auto board = std::make_shared<platform::SimBoard>();
  platform::installPortBackend(std::make_unique<platform::SimPortBackend>(board));
  std::vector<double> frequencies;
  if (!commands::StartUp(commands::StartUpSettings{})) {
    return frequencies;
  }
  const auto plan = lpt::PlanVektorfahrt(move.x, move.y, move.z, move.start, move.work, move.ramp);
  board->enableLog(static_cast<std::size_t>(plan.leadCount) * 3 + 16);
  commands::Vektorfahrt(false, [&] {
    return commands::MoveFields{move.start, move.work, move.ramp, move.x, move.y, move.z};
  });
  std::int64_t previous = -1;
  for (const auto &event : board->log()) {
    if (event.axis != plan.lead.axis || event.kind != platform::SimEvent::Kind::latch) {
      continue;
    }
    if (previous >= 0) {
      frequencies.push_back(static_cast<double>(lpt::counterFrequency) /
                            static_cast<double>(event.ticks - previous));
    }
    previous = event.ticks;
  }
  // The last interval ends at the holding pattern, not at a step.
  frequencies.resize(std::min<std::size_t>(frequencies.size(), plan.leadCount - 1));
  lpt::LptClose();
  return frequencies;
}
#endif

int RunProfile(const ProfileArgs &profile) {
  const MoveArgs &move = profile.move;
  if (!lpt::TimerOpen()) {
    return kExitFailure;
  }
  const auto plan = lpt::PlanVektorfahrt(move.x, move.y, move.z, move.start, move.work, move.ramp);
  const char *names = "xyz";
  double plannedSeconds = 0;
  lpt::ForEachPlannedStep(plan, [&](double aktFreq) {
    plannedSeconds +=
        static_cast<double>(lpt::StepPeriod(aktFreq)) / static_cast<double>(lpt::counterFrequency);
  });
  std::printf("lead axis: %c %s, %u steps; then %c %u, %c %u\n", names[plan.lead.axis],
              plan.lead.forward ? "forward" : "backward", plan.leadCount, names[plan.second.axis],
              plan.second.count, names[plan.third.axis], plan.third.count);
  std::printf("frequencies: start %d, working %d steps/s; ramp %d ms\n", plan.startFreq,
              plan.arbeitsFreq, plan.rampenLaenge);
  std::printf("ramp steps: %u, slope %f steps/s per step\n", plan.rampSteps, plan.Steilheit);
  std::printf("planned total time: %.3f ms\n", plannedSeconds * 1000.0);
  if (profile.plotFile.empty()) {
    return kExitOk;
  }
#ifdef KDX620_PLOTS
  std::vector<StepSeries> series = {{"planned", PlannedFrequencies(plan)}};
  if (profile.run) {
    series.push_back({"measured on the simulated board", MeasuredFrequencies(move)});
  }
  std::string error;
  if (!WritePlot(profile.plotFile, series, error)) {
    std::fprintf(stderr, "kdx620ctl: %s\n", error.c_str());
    return kExitFailure;
  }
  std::printf("plot: %s\n", profile.plotFile.c_str());
  return kExitOk;
#else
  std::fprintf(stderr, "kdx620ctl: this build has no plots (built without Qt Charts)\n");
  return kExitFailure;
#endif
}

// One command on a started board; profile and latency need none.
int RunBody(const GlobalOptions &global, const CommandArgs &command) {
  return std::visit(
      [&](const auto &args) -> int {
        using Args = std::decay_t<decltype(args)>;
        if constexpr (std::is_same_v<Args, MoveArgs>) {
          return RunMove(global, args);
        } else if constexpr (std::is_same_v<Args, HomeArgs>) {
          return RunHome(global, args);
        } else if constexpr (std::is_same_v<Args, OutputArgs>) {
          return RunOutput(global, args);
        } else if constexpr (std::is_same_v<Args, InputsArgs>) {
          return RunInputs();
        } else if constexpr (std::is_same_v<Args, ProfileArgs>) {
          return RunProfile(args);
        } else if constexpr (std::is_same_v<Args, LatencyArgs>) {
          return RunLatency(args.seconds);
        } else {
          std::fprintf(stderr, "kdx620ctl: a script cannot run another script\n");
          return kExitUsage;
        }
      },
      command);
}

// The script's commands, all parsed before any runs; empty with an error printed otherwise.
std::vector<CommandArgs> ReadScript(const GlobalOptions &global, const ScriptArgs &script,
                                    bool &ok) {
  std::ifstream file;
  std::istream *input = &std::cin;
  if (script.file != "-") {
    file.open(script.file);
    input = &file;
  }
  ok = static_cast<bool>(*input);
  std::vector<CommandArgs> commands;
  if (!ok) {
    std::fprintf(stderr, "kdx620ctl: cannot read %s\n", script.file.c_str());
    return commands;
  }
  int number = 0;
  for (std::string line; std::getline(*input, line);) {
    ++number;
    const auto start = line.find_first_not_of(" \t\r");
    if (start == std::string::npos || line[start] == '#') {
      continue;
    }
    const Parsed parsed = ParseScriptLine(line, global);
    if (!parsed.invocation || std::holds_alternative<ScriptArgs>(parsed.invocation->command)) {
      std::fprintf(
          stderr, "kdx620ctl: %s line %d: %s\n%s", script.file.c_str(), number, line.c_str(),
          parsed.invocation ? "a script cannot run another script\n" : parsed.text.c_str());
      ok = false;
      return {};
    }
    commands.push_back(parsed.invocation->command);
  }
  return commands;
}

// Whether an error box was shown since the count stood at `before`. A command that raised one
// went on as the window's would, but did not do all it said (no port at the address, for one):
// its exit status must not say that it worked.
bool BoxShownSince(std::uint64_t before) {
  return platform::errorBoxesShown() != before;
}

int FailedIfBoxShown(int code, std::uint64_t before) {
  return code == kExitOk && BoxShownSince(before) ? kExitFailure : code;
}

// The start-up, the body unless the start-up raised an error box, and the shut-down.
int RunOnBoard(const GlobalOptions &global, const std::function<int()> &body) {
  if (!SelectBackend(global)) {
    return kExitUsage;
  }
  const std::uint64_t boxes = platform::errorBoxesShown();
  if (!commands::StartUp(StartUpOf(global))) {
    return kExitFailure;
  }
  InstallStopSignals();
  const int code = BoxShownSince(boxes) ? kExitFailure : body();
  lpt::LptClose();
  PrintSimLine();
  return FailedIfBoxShown(code, boxes);
}

int RunScript(const GlobalOptions &global, const ScriptArgs &script) {
  bool ok = false;
  const std::vector<CommandArgs> lines = ReadScript(global, script, ok);
  if (!ok) {
    return kExitUsage;
  }
  return RunOnBoard(global, [&] {
    for (std::size_t at = 0; at < lines.size(); ++at) {
      const std::uint64_t boxes = platform::errorBoxesShown();
      if (const int code = FailedIfBoxShown(RunBody(global, lines[at]), boxes); code != kExitOk) {
        return code;
      }
      if (at + 1 < lines.size()) {
        PrintSimLine(); // the last one follows the shut-down
      }
    }
    return kExitOk;
  });
}

} // namespace

int Run(const Invocation &invocation) {
  const GlobalOptions &global = invocation.global;
  if (const auto *script = std::get_if<ScriptArgs>(&invocation.command)) {
    return RunScript(global, *script);
  }
  if (!UsesTheBoard(invocation.command)) {
    if (!SelectBackend(global)) {
      return kExitUsage;
    }
    InstallStopSignals();
    const int code = RunBody(global, invocation.command);
    PrintSimLine();
    return code;
  }
  return RunOnBoard(global, [&] { return RunBody(global, invocation.command); });
}

} // namespace cli
