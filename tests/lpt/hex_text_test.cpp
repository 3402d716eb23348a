// hex_text_test.cpp - the port address text is read as "%x" reads it.
#include "lpt/hex_text.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

TEST(ParseHexNumber, ReadsTheNumberAsPercentXDoes) {
  const struct {
    const char *text;
    std::optional<std::uint32_t> value;
  } cases[] = {
      {"0x378", 0x378},    {"378", 0x378},        {"0X378", 0x378},       {" \t0xdf88", 0xdf88},
      {"DF88 ", 0xdf88},   {"0x12378", 0x12378},  {"df88g", 0xdf88},      {"0x", 0},
      {"0xg", 0},          {"-1", 0xFFFFFFFF},    {"+10", 0x10},          {"123456789", 0x23456789},
      {"", std::nullopt},  {"   ", std::nullopt}, {"x378", std::nullopt}, {"LPT1", std::nullopt},
      {"-", std::nullopt},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(lpt::ParseHexNumber(c.text), c.value) << '"' << c.text << '"';
  }
}

} // namespace
