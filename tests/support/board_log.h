// board_log.h - reading what the simulated board's log says the motors were told.
#pragma once

#include "platform/sim_board.h"

#include <cstdint>
#include <vector>

namespace kdx620::test {

// Axes of the latched bytes, in the order the board took them.
inline std::vector<int> latchedAxes(const platform::SimBoard &board) {
  std::vector<int> axes;
  for (const auto &event : board.log()) {
    if (event.kind == platform::SimEvent::Kind::latch) {
      axes.push_back(event.axis);
    }
  }
  return axes;
}

// Ticks between consecutive events of `kind` on `axis`.
inline std::vector<std::int64_t> intervals(const platform::SimBoard &board, int axis,
                                           platform::SimEvent::Kind kind) {
  std::vector<std::int64_t> gaps;
  std::int64_t previous = -1;
  for (const auto &event : board.log()) {
    if (event.kind != kind || event.axis != axis) {
      continue;
    }
    if (previous >= 0) {
      gaps.push_back(event.ticks - previous);
    }
    previous = event.ticks;
  }
  return gaps;
}

// For each step of `follower`, how many steps `lead` had made by then (its lead step number).
inline std::vector<int> leadStepsOf(const platform::SimBoard &board, int lead, int follower) {
  std::vector<int> steps;
  int leadSteps = 0;
  for (const int axis : latchedAxes(board)) {
    leadSteps += axis == lead ? 1 : 0;
    if (axis == follower) {
      steps.push_back(leadSteps);
    }
  }
  return steps;
}

} // namespace kdx620::test
