// step_timing.cpp - how closely the steps of a move keep their planned periods on the
// simulated board, against a periodic-thread step generator on the same machine.
//
// For each scenario: the steps, the planned total (sum of the planned periods), the measured
// total, their ratio, the per-step period error (measured minus planned period of each lead
// step, absolute: median, p99, p99.9, max) and the count of steps that came more than one
// whole period late. Step times are the board's own time stamps of each lead-axis latch or
// clock edge, on CLOCK_MONOTONIC.
#include "lpt/lpt.h"
#include "lpt/lpt_testing.h"
#include "lptt/lptt.h"
#include "platform/counter.h"
#include "platform/sim_backend.h"
#include "platform/thread.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>
#include <sys/utsname.h>
#include <thread>
#include <vector>

namespace {

struct Scenario {
  const char *name;
  std::uint8_t outputMode;
  std::int32_t x, y, z;
  std::int32_t startFreq, arbeitsFreq, rampenLaenge;
  bool compareWithPeriodic;
};

constexpr Scenario kScenarios[] = {
    {"window default, 1000 x", 0, 1000, 0, 0, 200, 600, 100, false},
    {"one axis fast, phase", 0, 20000, 0, 0, 1000, 40000, 200, true},
    {"three axes equal, phase", 0, 20000, 20000, 20000, 1000, 15000, 200, true},
    {"clock/direction at clamp", 1, 100000, 0, 0, 64000, 64000, 0, true},
    // Asked for more than the strobe allows: the measured rate is the bound of phase output.
    {"strobe-bound, 1 axis, phase", 0, 20000, 0, 0, 64000, 64000, 0, false},
    {"strobe-bound, 3 axes, phase", 0, 20000, 20000, 20000, 64000, 64000, 0, false},
};

constexpr std::int64_t kBasePeriodNs = 25'000; // periodic generators' base thread

struct Figures {
  std::uint32_t steps = 0;
  double plannedMs = 0;
  double measuredMs = 0;
  double medianUs = 0, p99Us = 0, p999Us = 0, maxUs = 0;
  std::uint32_t lateByAPeriod = 0;
};

// A fresh driver on a fresh simulated board, configured as the window does at start-up.
std::shared_ptr<platform::SimBoard> FreshBoard(const Scenario &scenario) {
  lpt::testing::ResetDriverState();
  platform::SimConfig config;
  config.drive =
      scenario.outputMode == 0 ? platform::SimDrive::phase : platform::SimDrive::clockdir;
  config.switchPosition = {INT32_MIN, INT32_MIN, INT32_MIN}; // never in the way
  auto board = std::make_shared<platform::SimBoard>(config);
  platform::installPortBackend(std::make_unique<platform::SimPortBackend>(board));
  lpt::LptOpen();
  lpt::TimerOpen();
  lpt::SetPortAddress("0xdf88");
  lpt::SetSchrittbetrieb(0, 1);
  lpt::OutputRuhestrom(1);
  lpt::SetRefInput(1, 1);
  if (scenario.outputMode != 0) {
    lpt::SetDataBits(0xFF, 0); // the holding bytes left clock lines high: no edge on step 1
  }
  const auto events = static_cast<std::size_t>(scenario.x) + static_cast<std::size_t>(scenario.y) +
                      static_cast<std::size_t>(scenario.z);
  board->enableLog(events + 16);
  return board;
}

std::vector<std::int64_t> PlannedPeriods(const lpt::VektorPlan &plan) {
  std::vector<std::int64_t> periods;
  periods.reserve(plan.leadCount);
  lpt::ForEachPlannedStep(plan,
                          [&](double aktFreq) { periods.push_back(lpt::StepPeriod(aktFreq)); });
  return periods;
}

std::vector<std::int64_t> LeadStepTimes(const platform::SimBoard &board, lpt::Axis lead) {
  std::vector<std::int64_t> times;
  for (const auto &event : board.log()) {
    if (event.axis == lead) {
      times.push_back(event.ticks);
    }
  }
  return times;
}

double Percentile(std::vector<double> sorted, double fraction) {
  if (sorted.empty()) {
    return 0;
  }
  const auto at = static_cast<std::size_t>(fraction * static_cast<double>(sorted.size() - 1));
  return sorted[at];
}

Figures Evaluate(const std::vector<std::int64_t> &planned, const std::vector<std::int64_t> &times,
                 std::int64_t measuredNs) {
  Figures figures;
  figures.steps = static_cast<std::uint32_t>(times.size());
  for (const auto period : planned) {
    figures.plannedMs += static_cast<double>(period) / 1e6;
  }
  figures.measuredMs = static_cast<double>(measuredNs) / 1e6;
  std::vector<double> errors;
  for (std::size_t k = 0; k + 1 < times.size() && k < planned.size(); ++k) {
    const auto error = static_cast<double>((times[k + 1] - times[k]) - planned[k]);
    errors.push_back(std::abs(error) / 1000.0);
    figures.lateByAPeriod += error > static_cast<double>(planned[k]) ? 1U : 0U;
  }
  std::sort(errors.begin(), errors.end());
  figures.medianUs = Percentile(errors, 0.5);
  figures.p99Us = Percentile(errors, 0.99);
  figures.p999Us = Percentile(errors, 0.999);
  figures.maxUs = errors.empty() ? 0 : errors.back();
  return figures;
}

// Our way: the move on a motion worker, every step a busy wait on the counter.
Figures RunBusyWait(const Scenario &scenario) {
  const auto board = FreshBoard(scenario);
  const auto plan = lpt::PlanVektorfahrt(scenario.x, scenario.y, scenario.z, scenario.startFreq,
                                         scenario.arbeitsFreq, scenario.rampenLaenge);
  lptt::RunVektorfahrt(scenario.outputMode, scenario.x, scenario.y, scenario.z, scenario.startFreq,
                       scenario.arbeitsFreq, scenario.rampenLaenge);
  const auto times = LeadStepTimes(*board, plan.lead.axis);
  const auto planned = PlannedPeriods(plan);
  const std::int64_t lastPeriod = planned.empty() ? 0 : planned.back();
  return Evaluate(planned, times, times.empty() ? 0 : times.back() - times.front() + lastPeriod);
}

// One step of every axis that has one due, as a periodic generator's output stage does it.
void PeriodicStep(const Scenario &scenario, std::uint32_t step) {
  const std::int32_t counts[3] = {scenario.x, scenario.y, scenario.z};
  for (std::uint8_t axis = 0; axis < 3; ++axis) {
    if (static_cast<std::uint32_t>(counts[axis]) <= step) {
      continue;
    }
    if (scenario.outputMode == 0) {
      lpt::WriteLatched(lpt::runPattern[(step + 1) & 7] + lpt::kAxisSelect[axis]);
    } else {
      lpt::SetDataBits(lpt::dirBit[axis], 1);
      lpt::SetDataBits(lpt::clockBit[axis], 1);
      lpt::SetDataBits(lpt::clockBit[axis], 0);
    }
  }
}

// The periodic way: a thread woken every 25 us decides at each tick whether a step is due
// (its planned time from the start has come) and then makes it.
class PeriodicGenerator final : public platform::Thread {
public:
  PeriodicGenerator(const Scenario &scenario, const std::vector<std::int64_t> &planned)
      : scenario_(scenario), planned_(planned) {}

protected:
  void Execute() override {
    timespec wake{};
    clock_gettime(CLOCK_MONOTONIC, &wake);
    const std::int64_t start = platform::readCounter();
    std::int64_t due = 0;
    for (std::uint32_t step = 0; step < planned_.size();) {
      wake.tv_nsec += kBasePeriodNs;
      if (wake.tv_nsec >= 1'000'000'000) {
        wake.tv_nsec -= 1'000'000'000;
        ++wake.tv_sec;
      }
      clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake, nullptr);
      if (platform::readCounter() - start >= due) {
        PeriodicStep(scenario_, step);
        due += planned_[step++];
      }
    }
  }

private:
  const Scenario &scenario_;
  const std::vector<std::int64_t> &planned_;
};

