// lpt_testing.cpp - resets the driver between tests.
#include "lpt_testing.h"

#include "lpt.h"
#include "trace.h"

#include <algorithm>

namespace lpt::testing {

void ResetDriverState() {
  LptState = LptStateRecord{kTraceOnAtStart, 0, 0, 0, 0, 0, 0, {0, 0, 0}};
  portData = portStatus = portControl = 0;
  portValue = 0;
  lastOutValue = 0;
  counterFrequency = 0;
  maxPhase = 0;
  std::fill(std::begin(runPattern), std::end(runPattern), 0U);
  std::fill(std::begin(holdPattern), std::end(holdPattern), 0U);
  std::fill(std::begin(clockBit), std::end(clockBit), 0U);
  std::fill(std::begin(dirBit), std::end(dirBit), 0U);
  if (traceStream.is_open()) {
    traceStream.close();
  }
  traceStream.clear();
}

} // namespace lpt::testing
