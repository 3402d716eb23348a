// demo.cpp - a short run of the operator's commands on the simulated board, printed.
#include "demo.h"

#include "commands/commands.h"
#include "lpt/lpt.h"
#include "platform/sim_backend.h"

#include <cstdio>

namespace {

void PrintBoard(const char *after) {
  const platform::SimBoard *board = platform::activeSimBoard();
  if (!board) {
    std::printf("%-28s done\n", after);
    return;
  }
  std::printf("%-28s x=%lld y=%lld z=%lld half-steps, %u lost, latches %02X %02X %02X, pin 14 %s\n",
              after, static_cast<long long>(board->position(0)),
              static_cast<long long>(board->position(1)),
              static_cast<long long>(board->position(2)), board->lostSteps(), board->latch(0),
              board->latch(1), board->latch(2), board->pinHigh(14) ? "high" : "low");
}

} // namespace

int RunHeadlessDemo() {
  if (!commands::StartUp(commands::StartUpSettings{})) {
    return 1;
  }
  PrintBoard("start-up (0xdf88, 20 %):");
  commands::Vektorfahrt(false, [] { return commands::MoveFields{200, 600, 100, 1000, 0, 0}; });
  PrintBoard("Vektorfahrt 1000, 0, 0:");
  commands::RefFahrtAxis(false, 'z', [] { return commands::RefFields{200, 100, 500, 25}; });
  PrintBoard("Referenzfahrt z:");
  commands::SetOutputPin(false, 1);
  PrintBoard("Ausgang set:");
  commands::SetOutputPin(false, 0);
  PrintBoard("Ausgang reset:");
  lpt::LptClose();
  return 0;
}