Figures RunPeriodic(const Scenario &scenario) {
  const auto board = FreshBoard(scenario);
  const auto plan = lpt::PlanVektorfahrt(scenario.x, scenario.y, scenario.z, scenario.startFreq,
                                         scenario.arbeitsFreq, scenario.rampenLaenge);
  const auto planned = PlannedPeriods(plan);
  PeriodicGenerator generator(scenario, planned);
  generator.setPriority(platform::ThreadPriority::timeCritical);
  generator.resume();
  generator.join();
  const auto times = LeadStepTimes(*board, plan.lead.axis);
  return Evaluate(planned, times,
                  times.empty() ? 0 : times.back() - times.front() + planned.back());
}

// The largest gap between two steps of a long steady move: where a pause of the thread shows.
double LargestGapMs(const Scenario &scenario) {
  const auto board = FreshBoard(scenario);
  lptt::RunVektorfahrt(scenario.outputMode, scenario.x, scenario.y, scenario.z, scenario.startFreq,
                       scenario.arbeitsFreq, scenario.rampenLaenge);
  const auto times = LeadStepTimes(*board, lpt::xAxis);
  std::int64_t largest = 0;
  for (std::size_t k = 1; k < times.size(); ++k) {
    largest = std::max(largest, times[k] - times[k - 1]);
  }
  return static_cast<double>(largest) / 1e6;
}

