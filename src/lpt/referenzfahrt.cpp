// referenzfahrt.cpp - the reference run: free an active switch, search it in the negative
// direction, back off until it releases, then move by the reference offset.
#include "lpt.h"

#include <optional>

namespace lpt {
namespace {

constexpr std::int32_t kSearchLimit = 5'000'000; // steps of a release or search move
constexpr std::int32_t kSettleSlices = 500;      // 1 ms slices of each pause

std::optional<Axis> AxisNamed(char letter) {
  switch (letter) {
  case 'x':
  case 'X':
    return xAxis;
  case 'y':
  case 'Y':
    return yAxis;
  case 'z':
  case 'Z':
    return zAxis;
  default:
    return std::nullopt;
  }
}

// The moves of one run share their output mode and speeds; `status` is the latest move's,
// and a move starts only while it is 0.
class RunMoves {
public:
  RunMoves(std::uint8_t outputMode, std::int32_t startFreq, std::int32_t refFreq,
           std::int32_t rampenLaenge)
      : outputMode_(outputMode), startFreq_(startFreq), refFreq_(refFreq),
        rampenLaenge_(rampenLaenge) {}

  std::uint8_t move(std::int32_t xStep, std::int32_t yStep, std::int32_t zStep) {
    return Vektorfahrt(outputMode_, xStep, yStep, zStep, startFreq_, refFreq_, rampenLaenge_);
  }

  std::uint8_t moveAxis(Axis axis, std::int32_t steps) {
    return move(axis == xAxis ? steps : 0, axis == yAxis ? steps : 0, axis == zAxis ? steps : 0);
  }

  // One stage: `stopFlag` set for this move alone, then the pause.
  void stage(std::uint8_t &stopFlag, Axis axis, std::int32_t steps) {
    stopFlag = 1;
    if (status_ == 0) {
      status_ = moveAxis(axis, steps);
    }
    stopFlag = 0;
    WaitInputSettle(kSettleSlices);
  }

  void releaseAll() {
    LptState.stopWhenInactive = 1;
    status_ = move(kSearchLimit, kSearchLimit, kSearchLimit);
    LptState.stopWhenInactive = 0;
    WaitInputSettle(kSettleSlices);
  }

  std::uint8_t status() const { return status_; }

private:
  std::uint8_t outputMode_;
  std::int32_t startFreq_;
  std::int32_t refFreq_;
  std::int32_t rampenLaenge_;
  std::uint8_t status_ = 0;
};

} // namespace

void Referenzfahrt(std::uint8_t outputMode, char axis, std::int32_t refOffset,
                   std::int32_t startFreq, std::int32_t refFreq, std::int32_t rampenLaenge) {
  const std::uint8_t savedStopOnInput = LptState.stopOnInput;
  LptState.stopWhenInactive = 0;
  LptState.stopWhenActive = 0;
  LptState.stopOnInput = 0;

  RunMoves moves(outputMode, startFreq, refFreq, rampenLaenge);
  if (RefInputActive()) {
    moves.releaseAll(); // all three axes together, whichever holds the switch
  }
  if (const std::optional<Axis> homed = AxisNamed(axis)) {
    if (RefInputActive()) {
      moves.stage(LptState.stopWhenInactive, *homed, kSearchLimit);
    }
    moves.stage(LptState.stopWhenActive, *homed, -kSearchLimit);
    moves.stage(LptState.stopWhenInactive, *homed, kSearchLimit);
    if (moves.status() == 0) {
      moves.moveAxis(*homed, refOffset);
    }
  }
  WaitInputSettle(kSettleSlices);
  LptState.stopOnInput = savedStopOnInput;
}

} // namespace lpt
