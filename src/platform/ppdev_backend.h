// ppdev_backend.h - the port backend on Linux's /dev/parportN (ppdev), without root: the
// driver's absolute register addresses are mapped to the port whose base address they belong to.
#pragma once

#include "port_io.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Register offsets from a port's base address.
enum class PortRegister : std::uint8_t { data = 0, status = 1, control = 2 };

// A parallel port the kernel knows: /dev/parportN at a base address.
struct ParportEntry {
  unsigned number = 0;
  std::uint16_t base = 0;
  std::filesystem::path device;
};

// The ports listed under <procRoot>/sys/dev/parport/parportN/base-addr, by number; their
// devices are <devRoot>/parportN. Empty when the kernel has none (or no parport driver).
std::vector<ParportEntry> listParports(const std::filesystem::path &procRoot,
                                       const std::filesystem::path &devRoot);

// "0x378 (/dev/parport0), 0x278 (/dev/parport1)", or "none".
std::string describeParports(const std::vector<ParportEntry> &ports);

// The device that holds a port at the moment ("lp0"), from
// <procRoot>/sys/dev/parport/parportN/devices/active; nullopt when nobody does.
std::optional<std::string> activeParportHolder(const std::filesystem::path &procRoot,
                                               unsigned number);

// One opened /dev/parportN.
class ParportDevice {
public:
  virtual ~ParportDevice() = default;
  // Takes the port for this process and puts its control register in a known state;
  // false with a message for the operator in `error`.
  virtual bool claim(std::string &error) = 0;
  // Register images as the port presents them: status bit 7 is the inverted pin 11, control
  // bits 0-3 as written.
  virtual bool read(PortRegister reg, std::uint8_t &value) = 0;
  virtual void write(PortRegister reg, std::uint8_t value) = 0;
};

// Opens the device of `entry`; nullptr with a message for the operator in `error`.
using ParportOpener =
    std::function<std::unique_ptr<ParportDevice>(const ParportEntry &entry, std::string &error)>;

// The ppdev calls on the real device; `procRoot` tells who holds a busy port.
std::unique_ptr<ParportDevice> openPpdevDevice(const ParportEntry &entry,
                                               const std::filesystem::path &procRoot,
                                               std::string &error);

// The control register after claiming: strobe idle, printer not in reset (pin 16 high),
// select-in on; pin 14 is the driver's to set.
inline constexpr std::uint8_t kIdleControl = 0x0C;

struct PpdevSetup {
  std::filesystem::path procRoot = "/proc";
  std::filesystem::path devRoot = "/dev";
  ParportOpener open; // empty: the real ppdev device
};

// start() opens every port the kernel lists and fails only when none can be opened. A port is
// claimed when the driver first uses its base address, and kept until stop(), so that going
// back to it finds its registers as they were. Accesses to an address that belongs to no usable
// port fail (reads) or are dropped (writes); the operator is told why once each time the driver
// moves to such an address.
class PpdevPortBackend final : public PortBackend {
public:
  explicit PpdevPortBackend(PpdevSetup setup = {});
  ~PpdevPortBackend() override;

  std::string_view name() const override { return "ppdev"; }
  bool start(std::string &reason) override;
  void stop() override;
  bool read(std::uint16_t address, std::uint8_t &value) override;
  void write(std::uint16_t address, std::uint8_t value) override;

private:
  struct Port {
    ParportEntry entry;
    std::unique_ptr<ParportDevice> device; // nullptr when it could not be opened
    std::string failure;                   // why it is unusable
    bool claimed = false;
  };
  // The address range the driver works in: a port's three registers, or, when no port is
  // there, the three addresses from the first one used.
  struct Window {
    std::uint16_t base = 0;
    Port *port = nullptr;
  };

  static bool usable(const Window &window) { return window.port && window.port->claimed; }
  ParportDevice *deviceFor(std::uint16_t address, PortRegister &reg);
  Window windowFor(std::uint16_t address);
  void tellUnusable(const Window &window);

  PpdevSetup setup_;
  std::vector<Port> ports_;
  std::optional<Window> window_;
};

} // namespace platform
