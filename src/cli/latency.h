// latency.h - how late a busy wait on the counter comes back at the worker's priority.
#pragma once

namespace cli {

// Measures for `seconds` on a time-critical thread: waits of 100 us on the counter, each one's
// overshoot past its deadline, as a histogram with the largest; says whether real-time
// priority and real-time throttling were in force. Returns the exit code.
int RunLatency(double seconds);

} // namespace cli
