// trace_test.cpp - the diagnostic trace file, line by line.
#include "driver_fixture.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace kdx620::test {
namespace {

namespace fs = std::filesystem;

// Runs each test in a folder of its own, since the trace lands in the current directory.
class Trace : public DriverFixture {
protected:
  void SetUp() override {
    DriverFixture::SetUp();
    previous_ = fs::current_path();
    folder_ = fs::temp_directory_path() /
              ("kdx620-trace-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
               "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    fs::current_path(folder_);
  }
  void TearDown() override {
    DriverFixture::TearDown();
    fs::current_path(previous_);
    fs::remove_all(folder_);
  }
  static std::string traceFile() {
    std::ifstream file("ausgabe.txt");
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }

private:
  fs::path previous_;
  fs::path folder_;
};

TEST_F(Trace, StartUpWritesTheHoldingPatternsLineByLine) {
  lpt::LptState.traceOn = 1;
  startUp();
  // Read while the file is still open: every line is flushed as it is written.
  EXPECT_EQ(traceFile(), "\nStromabsenkung:\n  OutValue: 55\n  OutValue: 119\n  OutValue: 183\n");
  lpt::LptClose();
}

TEST_F(Trace, OpeningEmptiesTheTraceOfTheRunBefore) {
  std::ofstream("ausgabe.txt") << "old run\n";
  lpt::LptState.traceOn = 1;
  ASSERT_TRUE(lpt::LptOpen());
  EXPECT_EQ(traceFile(), "");
  lpt::WriteLatched(0xB7);
  lpt::LptClose();
  EXPECT_EQ(traceFile(), "  OutValue: 183\n");
}

TEST_F(Trace, SwitchedOffItCreatesNoFileAndWritesNothing) {
  lpt::LptState.traceOn = 0;
  startUp();
  lpt::LptClose();
  EXPECT_FALSE(fs::exists("ausgabe.txt"));
}

TEST_F(Trace, AFileThatCannotBeOpenedIsIgnored) {
  fs::create_directory("ausgabe.txt"); // a folder in the way
  lpt::LptState.traceOn = 1;
  startUp();
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(board->latch(2), 0x37);
  lpt::LptClose();
}

} // namespace
} // namespace kdx620::test
