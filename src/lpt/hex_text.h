// hex_text.h - the port address text: one hexadecimal number as "%x" reads it.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace lpt {

// Leading white space, an optional sign, an optional 0x or 0X, then hexadecimal digits up to
// the first other character; the value wraps modulo 2^32. Empty when no digit is found.
std::optional<std::uint32_t> ParseHexNumber(std::string_view text);

} // namespace lpt
