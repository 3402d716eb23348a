// port_io_test.cpp - choosing the port backend by option, environment or default.
#include "platform/port_io.h"
#include "platform/sim_backend.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

class BackendChoice : public ::testing::Test {
protected:
  void TearDown() override {
    unsetenv("KDX620_IO");
    unsetenv("KDX620_SIM");
    platform::installPortBackend(nullptr);
  }
};

TEST_F(BackendChoice, CommandLineBeatsEnvironmentWhichBeatsTheDefault) {
  EXPECT_EQ(platform::chosenPortBackendName(std::nullopt), "sim");
  setenv("KDX620_IO", "ppdev", 1);
  EXPECT_EQ(platform::chosenPortBackendName(std::nullopt), "ppdev");
  EXPECT_EQ(platform::chosenPortBackendName("direct"), "direct");
}

TEST_F(BackendChoice, UnknownNameIsAnErrorListingTheValidNames) {
  const auto error = platform::selectPortBackend("parport9");
  ASSERT_TRUE(error.has_value());
  EXPECT_NE(error->find("\"parport9\""), std::string::npos) << *error;
  EXPECT_NE(error->find("valid names: sim, ppdev, direct"), std::string::npos) << *error;
  EXPECT_EQ(platform::portBackend(), nullptr);
}

TEST_F(BackendChoice, PpdevIsChosenWithoutTouchingAnyDeviceUntilStarted) {
  ASSERT_FALSE(platform::selectPortBackend("ppdev").has_value());
  ASSERT_NE(platform::portBackend(), nullptr);
  EXPECT_EQ(platform::portBackend()->name(), "ppdev");
  EXPECT_EQ(platform::activeSimBoard(), nullptr);
}

TEST_F(BackendChoice, SimBackendTakesItsBoardFromKdx620Sim) {
  setenv("KDX620_SIM", "base=0x378,e1=0", 1);
  ASSERT_FALSE(platform::selectPortBackend("sim").has_value());
  ASSERT_NE(platform::activeSimBoard(), nullptr);
  EXPECT_EQ(platform::activeSimBoard()->config().base, 0x378);
  EXPECT_FALSE(platform::activeSimBoard()->e1());
}

// The board's log file is emptied at start-up, holds the session once port access ends, and a
// file that cannot be written stops the start-up with its name.
TEST_F(BackendChoice, SimBackendWritesTheBoardsLogFileWhenPortAccessEnds) {
  const std::string file = ::testing::TempDir() + "kdx620-board.log";
  std::ofstream(file) << "an earlier session\n";
  setenv("KDX620_SIM", ("base=0x378,log=" + file).c_str(), 1);
  ASSERT_FALSE(platform::selectPortBackend("sim").has_value());
  ASSERT_TRUE(platform::portInitialize());
  EXPECT_EQ(std::filesystem::file_size(file), 0U);
  platform::portWrite(0x378, 0x40 | 0x2D);
  platform::portWrite(0x37A, 0x01); // strobe: y takes 2d
  platform::portShutdown();
  std::ifstream written(file);
  const std::string text{std::istreambuf_iterator<char>(written), {}};
  EXPECT_NE(text.find("# simulated board at 0x0378: 1 event,"), std::string::npos) << text;
  EXPECT_NE(text.find(" latch y 2d\n"), std::string::npos) << text;
  EXPECT_NE(text.find("# end: x=0 y=0 z=0 lost=0, latches 00 2d 00"), std::string::npos) << text;

  setenv("KDX620_SIM", "log=/nonexistent-folder/board.log", 1);
  ASSERT_FALSE(platform::selectPortBackend("sim").has_value());
  EXPECT_FALSE(platform::portInitialize());
  EXPECT_NE(platform::portStartFailure().find("\"/nonexistent-folder/board.log\""),
            std::string::npos)
      << platform::portStartFailure();
}

TEST_F(BackendChoice, MalformedKdx620SimIsReportedAndSelectsNothing) {
  setenv("KDX620_SIM", "wiring=star", 1);
  const auto error = platform::selectPortBackend("sim");
  ASSERT_TRUE(error.has_value());
  EXPECT_NE(error->find("wiring"), std::string::npos) << *error;
  EXPECT_EQ(platform::portBackend(), nullptr);
}

TEST_F(BackendChoice, PortOperationsWithoutABackendFailQuietly) {
  std::uint32_t value = 7;
  EXPECT_FALSE(platform::portInitialize());
  EXPECT_FALSE(platform::portStartFailure().empty());
  EXPECT_FALSE(platform::portRead(0x378, value));
  EXPECT_EQ(value, 7U);
  platform::portWrite(0x378, 1);
}

} // namespace
