// error_box.cpp - default error box and notices on stderr, replaceable by the window or a
// test; error boxes raised on a worker are kept for the waiting thread.
#include "error_box.h"

#include <atomic>
#include <cstdio>
#include <string>

namespace platform {
namespace {

void writeToStandardError(std::string_view text) {
  const std::string line = "F E H L E R: " + std::string(text) + "\n";
  std::fputs(line.c_str(), stderr);
}

void noticeToStandardError(std::string_view text) {
  const std::string line = "kdx620: " + std::string(text) + "\n";
  std::fputs(line.c_str(), stderr);
}

ErrorBoxHandler &handler() {
  static ErrorBoxHandler current = writeToStandardError;
  return current;
}

ErrorBoxHandler &noticeHandler() {
  static ErrorBoxHandler current = noticeToStandardError;
  return current;
}

// Where error boxes raised on this thread are kept, if anywhere.
thread_local std::vector<std::string> *deferredOnThisThread = nullptr;

std::atomic<std::uint64_t> boxesShown{0};

} // namespace

void showErrorBox(std::string_view text) {
  if (deferredOnThisThread) {
    deferredOnThisThread->emplace_back(text);
    return;
  }
  boxesShown.fetch_add(1, std::memory_order_relaxed);
  handler()(text);
}

std::uint64_t errorBoxesShown() {
  return boxesShown.load(std::memory_order_relaxed);
}

void setErrorBoxHandler(ErrorBoxHandler replacement) {
  handler() = replacement ? std::move(replacement) : ErrorBoxHandler(writeToStandardError);
}

void DeferredErrorBoxes::captureThisThread() {
  deferredOnThisThread = &texts_;
}

void DeferredErrorBoxes::show() {
  for (const auto &text : texts_) {
    showErrorBox(text);
  }
  texts_.clear();
}

void notifyOperator(std::string_view text) {
  noticeHandler()(text);
}

void setNoticeHandler(ErrorBoxHandler replacement) {
  noticeHandler() = replacement ? std::move(replacement) : ErrorBoxHandler(noticeToStandardError);
}

} // namespace platform
