// conversion_test.cpp - field texts become integers as the window reads them.
#include "commands/commands.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ConvertField, ReadsLeadingDecimalDigitsAndWrapsModulo2To32) {
  const struct {
    std::string text;
    std::int32_t value;
  } cases[] = {
      {"250", 250},
      {" \t\n\v\f\r-250", -250},
      {"+12", 12},
      {"12,7", 12},
      {"1e5", 1},
      {"0x1F", 0},
      {"abc", 0},
      {"", 0},
      {"-", 0},
      {"- 5", 0},
      {"2147483647", 2147483647},
      {"2147483648", -2147483647 - 1},
      {"4294967296", 0},
      {"-4294967297", -1},
      {std::string(1000, '9'), -1} // 10^1000 - 1 is -1 modulo 2^32, no buffer in the way
  };
  for (const auto &c : cases) {
    EXPECT_EQ(commands::ConvertField(c.text), c.value) << '"' << c.text.substr(0, 20) << '"';
  }
}

TEST(TrimBlanks, CutsControlCharactersAndBlanksAtBothEnds) {
  EXPECT_EQ(commands::TrimBlanks("  0x378\t\r\n"), "0x378");
  EXPECT_EQ(commands::TrimBlanks(std::string("\x01\x1f 0x3 78 ", 10)), "0x3 78");
  EXPECT_EQ(commands::TrimBlanks(" \t "), "");
  EXPECT_EQ(commands::TrimBlanks("\xe4x"), "\xe4x") << "bytes above 127 stay";
}

} // namespace
