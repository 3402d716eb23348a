// latency.cpp - the overshoot of busy waits, in the manner of motion-control latency tests.
#include "latency.h"

#include "platform/counter.h"
#include "platform/thread.h"

#include <array>
#include <cstdio>
#include <fstream>
#include <string>

namespace cli {
namespace {

constexpr std::int64_t kWaitNs = 100'000;
// Upper bounds of the histogram's buckets, in microseconds; the last takes the rest.
constexpr std::array<double, 9> kBucketUs = {1, 2, 5, 10, 20, 50, 100, 1000, 1e300};

struct Overshoots {
  std::array<std::uint64_t, kBucketUs.size()> counts{};
  std::uint64_t waits = 0;
  std::int64_t largestNs = 0;
};

// Spins through waits of 100 us for the given time; a stall of the thread shows as overshoot.
class LatencyThread final : public platform::Thread {
public:
  explicit LatencyThread(std::int64_t durationNs) : durationNs_(durationNs) {}
  const Overshoots &result() const { return result_; }

protected:
  void Execute() override {
    platform::MonotonicCounter clock;
    const std::int64_t end = clock.read() + durationNs_;
    for (std::int64_t deadline = clock.read() + kWaitNs; deadline < end; deadline += kWaitNs) {
      std::int64_t now = clock.read();
      while (now < deadline) {
        now = clock.read();
      }
      Count(now - deadline);
      deadline = now; // the next wait starts where this one came back
    }
  }

private:
  void Count(std::int64_t overshootNs) {
    const double us = static_cast<double>(overshootNs) / 1000.0;
    std::size_t bucket = 0;
    while (us >= kBucketUs[bucket] && bucket + 1 < kBucketUs.size()) {
      ++bucket;
    }
    ++result_.counts[bucket];
    ++result_.waits;
    result_.largestNs = std::max(result_.largestNs, overshootNs);
  }

  std::int64_t durationNs_;
  Overshoots result_;
};

std::string Throttling() {
  std::ifstream setting("/proc/sys/kernel/sched_rt_runtime_us");
  long runtime = -1;
  if (!(setting >> runtime)) {
    return "unknown";
  }
  return runtime < 0 ? "off (kernel.sched_rt_runtime_us=-1)"
                     : "on (kernel.sched_rt_runtime_us=" + std::to_string(runtime) + ")";
}

} // namespace

int RunLatency(double seconds) {
  LatencyThread thread(static_cast<std::int64_t>(seconds * 1e9));
  if (!thread.created()) {
    std::fprintf(stderr, "kdx620ctl: no thread for the measurement (%s)\n",
                 thread.creationError().c_str());
    return 1;
  }
  thread.setPriority(platform::ThreadPriority::timeCritical);
  thread.resume();
  thread.join();
  const platform::RealTimeState state = platform::realTimeState();
  const Overshoots &result = thread.result();
  std::printf("latency: %llu busy waits of 100 us in %.1f s\n",
              static_cast<unsigned long long>(result.waits), seconds);
  std::printf("real-time priority: %s%s%s\n", state.granted ? "yes (SCHED_FIFO)" : "no",
              state.cpu >= 0 ? ", pinned to CPU " : "",
              state.cpu >= 0 ? std::to_string(state.cpu).c_str() : "");
  std::printf("real-time throttling: %s\n", Throttling().c_str());
  for (std::size_t bucket = 0; bucket < kBucketUs.size(); ++bucket) {
    const auto count = static_cast<unsigned long long>(result.counts[bucket]);
    if (bucket == 0) {
      std::printf("  overshoot below %g us: %llu\n", kBucketUs[0], count);
    } else if (bucket + 1 == kBucketUs.size()) {
      std::printf("  overshoot %g us and more: %llu\n", kBucketUs[bucket - 1], count);
    } else {
      std::printf("  overshoot %g to %g us: %llu\n", kBucketUs[bucket - 1], kBucketUs[bucket],
                  count);
    }
  }
  std::printf("largest jitter: %.1f us\n", static_cast<double>(result.largestNs) / 1000.0);
  return 0;
}

} // namespace cli
