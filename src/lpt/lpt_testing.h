// lpt_testing.h - test-only access to the driver's process-wide state.
#pragma once

namespace lpt::testing {

// Puts every driver variable back to its value at program start and closes the trace file.
void ResetDriverState();

} // namespace lpt::testing
