// trace.cpp - the diagnostic trace file "ausgabe.txt", one flushed line at a time.
#include "trace.h"

#include "lpt.h"

#include <cstdarg>
#include <cstdio>

namespace lpt {

std::ofstream traceStream;
char traceLine[80];

std::ostream &traceEndl(std::ostream &stream) {
  stream.put('\n');
  return stream.flush();
}

void TraceOpen() {
  traceStream.open("ausgabe.txt", std::ios::out | std::ios::trunc);
}

void TraceClose() {
  traceStream.close();
}

void TraceValues(const char *format, ...) {
  va_list values;
  va_start(values, format);
  std::vsnprintf(traceLine, sizeof traceLine, format, values);
  va_end(values);
  traceStream << traceLine << traceEndl;
}

void TraceText(const char *text) {
  traceStream << text << traceEndl;
}

void TraceEmpty() {
  traceStream << traceEndl;
}

} // namespace lpt
