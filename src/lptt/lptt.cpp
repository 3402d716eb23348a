// lptt.cpp - the worker's body, and the dispatch that creates, starts and waits for it.
#include "lptt.h"

#include "lpt/lpt.h"
#include "platform/error_box.h"

#include <chrono>
#include <memory>
#include <string>
#include <thread>

namespace lptt {
namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(10);

// Creates a suspended worker, sets its priority, lets `fill` give it the move, resumes it
// and polls until it is done; then shows what the move reported and frees the worker.
template <typename Fill> bool RunOnWorker(Fill fill) {
  auto worker = std::make_unique<TlptT>();
  if (!worker->created()) {
    platform::showErrorBox("Fahrt nicht gestartet: kein Thread (" + worker->creationError() + ")");
    return false;
  }
  worker->setPriority(platform::ThreadPriority::timeCritical);
  fill(*worker);
  worker->resume();
  while (!worker->done.load(std::memory_order_acquire)) {
    std::this_thread::sleep_for(kPollInterval);
  }
  worker->join();
  worker->deferredErrorBoxes().show();
  return true;
}

} // namespace

void TlptT::Execute() {
  done.store(false, std::memory_order_relaxed);
  if (isVektorfahrt) {
    lpt::Vektorfahrt(outputMode, xStep, yStep, zStep, startFreq, arbeitsFreq, rampenLaenge);
  } else {
    lpt::Referenzfahrt(outputMode, axis, refOffset, startFreq, arbeitsFreq, rampenLaenge);
  }
  done.store(true, std::memory_order_release);
}

bool RunVektorfahrt(std::uint8_t outputMode, std::int32_t xStep, std::int32_t yStep,
                    std::int32_t zStep, std::int32_t startFreq, std::int32_t arbeitsFreq,
                    std::int32_t rampenLaenge) {
  return RunOnWorker([&](TlptT &worker) {
    worker.xStep = xStep;
    worker.yStep = yStep;
    worker.zStep = zStep;
    worker.startFreq = startFreq;
    worker.arbeitsFreq = arbeitsFreq;
    worker.rampenLaenge = rampenLaenge;
    worker.isVektorfahrt = true;
    worker.outputMode = outputMode;
  });
}

void RunReferenzfahrt(std::uint8_t outputMode, char axis, std::int32_t refOffset,
                      std::int32_t startFreq, std::int32_t refFreq, std::int32_t rampenLaenge) {
  RunOnWorker([&](TlptT &worker) {
    worker.axis = axis;
    worker.refOffset = refOffset;
    worker.startFreq = startFreq;
    worker.arbeitsFreq = refFreq;
    worker.rampenLaenge = rampenLaenge;
    worker.isVektorfahrt = false;
    worker.outputMode = outputMode;
  });
}

} // namespace lptt
