// progress.h - a one-line progress bar on stderr for the move under way.
#pragma once

#include <atomic>
#include <thread>

namespace cli {

// While alive and enabled, redraws the bar every 100 ms from the driver's move progress:
// steps done of the total and the current frequency. Clears its line when it goes.
class ProgressBar {
public:
  explicit ProgressBar(bool enabled);
  ~ProgressBar();
  ProgressBar(const ProgressBar &) = delete;
  ProgressBar &operator=(const ProgressBar &) = delete;

private:
  void draw() const;

  std::atomic<bool> running_{false};
  std::thread painter_;
};

} // namespace cli
