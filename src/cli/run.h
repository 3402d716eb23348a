// run.h - carries out a parsed kdx620ctl invocation.
#pragma once

#include "arguments.h"

namespace cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;   // the port or a file could not be used
inline constexpr int kExitUsage = 2;     // malformed input: nothing moved
inline constexpr int kExitStopped = 130; // stopped by the operator (Ctrl-C, SIGTERM)

// Runs the command: start-up as the window's, the command, shut-down; on the simulated board
// the last line on stdout is the board's state. Returns the exit code.
int Run(const Invocation &invocation);

} // namespace cli
