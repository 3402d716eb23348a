// cli_arguments.cpp - fuzzes kdx620ctl's command line: any words, split at NUL bytes, and any
// script line give an invocation or a message with exit status 0 or 2, never a fault; what
// parses holds only values inside its ranges.
#include "cli/arguments.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace {

void CheckRanges(const cli::Invocation &invocation) {
  if (const auto *move = std::get_if<cli::MoveArgs>(&invocation.command)) {
    if (move->start < 1 || move->start > 64000 || move->work < 1 || move->work > 64000 ||
        move->ramp < 0 || move->ramp > 60000) {
      std::abort();
    }
  }
  if (const auto *home = std::get_if<cli::HomeArgs>(&invocation.command)) {
    if (home->axis != 'x' && home->axis != 'y' && home->axis != 'z' && home->axis != 'a') {
      std::abort();
    }
  }
  if (invocation.global.portItem < 0 || invocation.global.portItem > 2 ||
      invocation.global.holdLevelItem < 0 || invocation.global.holdLevelItem > 2) {
    std::abort();
  }
}

void Check(const cli::Parsed &parsed) {
  if (parsed.invocation) {
    CheckRanges(*parsed.invocation);
  } else if (parsed.exitCode != 0 && parsed.exitCode != 2) {
    std::abort();
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char *>(data), size);
  std::vector<std::string> words;
  for (std::size_t start = 0; start <= bytes.size();) {
    const std::size_t end = std::min(bytes.find('\0', start), bytes.size());
    words.emplace_back(bytes.substr(start, end - start));
    start = end + 1;
  }
  Check(cli::ParseArguments(words));
  Check(cli::ParseScriptLine(std::string(bytes), cli::GlobalOptions{}));
  return 0;
}
