// sim_backend.cpp - builds the simulated board from KDX620_SIM.
#include "sim_backend.h"

#include <cstdlib>

namespace platform {

std::unique_ptr<PortBackend> makeSimBackendFromEnvironment(std::string &error) {
  const char *settings = std::getenv("KDX620_SIM");
  auto parsed = parseSimConfig(settings ? settings : "");
  if (const auto *message = std::get_if<std::string>(&parsed)) {
    error = *message;
    return nullptr;
  }
  return std::make_unique<SimPortBackend>(std::make_shared<SimBoard>(std::get<SimConfig>(parsed)));
}

SimBoard *activeSimBoard() {
  auto *sim = dynamic_cast<SimPortBackend *>(portBackend());
  return sim ? &sim->board() : nullptr;
}

} // namespace platform
