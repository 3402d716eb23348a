// demo_main.cpp - kdx620 without its window: runs the start-up configuration on the chosen
// port backend and shows what the board latched.
#include "lpt/lpt.h"
#include "platform/port_io.h"
#include "platform/sim_backend.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <optional>
#include <string>

namespace {

// The window's start-up: port 0xdf88, half step, " 20%" holding current and its patterns,
// pin 14 reset, the single high-active reference input.
bool RunStartUp() {
  if (!lpt::LptOpen() || !lpt::TimerOpen()) {
    return false;
  }
  lpt::SetPortAddress("0xdf88");
  lpt::SetSchrittbetrieb(0, 1);
  lpt::OutputRuhestrom(1);
  lpt::SetControlBit(2, 0);
  lpt::SetRefInput(1, 1);
  return true;
}

void PrintBoard(const platform::SimBoard &board) {
  std::printf("latched: x=0x%02X y=0x%02X z=0x%02X\n", board.latch(0), board.latch(1),
              board.latch(2));
  std::printf("motors:  x=%lld y=%lld z=%lld half-steps, %u lost\n",
              static_cast<long long>(board.position(0)), static_cast<long long>(board.position(1)),
              static_cast<long long>(board.position(2)), board.lostSteps());
  std::printf("pin 14:  %s\n", board.pinHigh(14) ? "high" : "low");
}

} // namespace

int main(int argc, char **argv) {
  CLI::App app{"kdx620 - stepper controller on the parallel port (start-up demo)"};
  std::optional<std::string> io;
  app.add_option("--io", io, "port backend: sim (default), ppdev or direct; or KDX620_IO");
  CLI11_PARSE(app, argc, argv);

  const std::string backend = platform::chosenPortBackendName(io);
  if (const auto error = platform::selectPortBackend(backend)) {
    std::fprintf(stderr, "kdx620: %s\n", error->c_str());
    return 2;
  }
  std::printf("kdx620 start-up on backend \"%s\": port 0xdf88, half step, holding current 20 %%\n",
              backend.c_str());
  if (!RunStartUp()) {
    return 1;
  }
  if (const platform::SimBoard *board = platform::activeSimBoard()) {
    PrintBoard(*board);
  }
  lpt::LptClose();
  return 0;
}
