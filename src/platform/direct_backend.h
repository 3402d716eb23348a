// direct_backend.h - the port backend with raw x86 port I/O (ioperm, inb, outb): any address
// below 65536, the closest thing to direct register access; needs CAP_SYS_RAWIO.
#pragma once

#include "port_io.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace platform {

// The kernel lockdown mode in force ("integrity", "confidentiality") from
// <sysRoot>/kernel/security/lockdown; nullopt when there is none or the file cannot be read.
std::optional<std::string> activeLockdown(const std::filesystem::path &sysRoot = "/sys");

// Makes the direct backend and, at once, gives up root and every capability but
// CAP_SYS_RAWIO, which stays in the permitted set only. Capabilities belong to a thread and
// new threads copy their creator's, so call this before the program starts other threads.
// A missing capability or a locked-down kernel is reported by start(). On machines without
// x86 port I/O, returns nullptr and says so in `error`.
std::unique_ptr<PortBackend> makeDirectBackend(std::string &error);

} // namespace platform
