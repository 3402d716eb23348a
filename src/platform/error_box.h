// error_box.h - the one road by which the driver tells the operator of a failure.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Receives the German message text of one error box.
using ErrorBoxHandler = std::function<void(std::string_view text)>;

// Shows the error box with `text`; returns once the operator has seen it.
void showErrorBox(std::string_view text);

// How many error boxes have been shown so far (boxes kept for another thread count once shown):
// a caller that goes on after a failure, as the window does, can still tell that one happened.
std::uint64_t errorBoxesShown();

// Replaces the box: the window installs its modal box, tests capture the texts.
// An empty handler restores the default, which writes "F E H L E R: " and the text to stderr.
void setErrorBoxHandler(ErrorBoxHandler handler);

// Error boxes raised on a worker thread while the thread that started it waits: kept here and
// shown by the waiting thread once the worker is done, so neither ever waits on the other.
class DeferredErrorBoxes {
public:
  // From now on, error boxes raised on the calling thread are kept here.
  void captureThisThread();
  // Shows the kept boxes on the calling thread, in the order they were raised.
  void show();

private:
  std::vector<std::string> texts_;
};

// A one-line notice to the operator that is not an error (priority, throttling). The default
// writes "kdx620: " and the text to stderr; the window's status line shows the same state.
void notifyOperator(std::string_view text);
void setNoticeHandler(ErrorBoxHandler handler);

} // namespace platform
