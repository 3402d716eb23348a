// port_address.cpp - fuzzes the port address text: ParseHexNumber agrees with strtoul wherever
// that can tell, and SetPortAddress on a simulated board takes the number's low 16 bits, or keeps
// the addresses and says so when there is no number.
#include "lpt/hex_text.h"
#include "lpt/lpt.h"

#include "platform/error_box.h"
#include "platform/sim_backend.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace {

int boxes = 0;

bool ConnectBoard() {
  platform::installPortBackend(
      std::make_unique<platform::SimPortBackend>(std::make_shared<platform::SimBoard>()));
  platform::setErrorBoxHandler([](std::string_view) { ++boxes; });
  return lpt::LptOpen();
}

// Both stop at the first character that is no hexadecimal digit, a NUL included.
void CheckParse(std::string_view bytes) {
  const std::optional<std::uint32_t> number = lpt::ParseHexNumber(bytes);
  const std::string text(bytes);
  const char *begin = text.c_str();
  char *end = nullptr;
  errno = 0;
  const unsigned long reference = std::strtoul(begin, &end, 16);
  const bool found = end != begin;
  if (errno == 0 && (number.has_value() != found ||
                     (found && *number != static_cast<std::uint32_t>(reference)))) {
    std::abort();
  }
  if (number) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0X%X", *number);
    if (lpt::ParseHexNumber(hex) != number || lpt::ParseHexNumber(hex + 2) != number) {
      std::abort();
    }
  }
}

void CheckSetPortAddress(const std::string &text) {
  // The driver takes a C string: the text up to its first NUL.
  const std::optional<std::uint32_t> number = lpt::ParseHexNumber(text.c_str());
  const std::array<std::uint16_t, 3> before = {lpt::portData, lpt::portStatus, lpt::portControl};
  const int boxesBefore = boxes;
  lpt::SetPortAddress(text.c_str());
  std::array<std::uint16_t, 3> expected = before;
  if (number) {
    const auto base = static_cast<std::uint16_t>(*number);
    expected = {base, static_cast<std::uint16_t>(base + 1), static_cast<std::uint16_t>(base + 2)};
  }
  if (std::array{lpt::portData, lpt::portStatus, lpt::portControl} != expected ||
      boxes != boxesBefore + (number ? 0 : 1)) {
    std::abort();
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static const bool connected = ConnectBoard();
  if (!connected) {
    std::abort();
  }
  // The exact bytes, with nothing after them, so that reading one too many is a finding.
  const std::string_view bytes(reinterpret_cast<const char *>(data), size);
  CheckParse(bytes);
  CheckSetPortAddress(std::string(bytes));
  return 0;
}
