// port_address.h - what the real-port backends share about a port's registers and addresses.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace platform {

// The control register's outputs, bits 0-3. Bit 4 would enable the port's interrupt and bit 5
// turn the data lines round into inputs, so neither is ever written.
inline constexpr std::uint8_t kControlOutputs = 0x0F;

// An I/O address as the operator writes it: "0x378".
inline std::string hexAddress(std::uint16_t address) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%x", address);
  return text;
}

} // namespace platform
