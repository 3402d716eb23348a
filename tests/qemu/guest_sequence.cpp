// guest_sequence.cpp - runs a command sequence through the driver on a chosen port backend: in
// the QEMU guest on ppdev or direct, and on the host on the simulated board for reference.
//
// Commands, one per line on standard input ('#' starts a comment):
//   open              LptOpen and TimerOpen alone
//   startup           open, then SetPortAddress(--port), half step at " 20%", the holding
//                     patterns, pin 14 reset, the single high-active reference input
//   port              SetPortAddress(--port) alone
//   steps AXIS N      N latched half-steps of AXIS (x, y or z), backwards for N < 0, made as a
//                     vector move makes them: next phase index, its run pattern, WriteLatched
//   hold              OutputRuhestrom(1)
//   clockdir AXIS N   N steps in clock/direction output: the direction line, then a clock pulse
//   pin14 LEVEL       SetControlBit(2, LEVEL)
//   status            prints the level of pins 15, 13, 12, 10 and 11 (SampleStatusBit)
//   creds             prints this process's user and capability sets
// Every error box is printed as one line "box: TEXT" ("\n" for its line breaks). On the
// simulated board the board's summary follows the sequence.
#include "board_summary.h"

#include "lpt/lpt.h"
#include "platform/error_box.h"
#include "platform/port_io.h"
#include "platform/sim_backend.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace {

struct StatusLine {
  int pin;
  std::int32_t mask;
};
constexpr StatusLine kStatusLines[] = {{15, 0x08}, {13, 0x10}, {12, 0x20}, {10, 0x40}, {11, 0x80}};

void printBox(std::string_view text) {
  std::string line(text);
  for (std::size_t at = line.find('\n'); at != std::string::npos; at = line.find('\n', at)) {
    line.replace(at, 1, "\\n");
  }
  std::printf("box: %s\n", line.c_str());
}

bool parseAxis(const std::string &word, lpt::Axis &axis) {
  if (word != "x" && word != "y" && word != "z") {
    return false;
  }
  axis = static_cast<lpt::Axis>(word[0] - 'x');
  return true;
}

void latchedStep(lpt::Axis axis, bool forward) {
  std::uint8_t &index = lpt::LptState.phaseIndex[axis];
  if (forward) {
    index = index >= lpt::maxPhase ? 0 : static_cast<std::uint8_t>(index + 1);
  } else {
    index = index == 0 ? lpt::maxPhase : static_cast<std::uint8_t>(index - 1);
  }
  lpt::lastOutValue = lpt::runPattern[index] + (static_cast<std::uint32_t>(axis) << 6);
  lpt::WriteLatched(lpt::lastOutValue);
}

void clockDirectionStep(lpt::Axis axis, bool forward) {
  lpt::SetDataBits(lpt::dirBit[axis], forward ? 1 : 0);
  lpt::SetDataBits(lpt::clockBit[axis], 1);
  lpt::SetDataBits(lpt::clockBit[axis], 0);
}

void printStatus() {
  std::string line = "status";
  for (const auto &status : kStatusLines) {
    line +=
        " " + std::to_string(status.pin) + "=" + (lpt::SampleStatusBit(status.mask) ? "1" : "0");
  }
  std::printf("%s\n", line.c_str());
}

void printCredentials() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("Uid:") || line.starts_with("CapPrm:") || line.starts_with("CapEff:")) {
      std::istringstream words(line);
      std::string word;
      std::string normalised = "creds";
      while (words >> word) {
        normalised += " " + word;
      }
      std::printf("%s\n", normalised.c_str());
    }
  }
}

class Sequence {
public:
  explicit Sequence(std::string port) : port_(std::move(port)) {}

  // Runs one command line; false when it is malformed or the start-up failed.
  bool run(const std::string &line, std::string &error) {
    std::istringstream words(line.substr(0, line.find('#')));
    std::string command;
    if (!(words >> command)) {
      return true;
    }
    if (command == "open") {
      return open(error);
    }
    if (command == "startup") {
      return open(error) && startUp();
    }
    if (command == "port") {
      lpt::SetPortAddress(port_.c_str());
    } else if (command == "hold") {
      lpt::OutputRuhestrom(1);
    } else if (command == "status") {
      printStatus();
    } else if (command == "creds") {
      printCredentials();
    } else if (command == "pin14") {
      int level = 0;
      if (!(words >> level)) {
        return bad(line, error);
      }
      lpt::SetControlBit(2, level);
    } else if (command == "steps" || command == "clockdir") {
      std::string axisWord;
      lpt::Axis axis{};
      long count = 0;
      if (!(words >> axisWord >> count) || !parseAxis(axisWord, axis)) {
        return bad(line, error);
      }
      for (long step = 0; step < std::labs(count); ++step) {
        command == "steps" ? latchedStep(axis, count > 0) : clockDirectionStep(axis, count > 0);
      }
    } else {
      return bad(line, error);
    }
    return true;
  }

private:
  static bool bad(const std::string &line, std::string &error) {
    error = "bad command \"" + line + "\"";
    return false;
  }

  static bool open(std::string &error) {
    if (!lpt::LptOpen() || !lpt::TimerOpen()) {
      error = "opening port access failed";
      return false;
    }
    return true;
  }

  bool startUp() {
    lpt::SetPortAddress(port_.c_str());
    lpt::SetSchrittbetrieb(0, 1);
    lpt::OutputRuhestrom(1);
    lpt::SetControlBit(2, 0);
    lpt::SetRefInput(1, 1);
    return true;
  }

  std::string port_;
};

} // namespace

int main(int argc, char **argv) {
  CLI::App app{"guest_sequence - a driver command sequence from standard input, for the QEMU rig"};
  std::string io = "sim";
  std::string port = "0x378";
  app.add_option("--io", io, "port backend: sim, ppdev or direct");
  app.add_option("--port", port, "base address for startup and port");
  CLI11_PARSE(app, argc, argv);

  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  platform::setErrorBoxHandler(printBox);
  if (const auto error = platform::selectPortBackend(io)) {
    std::fprintf(stderr, "guest_sequence: %s\n", error->c_str());
    return 2;
  }
  if (platform::SimBoard *board = platform::activeSimBoard()) {
    board->enableLog(kdx620::rig::kLogCapacity);
  }

  Sequence sequence(port);
  std::string error;
  for (std::string line; std::getline(std::cin, line);) {
    if (!sequence.run(line, error)) {
      std::fprintf(stderr, "guest_sequence: %s\n", error.c_str());
      return 1;
    }
  }
  lpt::LptClose();
  if (const platform::SimBoard *board = platform::activeSimBoard()) {
    std::printf("%s", kdx620::rig::boardSummary(*board).c_str());
  }
  return 0;
}
