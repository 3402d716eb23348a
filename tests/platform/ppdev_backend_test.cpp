// ppdev_backend_test.cpp - finding the kernel's ports, and the driver on the ppdev backend
// following its base address from port to port, with simulated boards behind stand-in devices.
#include "platform/ppdev_backend.h"

#include "lpt/lpt.h"
#include "lpt/lpt_testing.h"
#include "platform/counter.h"
#include "platform/error_box.h"
#include "platform/sim_board.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// A folder of its own for a fake /proc and /dev, removed afterwards.
class TempFolder {
public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "kdx620-ppdev-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempFolder() { fs::remove_all(path_); }
  TempFolder(const TempFolder &) = delete;
  TempFolder &operator=(const TempFolder &) = delete;

  const fs::path &path() const { return path_; }
  void write(const fs::path &relative, const std::string &text) const {
    fs::create_directories((path_ / relative).parent_path());
    std::ofstream(path_ / relative) << text;
  }
  // A port the way the kernel lists it.
  void addPort(const std::string &name, const std::string &baseAddr) const {
    write("proc/sys/dev/parport/" + name + "/base-addr", baseAddr);
  }

private:
  fs::path path_;
};

TEST(ParportList, ReadsEachPortsBaseAndDeviceInNumberOrderAndSkipsTheRest) {
  TempFolder root;
  root.addPort("parport10", "56200\t0\n");
  root.addPort("parport0", "888\t0\n");
  root.addPort("parport2", "632\t1656\n");
  root.addPort("parport3", "70000\t0\n"); // not an I/O port address
  root.addPort("parport4", "\n");
  root.write("proc/sys/dev/parport/default/timeslice", "200\n");

  const auto ports = platform::listParports(root.path() / "proc", "/dev");

  ASSERT_EQ(ports.size(), 3U);
  EXPECT_EQ(ports[0].number, 0U);
  EXPECT_EQ(ports[0].base, 0x378);
  EXPECT_EQ(ports[0].device, "/dev/parport0");
  EXPECT_EQ(ports[1].base, 0x278);
  EXPECT_EQ(ports[2].base, 0xdb88);
  EXPECT_EQ(ports[2].device, "/dev/parport10");
  EXPECT_EQ(platform::describeParports(ports),
            "0x378 (/dev/parport0), 0x278 (/dev/parport2), 0xdb88 (/dev/parport10)");
  EXPECT_TRUE(platform::listParports(root.path() / "nothing", "/dev").empty());
  EXPECT_EQ(platform::describeParports({}), "none");
}

TEST(ParportList, NamesTheDriverThatHoldsAPortNow) {
  TempFolder root;
  root.write("proc/sys/dev/parport/parport0/devices/active", "lp0\n");
  root.write("proc/sys/dev/parport/parport1/devices/active", "none\n");

  EXPECT_EQ(platform::activeParportHolder(root.path() / "proc", 0), "lp0");
  EXPECT_EQ(platform::activeParportHolder(root.path() / "proc", 1), std::nullopt);
  EXPECT_EQ(platform::activeParportHolder(root.path() / "proc", 2), std::nullopt);
}

// A /dev/parportN stand-in wired to a simulated board at the port's base.
class FakeDevice final : public platform::ParportDevice {
public:
  FakeDevice(std::shared_ptr<platform::SimBoard> board, std::vector<std::string> refusals,
             int &claims)
      : board_(std::move(board)), refusals_(std::move(refusals)), claims_(claims) {}

  bool claim(std::string &error) override {
    ++claims_;
    if (!refusals_.empty()) {
      error = refusals_.front();
      refusals_.erase(refusals_.begin());
      return false;
    }
    write(platform::PortRegister::control, platform::kIdleControl);
    return true;
  }
  bool read(platform::PortRegister reg, std::uint8_t &value) override {
    return board_->read(address(reg), value);
  }
  void write(platform::PortRegister reg, std::uint8_t value) override {
    board_->write(address(reg), value);
  }

private:
  std::uint16_t address(platform::PortRegister reg) const {
    return static_cast<std::uint16_t>(board_->config().base + static_cast<int>(reg));
  }

  std::shared_ptr<platform::SimBoard> board_;
  std::vector<std::string> refusals_;
  int &claims_;
};

