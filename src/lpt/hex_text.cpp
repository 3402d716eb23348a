// hex_text.cpp - reads a hexadecimal number the way "%x" does, but says whether one was there.
#include "hex_text.h"

namespace lpt {
namespace {

bool isCSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

} // namespace

std::optional<std::uint32_t> ParseHexNumber(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size() && isCSpace(text[at])) {
    ++at;
  }
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    negative = text[at] == '-';
    ++at;
  }
  // "0x" counts as a prefix only when a digit follows; otherwise its 0 is the number.
  const bool prefixed = text.size() - at >= 3 && text[at] == '0' &&
                        (text[at + 1] == 'x' || text[at + 1] == 'X') && hexDigit(text[at + 2]) >= 0;
  at += prefixed ? 2 : 0;
  std::uint32_t value = 0;
  bool anyDigit = false;
  for (; at < text.size() && hexDigit(text[at]) >= 0; ++at) {
    value = value * 16U + static_cast<std::uint32_t>(hexDigit(text[at]));
    anyDigit = true;
  }
  if (!anyDigit) {
    return std::nullopt;
  }
  return negative ? 0U - value : value;
}

} // namespace lpt
