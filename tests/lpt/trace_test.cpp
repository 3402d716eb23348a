// trace_test.cpp - the diagnostic trace file, line by line.
#include "driver_fixture.h"

#include <gmock/gmock.h>

#include <climits>
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
  static std::vector<std::string> traceLines() {
    std::vector<std::string> lines;
    std::istringstream text(traceFile());
    for (std::string line; std::getline(text, line);) {
      lines.push_back(line);
    }
    return lines;
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

TEST_F(Trace, TheDefaultMoveTracesItsParametersRampStepsAndLatches) {
  lpt::LptState.traceOn = 1;
  startUp();
  lpt::Vektorfahrt(0, 1000, 0, 0, 200, 600, 100);
  lpt::OutputRuhestrom(1);
  lpt::LptClose();

  const auto lines = traceLines();
  const std::vector<std::string> head = {"",
                                         "Stromabsenkung:",
                                         "  OutValue: 55",
                                         "  OutValue: 119",
                                         "  OutValue: 183",
                                         "xStep: 1000  yStep: 0  zStep: 0",
                                         "  SFreq: 200 / AFreq: 600",
                                         "  steps: 60 / Steilheit: 6.666667",
                                         "",
                                         "  OutValue: 45",
                                         "  SAkku: 999 / aktFreq= 200.000000",
                                         "  OutValue: 28",
                                         "  SAkku: 998 / aktFreq= 206.666667",
                                         "  OutValue: 13",
                                         "  SAkku: 997 / aktFreq= 213.333333"};
  const std::vector<std::string> tail = {"  SAkku:   1 / aktFreq= 206.666667",
                                         "  OutValue: 39",
                                         "  SAkku:   0 / aktFreq= 200.000000",
                                         "",
                                         "Stromabsenkung:",
                                         "  OutValue: 55",
                                         "  OutValue: 119",
                                         "  OutValue: 183"};
  ASSERT_EQ(lines.size(), 5 + 4 + 2 * 1000 + 5U);
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 15), head);
  EXPECT_EQ(std::vector<std::string>(lines.end() - 8, lines.end()), tail);
}

TEST_F(Trace, ARefusedMoveWritesNothingAndAnEmptyMoveOnlyItsCounts) {
  lpt::LptState.traceOn = 1;
  ASSERT_TRUE(lpt::LptOpen());
  ASSERT_TRUE(lpt::TimerOpen());
  lpt::SetPortAddress("0xdf88");
  lpt::Vektorfahrt(0, 5, 0, 0, 200, 600, 100);
  EXPECT_EQ(traceFile(), "");
  lpt::SetSchrittbetrieb(0, 1);
  lpt::Vektorfahrt(0, 0, 0, 0, 200, 600, 100);
  EXPECT_EQ(traceFile(), "xStep: 0  yStep: 0  zStep: 0\n");
  lpt::LptClose();
}

TEST_F(Trace, TheLongestLineFitsItsBuffer) {
  lpt::LptState.traceOn = 1;
  startUp();
  board->setSwitchPosition(0, 10); // stop after the first step
  lpt::Vektorfahrt(0, INT_MIN, INT_MIN, INT_MIN, 200, 600, 100);
  lpt::LptClose();
  const auto lines = traceLines();
  ASSERT_GT(lines.size(), 5U);
  EXPECT_EQ(lines[5], "xStep: -2147483648  yStep: -2147483648  zStep: -2147483648");
  EXPECT_EQ(lines[5].size(), 58U);
}

} // namespace
} // namespace kdx620::test
