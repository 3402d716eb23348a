// trace.h - writers of the diagnostic trace; each caller tests traceOn before each line.
#pragma once

#include <cstdint>

namespace lpt {

// traceOn at program start: 1 when built with KDX620_TRACE=ON.
extern const std::uint8_t kTraceOnAtStart;

// Attaches "ausgabe.txt" to traceStream, emptying it; a failure leaves the stream failed and quiet.
void TraceOpen();
void TraceClose();

// A line with values: formatted into traceLine, written, ended.
[[gnu::format(printf, 1, 2)]] void TraceValues(const char *format, ...);
// A fixed line.
void TraceText(const char *text);
// An empty line.
void TraceEmpty();

} // namespace lpt
