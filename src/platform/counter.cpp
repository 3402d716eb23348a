// counter.cpp - CLOCK_MONOTONIC as the step timer, and the seam that swaps it.
#include "counter.h"

#include <ctime>

namespace platform {
namespace {

constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;

MonotonicCounter &monotonicCounter() {
  static MonotonicCounter monotonic;
  return monotonic;
}

Counter *&current() {
  static Counter *active = &monotonicCounter();
  return active;
}

} // namespace

bool MonotonicCounter::frequency(std::int64_t &ticksPerSecond) {
  timespec resolution{};
  if (clock_getres(CLOCK_MONOTONIC, &resolution) != 0) {
    return false;
  }
  ticksPerSecond = kNanosecondsPerSecond;
  return true;
}

std::int64_t MonotonicCounter::read() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * kNanosecondsPerSecond + now.tv_nsec;
}

Counter &counter() {
  return *current();
}

void installCounter(Counter *replacement) {
  current() = replacement ? replacement : &monotonicCounter();
}

} // namespace platform