// The driver on a ppdev backend whose kernel lists two ports, each with a board behind it.
class DriverOnPpdev : public ::testing::Test {
protected:
  void SetUp() override {
    lpt::testing::ResetDriverState();
    platform::installCounter(&counter);
    platform::setErrorBoxHandler([this](std::string_view text) { boxes.emplace_back(text); });
    root.addPort("parport0", "888\t0\n");
    root.addPort("parport1", "632\t0\n");
    for (const std::uint16_t base : {std::uint16_t{0x378}, std::uint16_t{0x278}}) {
      platform::SimConfig config;
      config.base = base;
      boards[base] = std::make_shared<platform::SimBoard>(config);
    }
  }

  void TearDown() override {
    platform::installPortBackend(nullptr);
    platform::installCounter(nullptr);
    platform::setErrorBoxHandler({});
    lpt::testing::ResetDriverState();
  }

  // Installs the backend; the ports named in `refused` refuse their first claim with that text,
  // those in `unopenable` cannot be opened.
  void install(std::map<std::uint16_t, std::string> refused = {},
               std::map<std::uint16_t, std::string> unopenable = {}) {
    platform::PpdevSetup setup;
    setup.procRoot = root.path() / "proc";
    setup.open = [this, refused,
                  unopenable](const platform::ParportEntry &entry,
                              std::string &error) -> std::unique_ptr<platform::ParportDevice> {
      if (const auto it = unopenable.find(entry.base); it != unopenable.end()) {
        error = it->second;
        return nullptr;
      }
      std::vector<std::string> refusals;
      if (const auto it = refused.find(entry.base); it != refused.end()) {
        refusals.push_back(it->second);
      }
      return std::make_unique<FakeDevice>(boards.at(entry.base), refusals, claims[entry.base]);
    };
    platform::installPortBackend(std::make_unique<platform::PpdevPortBackend>(setup));
  }

  // Start-up on `port`: half step, holding patterns, pin 14 reset.
  void startUpOn(const char *port) {
    ASSERT_TRUE(lpt::LptOpen()) << (boxes.empty() ? "" : boxes.back());
    ASSERT_TRUE(lpt::TimerOpen());
    lpt::SetPortAddress(port);
    lpt::SetSchrittbetrieb(0, 1);
    lpt::OutputRuhestrom(1);
    lpt::SetControlBit(2, 0);
  }

  // Eight latched half-steps forward on x, as a move makes them.
  void stepXForward() {
    for (int step = 0; step < 8; ++step) {
      lpt::LptState.phaseIndex[0] =
          static_cast<std::uint8_t>((lpt::LptState.phaseIndex[0] + 1) % (lpt::maxPhase + 1));
      lpt::lastOutValue = lpt::runPattern[lpt::LptState.phaseIndex[0]];
      lpt::WriteLatched(lpt::lastOutValue);
    }
  }

  TempFolder root;
  platform::FakeCounter counter{1'000'000, 1};
  std::map<std::uint16_t, std::shared_ptr<platform::SimBoard>> boards;
  std::map<std::uint16_t, int> claims;
  std::vector<std::string> boxes;
};

TEST_F(DriverOnPpdev, DrivesTheBoardOfTheChosenPortAndLeavesTheOtherAlone) {
  install();
  startUpOn("0x378");
  stepXForward();

  platform::SimBoard &lpt1 = *boards.at(0x378);
  EXPECT_EQ(lpt1.motor(0).position(), 8);
  EXPECT_EQ(lpt1.latchCount(), 3U + 8U);
  EXPECT_FALSE(lpt1.pinHigh(14));
  EXPECT_TRUE(lpt1.pinHigh(16)) << "claimed with the printer out of reset";
  EXPECT_EQ(boards.at(0x278)->latchCount(), 0U);
  EXPECT_EQ(claims[0x378], 1);
  EXPECT_EQ(claims[0x278], 0) << "a port the driver never used is not claimed";
  EXPECT_TRUE(boxes.empty());
}

