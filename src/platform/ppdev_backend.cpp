// ppdev_backend.cpp - /dev/parportN through the ppdev ioctls, following the driver's base address.
#include "ppdev_backend.h"

#include "error_box.h"
#include "port_address.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace platform {
namespace {

namespace fs = std::filesystem;

std::filesystem::path parportProcFolder(const fs::path &procRoot) {
  return procRoot / "sys" / "dev" / "parport";
}

std::string portLabel(const ParportEntry &entry) {
  return entry.device.string() + " (port " + hexAddress(entry.base) + ")";
}

// "parport3" -> 3; nullopt for other names ("default").
std::optional<unsigned> parportNumber(const std::string &name) {
  constexpr std::string_view prefix = "parport";
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) {
    return std::nullopt;
  }
  unsigned number = 0;
  const char *first = name.data() + prefix.size();
  const char *last = name.data() + name.size();
  const auto [rest, error] = std::from_chars(first, last, number);
  if (error != std::errc() || rest != last) {
    return std::nullopt;
  }
  return number;
}

// The first decimal number of a base-addr file ("888\t0": the base, then the high base).
std::optional<std::uint16_t> readBaseAddress(const fs::path &file) {
  std::ifstream stream(file);
  unsigned long base = 0;
  if (!(stream >> base) || base > 0xFFFF) {
    return std::nullopt;
  }
  return static_cast<std::uint16_t>(base);
}

// A module name from a device name: "lp0" -> "lp".
std::string driverOf(std::string device) {
  while (!device.empty() && std::isdigit(static_cast<unsigned char>(device.back()))) {
    device.pop_back();
  }
  return device;
}

std::string openFailure(const ParportEntry &entry, int error) {
  const std::string label = portLabel(entry);
  switch (error) {
  case ENOENT:
  case ENXIO:
  case ENODEV:
    return label + ": no such device. Load the ppdev driver: \"sudo modprobe ppdev\".";
  case EACCES:
  case EPERM:
    return label +
           ": permission denied. Add your user to group lp (\"sudo adduser $USER lp\", then log "
           "in again), or install packaging/udev/60-kdx620-parport.rules.";
  default:
    return label + ": " + std::strerror(error) + ".";
  }
}

std::string busyFailure(const ParportEntry &entry, const std::string &holder) {
  return portLabel(entry) + ": busy, another driver (" + holder +
         ") is using the port. Unload it (\"sudo rmmod " + driverOf(holder) +
         "\") or keep it from loading at boot, then start again.";
}

class UniqueFd {
public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd &&other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd &operator=(UniqueFd &&other) noexcept {
    UniqueFd(std::move(other)).swap(*this);
    return *this;
  }
  UniqueFd(const UniqueFd &) = delete;
  UniqueFd &operator=(const UniqueFd &) = delete;
  ~UniqueFd() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  void swap(UniqueFd &other) noexcept { std::swap(fd_, other.fd_); }

private:
  int fd_ = -1;
};

UniqueFd openDevice(const fs::path &device) {
  return UniqueFd(::open(device.c_str(), O_RDWR | O_CLOEXEC));
}

class PpdevDevice final : public ParportDevice {
public:
  PpdevDevice(ParportEntry entry, fs::path procRoot, UniqueFd fd)
      : entry_(std::move(entry)), procRoot_(std::move(procRoot)), fd_(std::move(fd)) {}
  PpdevDevice(const PpdevDevice &) = delete;
  PpdevDevice &operator=(const PpdevDevice &) = delete;
  ~PpdevDevice() override {
    if (claimed_) {
      ::ioctl(fd_.get(), PPRELEASE);
    }
  }

  bool claim(std::string &error) override {
    if (!claimExclusively() && !claimShared(error)) {
      return false;
    }
    claimed_ = true;
    write(PortRegister::control, kIdleControl); // PPCLAIM restored a state of its own
    return true;
  }

  bool read(PortRegister reg, std::uint8_t &value) override {
    unsigned char byte = 0;
    const unsigned long request = reg == PortRegister::data     ? PPRDATA
                                  : reg == PortRegister::status ? PPRSTATUS
                                                                : PPRCONTROL;
    if (::ioctl(fd_.get(), request, &byte) != 0) {
      return false;
    }
    value = byte;
    return true;
  }

  void write(PortRegister reg, std::uint8_t value) override {
    if (reg == PortRegister::status) {
      return; // an input register
    }
    unsigned char byte = reg == PortRegister::data ? value : value & kControlOutputs;
    ::ioctl(fd_.get(), reg == PortRegister::data ? PPWDATA : PPWCONTROL, &byte);
  }

private:
  // Exclusive use keeps other drivers off the port while we own it.
  bool claimExclusively() {
    return ::ioctl(fd_.get(), PPEXCL) == 0 && ::ioctl(fd_.get(), PPCLAIM) == 0;
  }

  // Another driver (lp) has registered on the port, so exclusive use was refused. Share the
  // port when nobody holds it now, since PPCLAIM would otherwise wait for the holder.
  bool claimShared(std::string &error) {
    const int exclusiveError = errno;
    if (exclusiveError != ENXIO) {
      error = portLabel(entry_) + ": cannot claim the port: " + std::strerror(exclusiveError) + ".";
      return false;
    }
    if (const auto holder = activeParportHolder(procRoot_, entry_.number)) {
      error = busyFailure(entry_, *holder);
      return false;
    }
    fd_ = openDevice(entry_.device); // the refused exclusive request sticks to the old one
    if (!fd_) {
      error = openFailure(entry_, errno);
      return false;
    }
    if (::ioctl(fd_.get(), PPCLAIM) != 0) {
      error = errno == ENXIO
                  ? busyFailure(entry_, "another program, exclusively")
                  : portLabel(entry_) + ": cannot claim the port: " + std::strerror(errno) + ".";
      return false;
    }
    return true;
  }

