// soak_test.cpp - a few hundred random operator commands on fresh simulated boards, each checked
// against the model. KDX620_SOAK_SEED and KDX620_SOAK_COMMANDS run another sequence.
#include "soak.h"

#include <gmock/gmock.h>

#include <cstdlib>
#include <iostream>
#include <string>

namespace kdx620::soak {
namespace {

std::uint64_t FromEnvironment(const char *name, std::uint64_t fallback) {
  const char *text = std::getenv(name);
  return text && *text ? std::stoull(text) : fallback;
}

TEST(Soak, RandomOperatorSequencesLeaveEveryMotorWhereTheTablesPutIt) {
  Options options;
  options.seed = FromEnvironment("KDX620_SOAK_SEED", 20240607);
  options.commands = static_cast<std::uint32_t>(FromEnvironment("KDX620_SOAK_COMMANDS", 400));
  const Figures figures = RunSoak(options);
  std::cout << Summary(figures);

  EXPECT_THAT(figures.violations, ::testing::IsEmpty())
      << "rerun with KDX620_SOAK_SEED=" << options.seed;
  EXPECT_EQ(figures.commands, options.commands);
  EXPECT_EQ(figures.lostSteps, figures.lostAtStepModeChange)
      << "a step lost away from a change of step mode";
  EXPECT_GT(figures.steps, 0U);
  EXPECT_GT(figures.failedReads, 0U) << "the sequence reached no board with failing reads";
}

} // namespace
} // namespace kdx620::soak