TEST_F(DriverOnPpdev, FollowsTheBaseAddressAndTellsOnceWhenNoPortIsThere) {
  install();
  startUpOn("0x378");
  lpt::SetControlBit(2, 1); // pin 14 high on LPT1

  lpt::SetPortAddress("0xdf88");
  lpt::OutputRuhestrom(1);
  lpt::SetControlBit(2, 0);
  EXPECT_FALSE(lpt::SampleStatusBit(0x10)) << "reads fail where no port is";
  ASSERT_EQ(boxes.size(), 1U) << "told once, not at every access";
  EXPECT_EQ(boxes[0], "no parallel port at 0xdf88; ports: 0x378 (/dev/parport0), 0x278 "
                      "(/dev/parport1). Choose one of these, or load parport_pc with the card's "
                      "address (io=0xdf88, see the README, \"Real hardware\").");
  EXPECT_TRUE(boards.at(0x378)->pinHigh(14)) << "nothing written to LPT1 meanwhile";

  lpt::SetPortAddress("0x278");
  lpt::OutputRuhestrom(1);
  stepXForward();
  EXPECT_EQ(boards.at(0x278)->motor(0).position(), 8);

  lpt::SetPortAddress("0x378");
  EXPECT_TRUE(boards.at(0x378)->pinHigh(14)) << "back on LPT1, its registers are as they were";
  EXPECT_EQ(claims[0x378], 1);
  EXPECT_EQ(boards.at(0x378)->motor(0).position(), 0);

  lpt::SetPortAddress("0xdf88");
  EXPECT_EQ(boxes.size(), 2U) << "each move to an empty address is told";
}

TEST_F(DriverOnPpdev, TellsWhyAPortCannotBeClaimedAndTriesAgainOnReturn) {
  const std::string busy = "/dev/parport1 (port 0x278): busy, another driver (lp0) is using it.";
  install({{0x278, busy}});
  startUpOn("0x278");
  EXPECT_THAT(boxes, ElementsAre(busy));
  EXPECT_EQ(boards.at(0x278)->latchCount(), 0U);

  lpt::SetPortAddress("0x378");
  lpt::SetPortAddress("0x278"); // the operator unloaded lp and chose the port again
  lpt::OutputRuhestrom(1);
  EXPECT_EQ(boards.at(0x278)->latchCount(), 3U);
  EXPECT_EQ(boxes.size(), 1U);
}

TEST_F(DriverOnPpdev, StartsWhenOnePortOpensAndNamesTheUnusableOneWhenChosen) {
  const std::string denied = "/dev/parport1 (port 0x278): permission denied.";
  install({}, {{0x278, denied}});
  startUpOn("0x378");
  EXPECT_TRUE(boxes.empty());

  lpt::SetPortAddress("0x278");
  EXPECT_THAT(boxes, ElementsAre(denied));
}

TEST_F(DriverOnPpdev, FailsToStartWhenNoPortOpensNamingEachDevice) {
  install({}, {{0x378, "/dev/parport0 (port 0x378): permission denied."},
               {0x278, "/dev/parport1 (port 0x278): permission denied."}});
  EXPECT_FALSE(lpt::LptOpen());
  EXPECT_THAT(boxes, ElementsAre("InitializeWinIo() failed\n"
                                 "/dev/parport0 (port 0x378): permission denied.\n"
                                 "/dev/parport1 (port 0x278): permission denied."));
}

TEST(PpdevBackend, StartFailuresSayWhatIsMissingAndHowToGetIt) {
  TempFolder root;
  platform::PpdevSetup setup;
  setup.procRoot = root.path() / "proc";
  setup.devRoot = root.path() / "dev";
  std::string reason;

  EXPECT_FALSE(platform::PpdevPortBackend(setup).start(reason));
  EXPECT_THAT(reason, StartsWith("no parallel port: the kernel lists none in "));
  EXPECT_THAT(reason, HasSubstr("modprobe parport_pc ppdev"));
  EXPECT_THAT(reason, HasSubstr("io=0xdf88"));

  root.addPort("parport0", "888\t0\n"); // listed, but ppdev has made no device file
  reason.clear();
  EXPECT_FALSE(platform::PpdevPortBackend(setup).start(reason));
  EXPECT_EQ(reason, (root.path() / "dev/parport0").string() +
                        " (port 0x378): no such device. Load the ppdev driver: \"sudo modprobe "
                        "ppdev\".");
}

} // namespace
