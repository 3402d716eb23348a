// board_summary.h - what a simulated board did, as lines of text that the QEMU rig compares:
// the host's reference run prints them, and so does the FUSE server for the board behind the
// guest's port.
#pragma once

#include "platform/sim_board.h"

#include <cstdio>
#include <sstream>
#include <string>

namespace kdx620::rig {

// Events the board keeps in its log: far more than a rig sequence makes.
inline constexpr std::size_t kLogCapacity = 1 << 16;

inline std::string hexByte(unsigned value) {
  char text[4];
  std::snprintf(text, sizeof text, "%02x", value & 0xFFU);
  return text;
}

// The latched bytes in order (axis in bits 6-7, as on the data lines), the motors' positions,
// the clock edges counted (clock/direction drive), the latches, the data register and the two
// output pins the driver uses.
inline std::string boardSummary(const platform::SimBoard &board) {
  std::ostringstream text;
  text << "board latched";
  for (const auto &event : board.log()) {
    if (event.kind == platform::SimEvent::Kind::latch) {
      text << ' ' << hexByte(static_cast<unsigned>(event.axis << 6) | event.value);
    }
  }
  text << "\nboard motors x=" << board.motor(0).position() << " y=" << board.motor(1).position()
       << " z=" << board.motor(2).position() << " lost=" << board.lostSteps() << '\n';
  text << "board clocks x=" << board.clockSteps(0) << " y=" << board.clockSteps(1)
       << " z=" << board.clockSteps(2) << '\n';
  text << "board latch x=" << hexByte(board.latch(0)) << " y=" << hexByte(board.latch(1))
       << " z=" << hexByte(board.latch(2)) << '\n';
  text << "board data=" << hexByte(board.dataRegister()) << " pin1=" << board.pinHigh(1)
       << " pin14=" << board.pinHigh(14) << '\n';
  return text.str();
}

} // namespace kdx620::rig
