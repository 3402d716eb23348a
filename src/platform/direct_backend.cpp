// direct_backend.cpp - raw port I/O with ioperm, and the privileges it takes.
//
// Privileges. ioperm needs CAP_SYS_RAWIO, and the base address may change at any time after
// start-up, so the capability cannot simply be dropped once the first permission is held. When
// the backend is made (at start-up, on the program's first thread) it gives up root, if it ran
// as root, and every capability except CAP_SYS_RAWIO, which it keeps in the permitted set
// only: no system call can use it by accident. CAP_SYS_NICE, when given, stays effective, so
// that moves still get real-time priority. Only to grant the permission for a new base
// is it raised into the effective set, for the one ioperm call, and lowered again.
//
// Threads. The I/O permission belongs to the thread that was granted it and is copied to the
// threads it creates later. The driver first touches a base in SetPortAddress, on the window's
// thread, before any motion worker exists, so each worker inherits what it needs. A grant is
// made only on the thread that started the backend: one anywhere else would leave that thread
// without it, and an inb there would kill the program.
#include "direct_backend.h"

#include <fstream>

#if defined(__x86_64__) || defined(__i386__)

#include "error_box.h"
#include "port_address.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <type_traits>
#include <vector>

#include <grp.h>
#include <sys/capability.h>
#include <sys/io.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace platform {
namespace {

constexpr std::uint16_t kRegisters = 3; // data, status, control
constexpr unsigned kNobody = 65534;     // nobody and nogroup

std::string executablePath() {
  std::error_code error;
  const auto path = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? "kdx620" : path.string();
}

std::string capabilityMissing() {
  return "direct port I/O needs the capability CAP_SYS_RAWIO, which this program has not got. "
         "Give it to the program once (\"sudo setcap cap_sys_rawio+ep " +
         executablePath() + "\"; not setuid root), or use --io=ppdev.";
}

std::string lockdownRefuses(const std::string &mode) {
  return "direct port I/O is refused: the kernel is locked down (lockdown mode \"" + mode +
         "\", as under Secure Boot), which refuses ioperm even to root. Use --io=ppdev.";
}

std::string noIoperm() {
  return "direct port I/O is not possible: this kernel was built without ioperm "
         "(CONFIG_X86_IOPL_IOPERM). Use --io=ppdev.";
}

struct CapFree {
  void operator()(cap_t caps) const { cap_free(caps); }
};
using CapHandle = std::unique_ptr<std::remove_pointer_t<cap_t>, CapFree>;

bool capabilityPermitted(cap_value_t capability) {
  const CapHandle caps(cap_get_proc());
  cap_flag_value_t value = CAP_CLEAR;
  return caps && cap_get_flag(caps.get(), capability, CAP_PERMITTED, &value) == 0 &&
         value == CAP_SET;
}

// Whether CAP_SYS_NICE was given, which real-time priority for moves needs; kept, effective,
// since it can change priorities and nothing else.
bool &keepNice() {
  static bool keep = false;
  return keep;
}

// Sets this thread's capabilities to CAP_SYS_RAWIO alone, permitted when `permitted`,
// effective too when `effective`, beside CAP_SYS_NICE if kept; nothing inheritable.
bool setRawio(bool permitted, bool effective) {
  const CapHandle caps(cap_init());
  cap_value_t rawio = CAP_SYS_RAWIO;
  cap_value_t nice = CAP_SYS_NICE;
  if (!caps || (permitted && cap_set_flag(caps.get(), CAP_PERMITTED, 1, &rawio, CAP_SET) != 0) ||
      (effective && cap_set_flag(caps.get(), CAP_EFFECTIVE, 1, &rawio, CAP_SET) != 0) ||
      (keepNice() && (cap_set_flag(caps.get(), CAP_PERMITTED, 1, &nice, CAP_SET) != 0 ||
                      cap_set_flag(caps.get(), CAP_EFFECTIVE, 1, &nice, CAP_SET) != 0))) {
    return false;
  }
  return cap_set_proc(caps.get()) == 0;
}

unsigned idFromEnvironment(const char *name) {
  const char *text = std::getenv(name);
  unsigned id = 0;
  if (!text || std::from_chars(text, text + std::strlen(text), id).ec != std::errc() || id == 0) {
    return kNobody;
  }
  return id;
}

// Root goes on as the user who called sudo, or as nobody, keeping its permitted capabilities
// across the change of user.
bool giveUpRoot(std::string &failure) {
  if (getuid() != 0 && geteuid() != 0) {
    return true;
  }
  const auto uid = static_cast<uid_t>(idFromEnvironment("SUDO_UID"));
  const auto gid = static_cast<gid_t>(idFromEnvironment("SUDO_GID"));
  if (prctl(PR_SET_KEEPCAPS, 1L, 0L, 0L, 0L) != 0 || setgroups(1, &gid) != 0 ||
      setresgid(gid, gid, gid) != 0 || setresuid(uid, uid, uid) != 0) {
    failure = std::string("direct port I/O: cannot give up root: ") + std::strerror(errno) + ".";
    return false;
  }
  prctl(PR_SET_KEEPCAPS, 0L, 0L, 0L, 0L);
  return true;
}

class DirectPortBackend final : public PortBackend {
public:
  DirectPortBackend() {
    const bool permitted = capabilityPermitted(CAP_SYS_RAWIO);
    keepNice() = capabilityPermitted(CAP_SYS_NICE);
    if (giveUpRoot(failure_) && !setRawio(permitted, false)) {
      failure_ = std::string("direct port I/O: cannot give up capabilities: ") +
                 std::strerror(errno) + ".";
    }
    if (failure_.empty() && !permitted) {
      failure_ = capabilityMissing();
    }
  }

