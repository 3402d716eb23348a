// main.cpp - kdx620ctl: kdx620's operator commands without a window, for scripts, headless
// machines and tuning.
#include "arguments.h"
#include "run.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char **argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const cli::Parsed parsed = cli::ParseArguments(arguments);
  if (!parsed.invocation) {
    std::fputs(parsed.text.c_str(), parsed.exitCode == 0 ? stdout : stderr);
    return parsed.exitCode;
  }
  return cli::Run(*parsed.invocation);
}
