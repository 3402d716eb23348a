// commands.cpp - the operator's command sequences, shared by the window and kdx620ctl.
#include "commands.h"

#include "lpt/lpt.h"
#include "lptt/lptt.h"

namespace commands {
namespace {

bool IsCSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

bool Stopping() {
  return lpt::PendingStop() != lpt::StopRequest::none;
}

// The holding-current level of an item of the group: " 0%", " 20%", " 60%"; others count as 1.
int HoldingLevel(int levelItem) {
  return levelItem >= 0 && levelItem <= 2 ? levelItem : 1;
}

// Before a move in clock/direction output: all clock lines low (a falling clock is no step).
void PrepareOutput(std::uint8_t outputMode) {
  if (outputMode != 0) {
    lpt::SetDataBits(
        lpt::clockBit[lpt::xAxis] | lpt::clockBit[lpt::yAxis] | lpt::clockBit[lpt::zAxis], 0);
  }
}

// After a move: the holding patterns, for the phase latches only.
void HoldAfterMove(std::uint8_t outputMode) {
  if (outputMode == 0) {
    lpt::OutputRuhestrom(1);
  }
}

} // namespace

std::int32_t ConvertField(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size() && IsCSpace(text[at])) {
    ++at;
  }
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    negative = text[at] == '-';
    ++at;
  }
  std::uint32_t value = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    value = value * 10U + static_cast<std::uint32_t>(text[at] - '0');
  }
  return static_cast<std::int32_t>(negative ? 0U - value : value);
}

std::string TrimBlanks(std::string_view text) {
  const auto isBlank = [](char c) { return static_cast<unsigned char>(c) < 33; };
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && isBlank(text[first])) {
    ++first;
  }
  while (last > first && isBlank(text[last - 1])) {
    --last;
  }
  return std::string(text.substr(first, last - first));
}

void SelectPort(int item, std::string_view freeAddress) {
  switch (item) {
  case 0:
    lpt::SetPortAddress("0x378");
    break;
  case 1:
    lpt::SetPortAddress("0x278");
    break;
  case 2:
    lpt::SetPortAddress(TrimBlanks(freeAddress).c_str());
    break;
  default:
    break;
  }
}

void ApplySchrittbetrieb(int stepMode, int levelItem) {
  lpt::SetSchrittbetrieb(stepMode, HoldingLevel(levelItem));
  lpt::OutputRuhestrom(1);
}

void SetOutputPin(bool waitForE1, int level) {
  lpt::WaitForE1(waitForE1 ? 1 : 0);
  if (!Stopping()) {
    lpt::SetControlBit(2, level);
  }
}

void SetRefPolarity(bool buttonDown) {
  lpt::SetRefInput(1, buttonDown ? 0 : 1);
}

bool StartUp(const StartUpSettings &settings) {
  if (!lpt::LptOpen()) {
    return false;
  }
  if (!lpt::TimerOpen()) {
    lpt::LptClose();
    return false;
  }
  SelectPort(settings.portItem, settings.freeAddress);
  if (settings.latchHoldingPatterns) {
    ApplySchrittbetrieb(settings.stepMode, settings.levelItem);
  } else {
    lpt::SetSchrittbetrieb(settings.stepMode, HoldingLevel(settings.levelItem));
  }
  SetOutputPin(false, settings.outputLevel);
  lpt::SetRefInput(settings.threeReferenceLines ? 0 : 1, settings.lowActive ? 0 : 1);
  return true;
}

bool Vektorfahrt(bool waitForE1, const std::function<MoveFields()> &readFields,
                 std::uint8_t outputMode) {
  lpt::WaitForE1(waitForE1 ? 1 : 0);
  const MoveFields fields = readFields();
  if (Stopping()) {
    return true;
  }
  PrepareOutput(outputMode);
  const bool ran = lptt::RunVektorfahrt(outputMode, fields.xStep, fields.yStep, fields.zStep,
                                        fields.startFreq, fields.arbeitsFreq, fields.rampenLaenge);
  HoldAfterMove(outputMode);
  return ran;
}

void RefFahrtAxis(bool waitForE1, char axis, const std::function<RefFields()> &readFields,
                  std::uint8_t outputMode) {
  lpt::WaitForE1(waitForE1 ? 1 : 0);
  const RefFields fields = readFields();
  if (Stopping()) {
    return;
  }
  PrepareOutput(outputMode);
  lptt::RunReferenzfahrt(outputMode, axis, fields.refOffset, fields.startFreq, fields.refFreq,
                         fields.rampenLaenge);
  HoldAfterMove(outputMode);
}

void ReferenzfahrtAll(bool waitForE1, const std::function<RefFields()> &readFields,
                      std::uint8_t outputMode) {
  for (const char axis : {'z', 'x', 'y'}) {
    if (Stopping()) {
      return;
    }
    RefFahrtAxis(waitForE1, axis, readFields, outputMode);
  }
}

} // namespace commands
