// convert_field.cpp - fuzzes the numeric field conversion: any text of any length gives a
// number without fault, the one strtoll gives modulo 2^32 wherever strtoll can tell, and more
// blanks before it or any other character after it change nothing.
#include "commands/commands.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  // The exact bytes, with nothing after them, so that reading one too many is a finding.
  const std::string_view bytes(reinterpret_cast<const char *>(data), size);
  const std::int32_t value = commands::ConvertField(bytes);
  const std::string text(bytes);

  // strtoll stops at the first NUL as the conversion stops at any non-digit.
  errno = 0;
  const long long reference = std::strtoll(text.c_str(), nullptr, 10);
  if (errno == 0 && value != static_cast<std::int32_t>(static_cast<std::uint32_t>(reference))) {
    std::abort();
  }
  if (commands::ConvertField(" \t" + text) != value ||
      commands::ConvertField(text + "x") != value ||
      commands::ConvertField(std::to_string(value)) != value) {
    std::abort();
  }
  return 0;
}