  std::string_view name() const override { return "direct"; }

  bool start(std::string &reason) override {
    if (const auto mode = activeLockdown()) {
      reason = lockdownRefuses(*mode);
      return false;
    }
    // Turning off a permission never granted needs no privilege; it fails only on a kernel
    // built without ioperm.
    if (ioperm(0, 1, 0) != 0 && errno == ENOSYS) {
      reason = noIoperm();
      return false;
    }
    reason = failure_;
    owner_ = std::this_thread::get_id();
    return failure_.empty();
  }

  void stop() override {
    for (const std::uint16_t address : granted_) {
      ioperm(address, 1, 0);
    }
    granted_.clear();
    window_.reset();
  }

  bool read(std::uint16_t address, std::uint8_t &value) override {
    if (!reachable(address)) {
      return false;
    }
    value = inb(address);
    if (isControl(address)) {
      value &= kControlOutputs;
    }
    return true;
  }

  void write(std::uint16_t address, std::uint8_t value) override {
    if (reachable(address)) {
      outb(isControl(address) ? value & kControlOutputs : value, address);
    }
  }

private:
  struct Window {
    std::uint16_t base = 0;
    bool granted = false;
  };

  static std::uint16_t offset(std::uint16_t address, std::uint16_t base) {
    return static_cast<std::uint16_t>(address - base);
  }

  bool isControl(std::uint16_t address) const { return offset(address, window_->base) == 2; }

  // Whether `address` may be accessed; the first access outside the current three registers
  // takes it as the new base and grants its registers, telling the operator once when it cannot.
  bool reachable(std::uint16_t address) {
    if (!window_ || offset(address, window_->base) >= kRegisters) {
      std::string failure;
      window_ = Window{address, grant(address, failure)};
      if (!window_->granted) {
        showErrorBox(failure);
      }
    }
    return window_->granted;
  }

  bool grant(std::uint16_t base, std::string &failure) {
    if (std::this_thread::get_id() != owner_) {
      failure = "direct port I/O: port " + hexAddress(base) +
                " was first used on a thread that did not start port access; set the port "
                "address before starting a move.";
      return false;
    }
    setRawio(true, true);
    bool allGranted = true;
    for (std::uint16_t i = 0; i < kRegisters && allGranted; ++i) {
      const auto address = static_cast<std::uint16_t>(base + i); // 0xffff wraps to 0
      if (std::find(granted_.begin(), granted_.end(), address) != granted_.end()) {
        continue;
      }
      allGranted = ioperm(address, 1, 1) == 0;
      if (allGranted) {
        granted_.push_back(address);
      }
    }
    const int error = errno;
    setRawio(true, false);
    if (!allGranted) {
      failure = grantFailure(base, error);
    }
    return allGranted;
  }

  static std::string grantFailure(std::uint16_t base, int error) {
    if (error == EPERM) {
      const auto mode = activeLockdown();
      return mode ? lockdownRefuses(*mode) : capabilityMissing();
    }
    if (error == ENOSYS) {
      return noIoperm();
    }
    return "direct port I/O at " + hexAddress(base) + ": ioperm failed: " + std::strerror(error) +
           ".";
  }

  std::string failure_; // why start() must fail, found when the backend was made
  std::thread::id owner_;
  std::vector<std::uint16_t> granted_;
  std::optional<Window> window_;
};

} // namespace

std::unique_ptr<PortBackend> makeDirectBackend(std::string &) {
  return std::make_unique<DirectPortBackend>();
}

} // namespace platform

#else

namespace platform {

std::unique_ptr<PortBackend> makeDirectBackend(std::string &error) {
  error = "the direct backend needs x86 port I/O (inb/outb), which this machine has not got; use "
          "ppdev";
  return nullptr;
}

} // namespace platform

#endif

namespace platform {

std::optional<std::string> activeLockdown(const std::filesystem::path &sysRoot) {
  // "none [integrity] confidentiality": the mode in force is in brackets.
  std::ifstream stream(sysRoot / "kernel" / "security" / "lockdown");
  std::string word;
  while (stream >> word) {
    if (word.size() > 2 && word.front() == '[' && word.back() == ']') {
      std::string mode = word.substr(1, word.size() - 2);
      return mode == "none" ? std::nullopt : std::optional<std::string>(mode);
    }
  }
  return std::nullopt;
}

} // namespace platform
