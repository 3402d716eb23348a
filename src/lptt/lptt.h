// lptt.h - the motion worker: every vector move and reference run runs on a TlptT of its own,
// at time-critical priority, while the thread that started it polls until it is done.
#pragma once

#include "platform/thread.h"

#include <atomic>
#include <cstdint>

namespace lptt {

class TlptT final : public platform::Thread {
public:
  std::uint8_t outputMode = 0;
  char axis = 0;
  std::int32_t refOffset = 0;
  std::int32_t xStep = 0;
  std::int32_t yStep = 0;
  std::int32_t zStep = 0;
  std::int32_t startFreq = 0;
  std::int32_t arbeitsFreq = 0; // the reference frequency for a reference run
  std::int32_t rampenLaenge = 0;
  bool isVektorfahrt = false;
  // The one hand-over: stored with release once the move is over, so the waiting thread that
  // loads it with acquire sees every write of the move.
  std::atomic<bool> done{false};

protected:
  void Execute() override;
};

// Runs the vector move on a new worker and returns once it has finished; false only when no
// worker thread could be started (reported in the error box).
bool RunVektorfahrt(std::uint8_t outputMode, std::int32_t xStep, std::int32_t yStep,
                    std::int32_t zStep, std::int32_t startFreq, std::int32_t arbeitsFreq,
                    std::int32_t rampenLaenge);
// Runs the reference run on a new worker and returns once it has finished.
void RunReferenzfahrt(std::uint8_t outputMode, char axis, std::int32_t refOffset,
                      std::int32_t startFreq, std::int32_t refFreq, std::int32_t rampenLaenge);

} // namespace lptt