void PrintRow(const char *name, const char *how, const Figures &f) {
  std::printf("| %s | %s | %u | %.1f | %.1f | %.4f | %.0f | %.2f | %.2f | %.2f | %.2f | %u |\n",
              name, how, f.steps, f.plannedMs, f.measuredMs, f.measuredMs / f.plannedMs,
              f.steps / f.measuredMs * 1000.0, f.medianUs, f.p99Us, f.p999Us, f.maxUs,
              f.lateByAPeriod);
}

std::string CpuModel() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  for (std::string line; std::getline(cpuinfo, line);) {
    if (line.rfind("model name", 0) == 0) {
      return line.substr(line.find(':') + 2);
    }
  }
  return "unknown CPU";
}

// 10 s of steady steps at 20000 steps/s, long enough for real-time throttling to show.
constexpr Scenario kLongMove = {"10 s steady, phase", 0, 200000, 0, 0, 20000, 20000, 0, false};

// Runs every scenario at one priority; returns whether it really got real-time priority.
bool RunAtPriority(bool realTime) {
  platform::allowRealTime(realTime);
  const char *busy = realTime ? "busy-wait, FIFO" : "busy-wait, normal";
  const char *periodic = realTime ? "periodic, FIFO" : "periodic, normal";
  for (const auto &scenario : kScenarios) {
    PrintRow(scenario.name, busy, RunBusyWait(scenario));
    if (scenario.compareWithPeriodic) {
      PrintRow(scenario.name, periodic, RunPeriodic(scenario));
    }
  }
  return platform::realTimeState().granted;
}

} // namespace

int main() {
  utsname system{};
  uname(&system);
  std::printf("machine: %s, %u CPUs, Linux %s\n\n", CpuModel().c_str(),
              std::thread::hardware_concurrency(), system.release);
  std::printf(
      "| scenario | stepping | steps | planned ms | measured ms | ratio | steps/s | median us | "
      "p99 us | p99.9 us | max us | late > 1 period |\n");
  std::printf("|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  RunAtPriority(false);
  const bool granted = RunAtPriority(true);
  const platform::RealTimeState realTime = platform::realTimeState();
  std::printf("\nFIFO %s%s%s\n", granted ? "granted" : "refused", realTime.note.empty() ? "" : ": ",
              realTime.note.c_str());

  platform::allowRealTime(false);
  const double normalGap = LargestGapMs(kLongMove);
  platform::allowRealTime(true);
  const double fifoGap = LargestGapMs(kLongMove);
  std::printf("largest gap between two steps in %s: normal %.2f ms, FIFO %.2f ms\n", kLongMove.name,
              normalGap, fifoGap);
  platform::installPortBackend(nullptr);
  return 0;
}
