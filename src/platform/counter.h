// counter.h - the monotonic tick counter that times every step, behind one seam for tests.
#pragma once

#include <atomic>
#include <cstdint>

namespace platform {

// A monotonic counter with a known rate.
class Counter {
public:
  virtual ~Counter() = default;
  // Ticks per second; false when the counter is unavailable.
  virtual bool frequency(std::int64_t &ticksPerSecond) = 0;
  // The current count, as the timed code sees it.
  virtual std::int64_t read() = 0;
  // The current count for observers (logs), which must not disturb what the timed code sees.
  virtual std::int64_t peek() { return read(); }
};

// CLOCK_MONOTONIC in nanoseconds: 10^9 ticks per second.
class MonotonicCounter final : public Counter {
public:
  bool frequency(std::int64_t &ticksPerSecond) override;
  std::int64_t read() override;
};

// A counter that moves only when read or told to: each read returns the count and then
// advances it by `stride`, so busy waits end after a known number of reads and take no real time.
class FakeCounter final : public Counter {
public:
  explicit FakeCounter(std::int64_t ticksPerSecond = 1'000'000, std::int64_t stride = 1,
                       std::int64_t start = 0)
      : ticksPerSecond_(ticksPerSecond), stride_(stride), value_(start) {}

  bool frequency(std::int64_t &ticksPerSecond) override {
    ticksPerSecond = ticksPerSecond_;
    return ticksPerSecond_ != 0;
  }
  std::int64_t read() override { return value_.fetch_add(stride_, std::memory_order_relaxed); }
  std::int64_t peek() override { return value_.load(std::memory_order_relaxed); }

  void advance(std::int64_t ticks) { value_.fetch_add(ticks, std::memory_order_relaxed); }
  void setStride(std::int64_t stride) { stride_ = stride; }

private:
  std::int64_t ticksPerSecond_;
  std::int64_t stride_;
  std::atomic<std::int64_t> value_;
};

// The counter in use; the monotonic one unless a test installed another.
Counter &counter();
// Installs `replacement` (not owned); nullptr goes back to the monotonic counter.
void installCounter(Counter *replacement);

inline bool queryCounterFrequency(std::int64_t &ticksPerSecond) {
  return counter().frequency(ticksPerSecond);
}
inline std::int64_t readCounter() {
  return counter().read();
}

// Signed difference of the low 32 bits of two counts: right for spans below 2^31 ticks,
// and immune to where the 64-bit count stands.
inline std::int32_t tickDifference(std::int64_t later, std::int64_t earlier) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(later) -
                                   static_cast<std::uint32_t>(earlier));
}

} // namespace platform
