// port_io.cpp - backend registry and the four port operations the driver uses.
#include "port_io.h"

#include "direct_backend.h"
#include "ppdev_backend.h"
#include "sim_backend.h"

#include <cstdlib>
#include <functional>

namespace platform {
namespace {

struct BackendEntry {
  std::string_view name;
  // Builds the backend, or fills `error` when its configuration is wrong.
  std::function<std::unique_ptr<PortBackend>(std::string &error)> create;
};

const std::vector<BackendEntry> &backendTable() {
  static const std::vector<BackendEntry> table = {
      {"sim", [](std::string &error) { return makeSimBackendFromEnvironment(error); }},
      {"ppdev", [](std::string &) { return std::make_unique<PpdevPortBackend>(); }},
      {"direct", [](std::string &error) { return makeDirectBackend(error); }},
  };
  return table;
}

std::unique_ptr<PortBackend> &installed() {
  static std::unique_ptr<PortBackend> backend;
  return backend;
}

std::string &startFailure() {
  static std::string text;
  return text;
}

std::string joinedNames() {
  std::string names;
  for (const auto name : portBackendNames()) {
    names += names.empty() ? "" : ", ";
    names += name;
  }
  return names;
}

} // namespace

std::vector<std::string_view> portBackendNames() {
  std::vector<std::string_view> names;
  for (const auto &entry : backendTable()) {
    names.push_back(entry.name);
  }
  return names;
}

std::string chosenPortBackendName(std::optional<std::string_view> fromCommandLine) {
  if (fromCommandLine) {
    return std::string(*fromCommandLine);
  }
  if (const char *fromEnvironment = std::getenv("KDX620_IO"); fromEnvironment && *fromEnvironment) {
    return fromEnvironment;
  }
  return "sim";
}

std::optional<std::string> selectPortBackend(std::string_view name) {
  for (const auto &entry : backendTable()) {
    if (entry.name == name) {
      std::string error;
      auto backend = entry.create(error);
      if (!backend) {
        return error;
      }
      installPortBackend(std::move(backend));
      return std::nullopt;
    }
  }
  return "unknown port backend \"" + std::string(name) + "\"; valid names: " + joinedNames();
}

void installPortBackend(std::unique_ptr<PortBackend> backend) {
  installed() = std::move(backend);
}

PortBackend *portBackend() {
  return installed().get();
}

bool portInitialize() {
  startFailure().clear();
  PortBackend *backend = portBackend();
  if (!backend) {
    startFailure() = "no port backend selected";
    return false;
  }
  return backend->start(startFailure());
}

void portShutdown() {
  if (PortBackend *backend = portBackend()) {
    backend->stop();
  }
}

bool portRead(std::uint16_t address, std::uint32_t &value) {
  PortBackend *backend = portBackend();
  std::uint8_t byte = 0;
  if (!backend || !backend->read(address, byte)) {
    return false;
  }
  value = byte;
  return true;
}

void portWrite(std::uint16_t address, std::uint32_t value) {
  if (PortBackend *backend = portBackend()) {
    backend->write(address, static_cast<std::uint8_t>(value & 0xFFU));
  }
}

const std::string &portStartFailure() {
  return startFailure();
}

} // namespace platform
