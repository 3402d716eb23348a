// soak.cpp - the long soak: at least 10,000 random operator commands on fresh simulated boards,
// each checked against the model (tests/soak), then the reference runs whose moves run to their
// 5,000,000-step limit because the input is stuck or every read fails. Prints the figures of
// the README's "Reliability" section; exits non-zero when anything did not hold.
//
//   soak [--commands N] [--seed S]      (--commands 0: the long fault runs alone)
#include "soak.h"

#include "lpt/lpt.h"
#include "lpt/lpt_testing.h"
#include "platform/counter.h"

#include <array>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr std::int32_t kLimit = 5'000'000;
constexpr std::int32_t kRefOffset = 25;

struct LongFault {
  const char *name;
  std::int32_t switches;
  platform::SimPolarity polarity;
  bool everyReadFails;
  std::array<std::int64_t, 3> expectedPositions;
  std::uint64_t expectedLatchBytes; // the steps the run's moves make, and the holding after it
};

// Half step; x homed with offset 25; single line.
//   stuck inactive: the search runs its 5,000,000 steps, the back-off makes one, the offset 25.
//   stuck active: the release of all axes, the release of x and the back-off run 5,000,000
//     each, the search makes one step.
//   every read failing: no strobe ever rises, so no motor moves; the input reads inactive when
//     high-active and active when low-active, which gives the two runs above.
constexpr std::uint64_t kInactiveSteps = kLimit + 1 + kRefOffset;
constexpr std::uint64_t kActiveSteps = 3ULL * kLimit + kLimit + 1 + kLimit + kRefOffset;
constexpr LongFault kLongFaults[] = {
    {"input stuck inactive",
     INT32_MIN,
     platform::SimPolarity::high,
     false,
     {-kLimit + 1 + kRefOffset, 0, 0},
     kInactiveSteps + 3},
    {"input stuck active",
     INT32_MAX,
     platform::SimPolarity::high,
     false,
     {3LL * kLimit - 1 + kRefOffset, kLimit, kLimit},
     kActiveSteps + 3},
    {"every read failing, high-active",
     INT32_MIN,
     platform::SimPolarity::high,
     true,
     {0, 0, 0},
     kInactiveSteps + 3},
    {"every read failing, low-active",
     INT32_MIN,
     platform::SimPolarity::low,
     true,
     {0, 0, 0},
     kActiveSteps + 3},
};

struct LongFaultResult {
  std::array<std::int64_t, 3> positions;
  std::uint64_t latchBytes;
  std::uint64_t failedReads;
  std::uint32_t lostSteps;
  bool portRuleKept;
  double seconds;
};

// One reference run of x on a fresh board, started as the window starts, with the holding
// patterns before and after it.
LongFaultResult RunLongFault(const LongFault &fault) {
  platform::FakeCounter counter(1'000'000, 25);
  platform::installCounter(&counter);
  lpt::testing::ResetDriverState();
  platform::SimConfig config;
  config.switchPosition = {fault.switches, fault.switches, fault.switches};
  config.polarity = fault.polarity;
  auto board = std::make_shared<platform::SimBoard>(config);
  auto backend = std::make_unique<kdx620::soak::RuleCheckingBackend>(board, config.base);
  const auto &port = *backend;
  platform::installPortBackend(std::move(backend));
  lpt::LptOpen();
  lpt::TimerOpen();
  lpt::SetPortAddress("0xdf88");
  lpt::SetSchrittbetrieb(0, 1);
  lpt::OutputRuhestrom(1);
  lpt::SetRefInput(1, fault.polarity == platform::SimPolarity::high ? 1 : 0);
  const std::uint64_t dataWritesBefore = port.dataWrites();
  board->failEveryNthRead(fault.everyReadFails ? 1 : 0);

  const auto started = std::chrono::steady_clock::now();
  lpt::Referenzfahrt(0, 'x', kRefOffset, 64000, 64000, 0);
  lpt::OutputRuhestrom(1);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  LongFaultResult result{{board->position(0), board->position(1), board->position(2)},
                         port.dataWrites() - dataWritesBefore,
                         port.failedReads(),
                         board->lostSteps(),
                         port.writesAfterFailedReads() == 0 && port.controlWritesWithoutRead() == 0,
                         seconds};
  platform::installPortBackend(nullptr);
  platform::installCounter(nullptr);
  lpt::testing::ResetDriverState();
  return result;
}

bool RunLongFaults() {
  std::printf("\n| fault | latch bytes (steps made) | x, y, z at the end | failed reads | "
              "lost steps | port rule | s |\n|---|---:|---|---:|---:|---|---:|\n");
  bool allHeld = true;
  for (const auto &fault : kLongFaults) {
    const LongFaultResult r = RunLongFault(fault);
    const bool held = r.positions == fault.expectedPositions &&
                      r.latchBytes == fault.expectedLatchBytes && r.lostSteps == 0 &&
                      r.portRuleKept;
    allHeld = allHeld && held;
    std::printf("| %s | %llu | %lld, %lld, %lld%s | %llu | %u | %s | %.1f |\n", fault.name,
                static_cast<unsigned long long>(r.latchBytes),
                static_cast<long long>(r.positions[0]), static_cast<long long>(r.positions[1]),
                static_cast<long long>(r.positions[2]), held ? "" : " (NOT AS EXPECTED)",
                static_cast<unsigned long long>(r.failedReads), r.lostSteps,
                r.portRuleKept ? "kept" : "BROKEN", r.seconds);
  }
  return allHeld;
}

bool ParseArguments(int argc, char **argv, kdx620::soak::Options &options) {
  for (int at = 1; at + 1 < argc; at += 2) {
    const std::string value = argv[at + 1];
    if (std::strcmp(argv[at], "--commands") == 0) {
      options.commands = static_cast<std::uint32_t>(std::stoul(value));
    } else if (std::strcmp(argv[at], "--seed") == 0) {
      options.seed = std::stoull(value);
    } else {
      return false;
    }
  }
  return argc % 2 == 1;
}

} // namespace

int main(int argc, char **argv) {
  kdx620::soak::Options options;
  options.commands = 10'000;
  if (!ParseArguments(argc, argv, options)) {
    std::fprintf(stderr, "usage: soak [--commands N] [--seed S]\n");
    return 2;
  }
  bool soakHeld = true;
  if (options.commands > 0) {
    const kdx620::soak::Figures figures = kdx620::soak::RunSoak(options);
    std::fputs(kdx620::soak::Summary(figures).c_str(), stdout);
    soakHeld = figures.violations.empty() && figures.lostSteps == figures.lostAtStepModeChange;
  }
  const bool faultsHeld = RunLongFaults();
  std::printf("\n%s\n", soakHeld && faultsHeld ? "all held" : "SOMETHING DID NOT HOLD");
  return soakHeld && faultsHeld ? 0 : 1;
}
