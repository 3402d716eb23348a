// sim_config.cpp - fuzzes the simulated board's configuration string: any text gives a
// configuration or an error that says what is wrong, and a configuration written out as text
// parses back to itself and makes a board that answers at its base.
#include "platform/sim_board.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <variant>

namespace {

std::string AsText(const platform::SimConfig &config) {
  char base[16];
  std::snprintf(base, sizeof base, "base=0x%x", unsigned{config.base});
  return base + std::string(",switch.x=") + std::to_string(config.switchPosition[0]) +
         ",switch.y=" + std::to_string(config.switchPosition[1]) +
         ",switch.z=" + std::to_string(config.switchPosition[2]) +
         ",wiring=" + (config.wiring == platform::SimWiring::single ? "single" : "three") +
         ",polarity=" + (config.polarity == platform::SimPolarity::high ? "high" : "low") +
         ",e1=" + (config.e1 ? "1" : "0") +
         ",drive=" + (config.drive == platform::SimDrive::phase ? "phase" : "clockdir") +
         (config.logFile.empty() ? "" : ",log=" + config.logFile);
}

bool Same(const platform::SimConfig &a, const platform::SimConfig &b) {
  return a.base == b.base && a.switchPosition == b.switchPosition && a.wiring == b.wiring &&
         a.polarity == b.polarity && a.e1 == b.e1 && a.drive == b.drive && a.logFile == b.logFile;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  // The exact bytes, with nothing after them, so that reading one too many is a finding.
  const auto parsed =
      platform::parseSimConfig(std::string_view(reinterpret_cast<const char *>(data), size));
  if (const auto *error = std::get_if<std::string>(&parsed)) {
    if (error->rfind("KDX620_SIM: ", 0) != 0) {
      std::abort();
    }
    return 0;
  }
  const auto &config = std::get<platform::SimConfig>(parsed);
  const auto again = platform::parseSimConfig(AsText(config));
  if (!std::holds_alternative<platform::SimConfig>(again) ||
      !Same(std::get<platform::SimConfig>(again), config)) {
    std::abort();
  }
  // Its control register reads 0 at its base; nothing drives the bus anywhere else (0xFF).
  platform::SimBoard board(config);
  std::uint8_t control = 0xFF;
  if (!board.read(static_cast<std::uint16_t>(config.base + 2), control) || control != 0) {
    std::abort();
  }
  return 0;
}
