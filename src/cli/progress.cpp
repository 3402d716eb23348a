// progress.cpp - draws the progress of a move from the driver's relaxed progress counters.
#include "progress.h"

#include "lpt/lpt.h"

#include <chrono>
#include <cstdio>
#include <string>

namespace cli {
namespace {

constexpr int kBarWidth = 30;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

} // namespace

ProgressBar::ProgressBar(bool enabled) {
  if (!enabled) {
    return;
  }
  lpt::moveProgress.leadStepsDone.store(0, std::memory_order_relaxed);
  running_ = true;
  painter_ = std::thread([this] {
    while (running_.load(std::memory_order_relaxed)) {
      draw();
      std::this_thread::sleep_for(kRedrawInterval);
    }
  });
}

ProgressBar::~ProgressBar() {
  if (!painter_.joinable()) {
    return;
  }
  running_ = false;
  painter_.join();
  std::fputs("\r\033[K", stderr);
}

void ProgressBar::draw() const {
  const std::uint32_t total = lpt::moveProgress.leadCount.load(std::memory_order_relaxed);
  const std::uint32_t done = lpt::moveProgress.leadStepsDone.load(std::memory_order_relaxed);
  const double frequency = lpt::moveProgress.aktFreq.load(std::memory_order_relaxed);
  const int filled =
      total == 0 ? 0 : static_cast<int>(static_cast<double>(done) / total * kBarWidth);
  const std::string bar = std::string(static_cast<std::size_t>(filled), '#') +
                          std::string(static_cast<std::size_t>(kBarWidth - filled), '.');
  std::fprintf(stderr, "\r[%s] %u/%u steps, %.0f steps/s\033[K", bar.c_str(), done, total,
               frequency);
}

} // namespace cli
