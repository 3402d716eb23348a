// error_box.cpp - default error box on stderr, replaceable by the window or a test.
#include "error_box.h"

#include <cstdio>
#include <string>

namespace platform {
namespace {

void writeToStandardError(std::string_view text) {
  const std::string line = "F E H L E R: " + std::string(text) + "\n";
  std::fputs(line.c_str(), stderr);
}

ErrorBoxHandler &handler() {
  static ErrorBoxHandler current = writeToStandardError;
  return current;
}

} // namespace

void showErrorBox(std::string_view text) {
  handler()(text);
}

void setErrorBoxHandler(ErrorBoxHandler replacement) {
  handler() = replacement ? std::move(replacement) : ErrorBoxHandler(writeToStandardError);
}

} // namespace platform
