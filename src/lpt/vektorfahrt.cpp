// vektorfahrt.cpp - the vector move: three axes along a straight line in step space, with a
// linear frequency ramp at both ends, every step timed by a busy wait on the counter.
//
// Prepare, then step. PlanVektorfahrt picks the lead axis, clamps and computes the ramp in
// extended precision; the step loop then does only what each step needs.
//
// Frequency over the lead axis's steps (s = startFreq, a = arbeitsFreq, r = rampSteps):
//
//   a |         ____________________
//     |        /                    \          each ramp step adds or takes Steilheit,
//     |      /                        \        (a - s) / r, computed before r is cut
//     |    /                            \      to N / 2 for a move too short for both
//   s |__/                                \__  ramps: such a move turns below a.
//     +---------------------------------------> step k
//      1    r                        N-r    N
//
// The second and third axis start their accumulators at their own count c and add c on every
// lead step; each overflow past N is one step. So with N = 10, c = 3 steps at lead steps 3, 6
// and 9: the line is drawn evenly, and every axis makes exactly its count.
#include "lpt.h"
#include "trace.h"

#include "platform/counter.h"
#include "platform/error_box.h"

#include <algorithm>
#include <array>
#include <limits>

namespace lpt {

MoveProgress moveProgress;

namespace {

// The ramp's figures (44 ramp steps for 300, 900 and 50 ms, say) need the x87 extended format.
static_assert(std::numeric_limits<long double>::digits == 64,
              "long double must have a 64-bit significand");

constexpr std::int32_t kMinFreq = 1;
constexpr std::int32_t kMaxFreq = 64000;
constexpr std::int32_t kMaxRampMs = 60000;
constexpr std::int64_t kLateDivisor = 100000; // a step more than 10 us behind its time is late

std::atomic<int> stopRequest{0};
MoveReport report{};

AxisMotion MotionOf(Axis axis, std::int32_t steps) {
  const auto bits = static_cast<std::uint32_t>(steps);
  // Two's complement magnitude: the most negative count gives 2^31.
  return steps >= 0 ? AxisMotion{axis, true, bits} : AxisMotion{axis, false, 0U - bits};
}

// Lead by unsigned magnitude: x wins every tie, y a tie with z; z leads only when larger than
// both. The others follow in x, y, z order.
void ChooseLead(const std::array<AxisMotion, 3> &axes, VektorPlan &plan) {
  const std::uint32_t x = axes[xAxis].count;
  const std::uint32_t y = axes[yAxis].count;
  const std::uint32_t z = axes[zAxis].count;
  Axis lead = zAxis;
  if (x >= y) {
    lead = x >= z ? xAxis : zAxis;
  } else {
    lead = y >= z ? yAxis : zAxis;
  }
  plan.lead = axes[lead];
  plan.second = axes[lead == xAxis ? yAxis : xAxis];
  plan.third = axes[lead == zAxis ? yAxis : zAxis];
  plan.leadCount = plan.lead.count;
}

void ClampFrequencies(VektorPlan &plan) {
  plan.startFreq = std::clamp(plan.startFreq, kMinFreq, kMaxFreq);
  plan.arbeitsFreq = std::clamp(plan.arbeitsFreq, kMinFreq, kMaxFreq);
  plan.rampenLaenge = std::clamp(plan.rampenLaenge, 0, kMaxRampMs);
  plan.arbeitsFreq = std::max(plan.arbeitsFreq, plan.startFreq);
}

// rampSteps = (rampenLaenge * 0.001) / ((1/s - 1/a) * 0.5), each operation rounded to the
// 64-bit significand, only the final conversion truncated. 300, 900 and 50 ms lands just
// below 45 this way and gives 44.
void ComputeRamp(VektorPlan &plan) {
  plan.rampSteps = 0;
  plan.Steilheit = 0.0;
  if (plan.startFreq != plan.arbeitsFreq) {
    const long double inverseStart = 1.0L / plan.startFreq;
    const long double inverseWork = 1.0L / plan.arbeitsFreq;
    const long double halfDifference = (inverseStart - inverseWork) * 0.5L;
    const long double seconds = plan.rampenLaenge * 0.001L;
    // At most about 5e11 for the clamped inputs: fits 64 bits, of which the low 32 are kept.
    plan.rampSteps =
        static_cast<std::uint32_t>(static_cast<std::uint64_t>(seconds / halfDifference));
    if (plan.rampSteps != 0) {
      plan.Steilheit = static_cast<double>(
          static_cast<long double>(plan.arbeitsFreq - plan.startFreq) / plan.rampSteps);
    }
  }
  // A move too short for both ramps turns halfway; the slope stays as computed.
  if (static_cast<std::uint32_t>(2U * plan.rampSteps) > plan.leadCount) {
    plan.rampSteps = plan.leadCount / 2;
  }
}

// One axis step in phase-pattern output: the phase index moves one place, with wrap-around
// (an index left above maxPhase by a change of step mode comes back in range), and the
// pattern at the new index is latched with the axis's select bits.
void PhaseStep(const AxisMotion &motion) {
  std::uint8_t &index = LptState.phaseIndex[motion.axis];
  if (motion.forward) {
    ++index;
    index = index > maxPhase ? 0 : index;
  } else {
    --index;
    index = index > maxPhase ? maxPhase : index;
  }
  lastOutValue = runPattern[index] + kAxisSelect[motion.axis];
  WriteLatched(lastOutValue);
}

// One axis step in clock/direction output: direction first, then the clock goes up.
void ClockStep(const AxisMotion &motion) {
  SetDataBits(dirBit[motion.axis], motion.forward ? 1 : 0);
  SetDataBits(clockBit[motion.axis], 1);
}

template <bool kPhaseOutput> void AxisStep(const AxisMotion &motion) {
  if constexpr (kPhaseOutput) {
    PhaseStep(motion);
  } else {
    ClockStep(motion);
  }
}

bool StopConditionHolds(bool inputActive) {
  return (LptState.stopOnInput && inputActive) || (LptState.stopWhenActive && inputActive) ||
         (LptState.stopWhenInactive && !inputActive);
}

// Steps made by an axis that started its accumulator at its count, from where it ended after
// `leadSteps` lead steps: the accumulator gained count * (leadSteps + 1) and lost N per step.
std::int64_t FollowerSteps(const AxisMotion &motion, std::uint64_t akku, std::uint32_t leadSteps,
                           std::uint64_t lapOfN) {
  // NOLINTNEXTLINE(clang-analyzer-core.DivideZero): N is above 0, moves of 0 end before stepping
  const auto steps = (motion.count * (static_cast<std::uint64_t>(leadSteps) + 1) - akku) / lapOfN;
  return motion.forward ? static_cast<std::int64_t>(steps) : -static_cast<std::int64_t>(steps);
}

// The step loop. Each period runs from the counter read at the top of its step, so the work
// of the step (outputs, input samples, trace, the half-period wait) is deducted from it.
// Returns true when an operator's stop request ended it.
template <bool kPhaseOutput> bool RunSteps(const VektorPlan &plan) {
  const std::uint64_t lapOfN = plan.leadCount;
  const auto lateTolerance = static_cast<std::int32_t>(counterFrequency / kLateDivisor);
  // 64-bit accumulators: a count of 2^31 on a second axis would overflow 32 bits.
  std::uint64_t secondAkku = plan.second.count;
  std::uint64_t thirdAkku = plan.third.count;
  std::uint32_t SAkku = plan.leadCount;
  double aktFreq = plan.startFreq;
  bool stop = false;
  bool rampingDownOnRequest = false;
  bool stoppedByOperator = false;
  std::uint32_t skippedOnRequest = 0; // lead steps a stop request took off the count
  std::int64_t previousStart = 0;
  std::int32_t previousPeriod = 0;
  moveProgress.leadCount.store(plan.leadCount, std::memory_order_relaxed);
  while (SAkku > 0 && !stop) {
    const std::int64_t stepStart = platform::readCounter();
    AxisStep<kPhaseOutput>(plan.lead);
    --SAkku;
    secondAkku += plan.second.count;
    thirdAkku += plan.third.count;
    if (secondAkku >= lapOfN) {
      secondAkku -= lapOfN;
      AxisStep<kPhaseOutput>(plan.second);
    }
    if (thirdAkku >= lapOfN) {
      thirdAkku -= lapOfN;
      AxisStep<kPhaseOutput>(plan.third);
    }
    stop = StopConditionHolds(RefInputActive());
    if (LptState.traceOn) {
      TraceValues("  SAkku: %3d / aktFreq= %f", static_cast<int>(SAkku), aktFreq);
    }
    const std::int32_t period = StepPeriod(aktFreq);
    if constexpr (!kPhaseOutput) {
      WaitTicks(period / 2);
      SetDataBits(clockBit[xAxis], 0);
      SetDataBits(clockBit[yAxis], 0);
      SetDataBits(clockBit[zAxis], 0);
    }
    if (SAkku + 1 < plan.leadCount) {
      const std::int64_t late =
          std::int64_t{platform::tickDifference(stepStart, previousStart)} - previousPeriod;
      report.lateSteps += late > lateTolerance ? 1 : 0;
      report.maxLateTicks = std::max(report.maxLateTicks, late);
    }
    previousStart = stepStart;
    previousPeriod = period;
    moveProgress.leadStepsDone.store(plan.leadCount - SAkku - skippedOnRequest,
                                     std::memory_order_relaxed);
    moveProgress.aktFreq.store(aktFreq, std::memory_order_relaxed);
    const std::int32_t elapsed = platform::tickDifference(platform::readCounter(), stepStart);
    WaitTicks(static_cast<std::int32_t>(static_cast<std::uint32_t>(period) -
                                        static_cast<std::uint32_t>(elapsed)));
    // Ramping down on request: SAkku 0 takes the falling branch of the ramp.
    aktFreq = rampingDownOnRequest ? NextStepFrequency(plan, 0, aktFreq)
                                   : NextStepFrequency(plan, SAkku, aktFreq);
    if (const auto request = PendingStop(); request != StopRequest::none) {
      stoppedByOperator = true;
      const std::uint32_t before = SAkku;
      if (request == StopRequest::now) {
        SAkku = 0;
      } else if (!rampingDownOnRequest) {
        // Down over as many steps as the ramp has risen so far.
        rampingDownOnRequest = true;
        SAkku = std::min({SAkku, plan.leadCount - SAkku, plan.rampSteps});
      }
      skippedOnRequest += before - SAkku;
    }
  }
  const std::uint32_t leadSteps = plan.leadCount - SAkku - skippedOnRequest;
  report.axisSteps[plan.lead.axis] += plan.lead.forward ? leadSteps : -std::int64_t{leadSteps};
  report.axisSteps[plan.second.axis] += FollowerSteps(plan.second, secondAkku, leadSteps, lapOfN);
  report.axisSteps[plan.third.axis] += FollowerSteps(plan.third, thirdAkku, leadSteps, lapOfN);
  report.stoppedByOperator = report.stoppedByOperator || stoppedByOperator;
  report.stoppedByInput = report.stoppedByInput || stop;
  return stoppedByOperator;
}

} // namespace

VektorPlan PlanVektorfahrt(std::int32_t xStep, std::int32_t yStep, std::int32_t zStep,
                           std::int32_t startFreq, std::int32_t arbeitsFreq,
                           std::int32_t rampenLaenge) {
  VektorPlan plan{};
  ChooseLead({MotionOf(xAxis, xStep), MotionOf(yAxis, yStep), MotionOf(zAxis, zStep)}, plan);
  plan.startFreq = startFreq;
  plan.arbeitsFreq = arbeitsFreq;
  plan.rampenLaenge = rampenLaenge;
  if (plan.leadCount == 0) {
    return plan;
  }
  ClampFrequencies(plan);
  ComputeRamp(plan);
  return plan;
}

double NextStepFrequency(const VektorPlan &plan, std::uint32_t SAkku, double aktFreq) {
  // The sum is formed in extended precision and then stored as a double.
  if (plan.leadCount - plan.rampSteps <= SAkku) {
    return static_cast<double>(static_cast<long double>(aktFreq) +
                               static_cast<long double>(plan.Steilheit));
  }
  if (SAkku <= plan.rampSteps) {
    return static_cast<double>(static_cast<long double>(aktFreq) -
                               static_cast<long double>(plan.Steilheit));
  }
  return aktFreq;
}

std::int32_t StepPeriod(double aktFreq) {
  const long double ticks =
      static_cast<long double>(counterFrequency) / static_cast<long double>(aktFreq);
  return static_cast<std::int32_t>(static_cast<std::int64_t>(ticks));
}

std::uint8_t Vektorfahrt(std::uint8_t outputMode, std::int32_t xStep, std::int32_t yStep,
                         std::int32_t zStep, std::int32_t startFreq, std::int32_t arbeitsFreq,
                         std::int32_t rampenLaenge) {
  if (outputMode == 0 && !LptState.schrittbetriebSet) {
    platform::showErrorBox("Schrittbetrieb einstellen!");
    return 0;
  }
  if (LptState.traceOn) {
    TraceValues("xStep: %d  yStep: %d  zStep: %d", xStep, yStep, zStep);
  }
  const VektorPlan plan =
      PlanVektorfahrt(xStep, yStep, zStep, startFreq, arbeitsFreq, rampenLaenge);
  if (plan.leadCount == 0) {
    return 0;
  }
  if (LptState.traceOn) {
    TraceValues("  SFreq: %d / AFreq: %d", plan.startFreq, plan.arbeitsFreq);
    TraceValues("  steps: %d / Steilheit: %f", static_cast<int>(plan.rampSteps), plan.Steilheit);
    TraceEmpty();
  }
  const bool stopped = outputMode == 0 ? RunSteps<true>(plan) : RunSteps<false>(plan);
  return stopped ? 1 : 0;
}

void RequestStop(StopRequest request) {
  stopRequest.store(static_cast<int>(request), std::memory_order_relaxed);
}

StopRequest PendingStop() {
  return static_cast<StopRequest>(stopRequest.load(std::memory_order_relaxed));
}

void ClearStopRequest() {
  RequestStop(StopRequest::none);
}

void ResetMoveReport() {
  report = MoveReport{};
}

const MoveReport &LastMoveReport() {
  return report;
}

} // namespace lpt
