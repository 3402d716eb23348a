// sim_backend.cpp - builds the simulated board from KDX620_SIM, and writes its log file.
#include "sim_backend.h"

#include "error_box.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace platform {

// The file is opened at start-up so that a name that cannot be written fails before anything
// moves; the board keeps its events in memory until port access ends, so that no step waits
// for the file.
bool SimPortBackend::start(std::string &reason) {
  const std::string &path = board_->config().logFile;
  if (path.empty() || logFile_.is_open()) {
    return true;
  }
  logFile_.open(path, std::ios::out | std::ios::trunc);
  if (!logFile_) {
    reason =
        "KDX620_SIM: cannot write the board's log \"" + path + "\": " + std::strerror(errno) + ".";
    return false;
  }
  board_->enableLog(kSimLogFileEvents);
  return true;
}

void SimPortBackend::stop() {
  if (!logFile_.is_open()) {
    return;
  }
  logFile_ << simLogText(*board_);
  logFile_.close();
  if (!logFile_) {
    showErrorBox("KDX620_SIM: writing the board's log \"" + board_->config().logFile +
                 "\" failed.");
  }
}

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