  ParportEntry entry_;
  fs::path procRoot_;
  UniqueFd fd_;
  bool claimed_ = false;
};

} // namespace

std::vector<ParportEntry> listParports(const fs::path &procRoot, const fs::path &devRoot) {
  std::vector<ParportEntry> ports;
  std::error_code error;
  for (const auto &folder : fs::directory_iterator(parportProcFolder(procRoot), error)) {
    const auto number = parportNumber(folder.path().filename().string());
    if (!number) {
      continue;
    }
    if (const auto base = readBaseAddress(folder.path() / "base-addr")) {
      ports.push_back({*number, *base, devRoot / folder.path().filename()});
    }
  }
  std::sort(ports.begin(), ports.end(),
            [](const ParportEntry &a, const ParportEntry &b) { return a.number < b.number; });
  return ports;
}

std::string describeParports(const std::vector<ParportEntry> &ports) {
  std::string text;
  for (const auto &port : ports) {
    text += text.empty() ? "" : ", ";
    text += hexAddress(port.base) + " (" + port.device.string() + ")";
  }
  return text.empty() ? "none" : text;
}

std::optional<std::string> activeParportHolder(const fs::path &procRoot, unsigned number) {
  std::ifstream stream(parportProcFolder(procRoot) / ("parport" + std::to_string(number)) /
                       "devices" / "active");
  std::string holder;
  if (!(stream >> holder) || holder == "none") {
    return std::nullopt;
  }
  return holder;
}

std::unique_ptr<ParportDevice> openPpdevDevice(const ParportEntry &entry, const fs::path &procRoot,
                                               std::string &error) {
  UniqueFd fd = openDevice(entry.device);
  if (!fd) {
    error = openFailure(entry, errno);
    return nullptr;
  }
  return std::make_unique<PpdevDevice>(entry, procRoot, std::move(fd));
}

PpdevPortBackend::PpdevPortBackend(PpdevSetup setup) : setup_(std::move(setup)) {
  if (!setup_.open) {
    setup_.open = [procRoot = setup_.procRoot](const ParportEntry &entry, std::string &error) {
      return openPpdevDevice(entry, procRoot, error);
    };
  }
}

PpdevPortBackend::~PpdevPortBackend() {
  stop();
}

bool PpdevPortBackend::start(std::string &reason) {
  stop();
  for (auto &entry : listParports(setup_.procRoot, setup_.devRoot)) {
    Port port{std::move(entry), nullptr, {}, false};
    port.device = setup_.open(port.entry, port.failure);
    ports_.push_back(std::move(port));
  }
  if (ports_.empty()) {
    reason = "no parallel port: the kernel lists none in " +
             parportProcFolder(setup_.procRoot).string() +
             ". Load the drivers (\"sudo modprobe parport_pc ppdev\"); for a card the kernel does "
             "not detect, give its address (\"sudo modprobe parport_pc io=0xdf88 irq=none\").";
    return false;
  }
  const bool anyOpened = std::any_of(ports_.begin(), ports_.end(),
                                     [](const Port &port) { return port.device != nullptr; });
  if (!anyOpened) {
    for (const auto &port : ports_) {
      reason += (reason.empty() ? "" : "\n") + port.failure;
    }
  }
  return anyOpened;
}

void PpdevPortBackend::stop() {
  window_.reset();
  ports_.clear(); // each device releases its claim and closes
}

bool PpdevPortBackend::read(std::uint16_t address, std::uint8_t &value) {
  PortRegister reg{};
  ParportDevice *device = deviceFor(address, reg);
  return device && device->read(reg, value);
}

void PpdevPortBackend::write(std::uint16_t address, std::uint8_t value) {
  PortRegister reg{};
  if (ParportDevice *device = deviceFor(address, reg)) {
    device->write(reg, value);
  }
}

ParportDevice *PpdevPortBackend::deviceFor(std::uint16_t address, PortRegister &reg) {
  auto offset = [address](std::uint16_t base) {
    return static_cast<std::uint16_t>(address - base);
  };
  if (!window_ || offset(window_->base) > 2) {
    window_ = windowFor(address);
    if (!usable(*window_)) {
      tellUnusable(*window_);
    }
  }
  reg = static_cast<PortRegister>(offset(window_->base));
  return usable(*window_) ? window_->port->device.get() : nullptr;
}

PpdevPortBackend::Window PpdevPortBackend::windowFor(std::uint16_t address) {
  for (auto &port : ports_) {
    if (static_cast<std::uint16_t>(address - port.entry.base) > 2) {
      continue;
    }
    // A refused claim is tried again on every return to the port: the operator may have
    // unloaded the driver that held it meanwhile.
    if (port.device && !port.claimed) {
      port.claimed = port.device->claim(port.failure);
    }
    return {port.entry.base, &port};
  }
  return {address, nullptr};
}

void PpdevPortBackend::tellUnusable(const Window &window) {
  if (window.port) {
    showErrorBox(window.port->failure);
    return;
  }
  std::vector<ParportEntry> entries;
  for (const auto &port : ports_) {
    entries.push_back(port.entry);
  }
  showErrorBox("no parallel port at " + hexAddress(window.base) +
               "; ports: " + describeParports(entries) +
               ". Choose one of these, or load parport_pc with the card's address (io=" +
               hexAddress(window.base) + ", see the README, \"Real hardware\").");
}

} // namespace platform
