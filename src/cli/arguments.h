// arguments.h - kdx620ctl's command line: global options and one command, parsed strictly.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace cli {

struct GlobalOptions {
  std::optional<std::string> io; // backend; unset: KDX620_IO or sim
  int portItem = 2;              // 0 LPT1, 1 LPT2, 2 the free address
  std::string freeAddress = "0xdf88";
  bool fullStep = false;
  int holdLevelItem = 1; // 0 " 0%", 1 " 20%", 2 " 60%"
  bool lowActive = false;
  bool threeLines = false; // reference input on status lines 5, 6, 7
  bool waitForE1 = false;
  bool clockDir = false;
  bool quiet = false;
};

struct MoveArgs {
  std::int32_t x = 0, y = 0, z = 0;
  std::int32_t start = 200, work = 600, ramp = 100;
  bool clockDir = false;
};

struct HomeArgs {
  char axis = 'x'; // 'x', 'y', 'z', or 'a' for all (z, x, y)
  std::int32_t start = 200, refFreq = 500, refOffset = 25, ramp = 100;
  bool clockDir = false;
};

struct OutputArgs {
  bool set = false;
};

struct InputsArgs {};

struct ProfileArgs {
  MoveArgs move;
  std::string plotFile; // empty: no plot
  bool run = false;     // also run it on the simulated board and plot what happened
};

struct LatencyArgs {
  double seconds = 10;
};

struct ScriptArgs {
  std::string file; // "-" reads standard input
};

using CommandArgs =
    std::variant<MoveArgs, HomeArgs, OutputArgs, InputsArgs, ProfileArgs, LatencyArgs, ScriptArgs>;

struct Invocation {
  GlobalOptions global;
  CommandArgs command;
};

// A parsed command line, or the text to print and the exit code: 0 for --help, 2 for
// anything malformed or out of range.
struct Parsed {
  std::optional<Invocation> invocation;
  std::string text;
  int exitCode = 0;
};

// Parses the arguments after the program's name.
Parsed ParseArguments(const std::vector<std::string> &arguments);

// Parses one command of a script, words split at blanks, with the script's global options.
Parsed ParseScriptLine(const std::string &line, const GlobalOptions &global);

// Whether a command drives the board (and so needs the start-up and shut-down).
bool UsesTheBoard(const CommandArgs &command);

} // namespace cli
