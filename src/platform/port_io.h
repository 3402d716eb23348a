// port_io.h - byte-wide access to the parallel port's registers through one chosen backend.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// One way of reaching the port's registers: the simulated board, /dev/parportN, or raw I/O.
class PortBackend {
public:
  virtual ~PortBackend() = default;

  virtual std::string_view name() const = 0;
  // Makes the registers reachable; on failure says why in `reason`.
  virtual bool start(std::string &reason) = 0;
  virtual void stop() = 0;
  // Reads one register; false when the read did not happen.
  virtual bool read(std::uint16_t address, std::uint8_t &value) = 0;
  virtual void write(std::uint16_t address, std::uint8_t value) = 0;
};

// Names accepted by --io and KDX620_IO, in the order help texts list them.
std::vector<std::string_view> portBackendNames();

// The backend name the operator asked for: the command line wins over KDX620_IO; default "sim".
std::string chosenPortBackendName(std::optional<std::string_view> fromCommandLine);

// Creates and installs the named backend; returns an error text for an unknown name
// or a backend whose configuration is wrong.
std::optional<std::string> selectPortBackend(std::string_view name);

// Installs a backend directly (tests, tools); nullptr restores "no backend".
void installPortBackend(std::unique_ptr<PortBackend> backend);

// The installed backend, or nullptr.
PortBackend *portBackend();

// The four operations the driver is built on.
// Starts port access once; false when the backend cannot start (see portStartFailure).
bool portInitialize();
// Ends port access once.
void portShutdown();
// Reads the byte at `address` into `value` (upper bits cleared); false when it failed.
bool portRead(std::uint16_t address, std::uint32_t &value);
// Writes the low byte of `value` to `address`.
void portWrite(std::uint16_t address, std::uint32_t value);

// Why the last portInitialize() failed, empty if it did not.
const std::string &portStartFailure();

} // namespace platform
