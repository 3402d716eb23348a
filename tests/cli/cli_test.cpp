// cli_test.cpp - kdx620ctl: its command lines, and whole runs of the program on the simulated
// board (KDX620_SIM), judged by the board's state it prints last.
#include "cli/arguments.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

namespace {

using ::testing::HasSubstr;

struct Outcome {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Runs kdx620ctl with `arguments` and the environment given (NAME=value), optionally sending it
// SIGINT `signals` times after `delay`; collects what it wrote.
class Program {
public:
  Program(const std::vector<std::string> &arguments, const std::vector<std::string> &environment) {
    std::vector<std::string> words = {KDX620CTL};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char *> argv;
    for (auto &word : words) {
      argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> variables = {"KDX620_PRIORITY=normal", "KDX620_IO=sim"};
    variables.insert(variables.end(), environment.begin(), environment.end());
    std::vector<char *> envp;
    for (auto &variable : variables) {
      envp.push_back(variable.data());
    }
    envp.push_back(nullptr);
    ::pipe(out_);
    ::pipe(err_);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out_[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err_[1], STDERR_FILENO);
    posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out_[1]);
    ::close(err_[1]);
  }

  void interrupt(int signal = SIGINT) const { ::kill(pid_, signal); }

  Outcome finish() {
    Outcome outcome;
    std::thread errReader([&] { outcome.err = Drain(err_[0]); });
    outcome.out = Drain(out_[0]);
    errReader.join();
    int status = 0;
    ::waitpid(pid_, &status, 0);
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return outcome;
  }

private:
  static std::string Drain(int fd) {
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
      text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return text;
  }

  pid_t pid_ = -1;
  int out_[2] = {-1, -1};
  int err_[2] = {-1, -1};
};

Outcome RunProgram(const std::vector<std::string> &arguments,
                   const std::vector<std::string> &environment = {}) {
  return Program(arguments, environment).finish();
}

std::string LastLine(const std::string &text) {
  const auto end = text.find_last_not_of('\n');
  const auto start = text.rfind('\n', end);
  return text.substr(start == std::string::npos ? 0 : start + 1,
                     end - (start == std::string::npos ? 0 : start + 1) + 1);
}

std::vector<std::string> Words(const std::string &line) {
  std::vector<std::string> words;
  std::size_t at = 0;
  while ((at = line.find_first_not_of(' ', at)) != std::string::npos) {
    const auto end = line.find(' ', at);
    words.push_back(line.substr(at, end - at));
    at = end;
  }
  return words;
}

TEST(CommandLine, AcceptsGoodLinesAndRefusesBadOnesWithExitCode2) {
  const struct {
    const char *line;
    int exitCode; // -1: parses into an invocation
    const char *message;
  } cases[] = {
      {"move 10 -5 3", -1, ""},
      {"--io sim --port lpt2 --full --hold 60 --low-active --e1 --clock-dir move 1 2 3", -1, ""},
      {"--three-lines home z", -1, ""},
      {"move 010 0 0 --start 1 --work 64000 --ramp 60000", -1, ""},
      {"home all --ref-offset -25", -1, ""},
      {"profile 5 0 0 --plot out.svg --run", -1, ""},
      {"--port 0X3bc output reset --quiet", -1, ""},
      {"move 10 -5", 2, "Z is required"},
      {"move 1.5 0 0", 2, "\"1.5\" is not a decimal integer"},
      {"move 0x10 0 0", 2, "not a decimal integer"},
      {"move 2147483648 0 0", 2, "out of range"},
      {"move 1 0 0 --start 0", 2, "out of range 1 to 64000"},
      {"move 1 0 0 --ramp 60001", 2, "out of range 0 to 60000"},
      {"move 1 0 0 --speed 5", 2, "--speed"},
      {"home w", 2, "w not in"},
      {"output on", 2, "on not in"},
      {"--hold 50 inputs", 2, "50 not in"},
      {"--port 0x10000 inputs", 2, "neither lpt1, lpt2 nor a hexadecimal address"},
      {"--io parport inputs", 2, "parport not in"},
      {"--half --full inputs", 2, "excludes"},
      {"profile 1 0 0 --plot out.jpg", 2, "must end in .png or .svg"},
      {"latency --seconds 0", 2, "not in range"},
      {"", 2, "A subcommand is required"},
      {"dance", 2, "dance"},
      {"--help", 0, "Subcommands:"},
      {"home --help", 0, "--ref-offset"},
  };
  for (const auto &c : cases) {
    const cli::Parsed parsed = cli::ParseArguments(Words(c.line));
    if (c.exitCode < 0) {
      EXPECT_TRUE(parsed.invocation.has_value()) << c.line << ": " << parsed.text;
      continue;
    }
    EXPECT_FALSE(parsed.invocation.has_value()) << c.line;
    EXPECT_EQ(parsed.exitCode, c.exitCode) << c.line;
    EXPECT_THAT(parsed.text, HasSubstr(c.message)) << c.line;
  }
}

TEST(CommandLine, TakesTheSettingsAsGiven) {
  const cli::Parsed parsed =
      cli::ParseArguments(Words("--port LPT1 --full --hold 0 move -7 0 9 --start 300 --clock-dir"));
  ASSERT_TRUE(parsed.invocation);
  const auto &global = parsed.invocation->global;
  EXPECT_EQ(global.portItem, 0);
  EXPECT_TRUE(global.fullStep);
  EXPECT_EQ(global.holdLevelItem, 0);
  const auto &move = std::get<cli::MoveArgs>(parsed.invocation->command);
  EXPECT_EQ(move.x, -7);
  EXPECT_EQ(move.z, 9);
  EXPECT_EQ(move.start, 300);
  EXPECT_EQ(move.work, 600);
  EXPECT_TRUE(move.clockDir);
}

TEST(Kdx620ctl, MovesTheSimulatedMotorsAndEndsWithTheBoardsState) {
  const Outcome outcome = RunProgram({"move", "10", "-5", "3"});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_THAT(outcome.out, HasSubstr("move done; steps made: x=10 y=-5 z=3"));
  EXPECT_THAT(outcome.out, HasSubstr("timing: "));
  EXPECT_EQ(LastLine(outcome.out), "sim: x=10 y=-5 z=3 lost=0");
}

TEST(Kdx620ctl, SaysWhenTheReferenceInputEndedAMove) {
  const Outcome outcome = RunProgram({"move", "10", "0", "0"}, {"KDX620_SIM=switch.x=5"});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_THAT(outcome.out,
              HasSubstr("move ended early by the active reference input; steps made: x=1"));
  EXPECT_EQ(LastLine(outcome.out), "sim: x=1 y=0 z=0 lost=0");
}

TEST(Kdx620ctl, HomesOnThreeReferenceLines) {
  const Outcome outcome = RunProgram({"--three-lines", "--low-active", "home", "z", "--ref-offset",
                                      "3", "--start", "1000", "--ref-freq", "2000"},
                                     {"KDX620_SIM=wiring=three,polarity=low,switch.z=-2"});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_EQ(LastLine(outcome.out), "sim: x=0 y=0 z=2 lost=0");
}

TEST(Kdx620ctl, ClockDirectionMovesAreCountedByTheDecoder) {
  const Outcome outcome =
      RunProgram({"--clock-dir", "move", "-4", "2", "0", "--start", "1000", "--work", "1000"});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_EQ(LastLine(outcome.out), "sim: x=-4 y=2 z=0 lost=0");
}

TEST(Kdx620ctl, HomesAllAxesAgainstTheirSwitches) {
  const Outcome outcome =
      RunProgram({"home", "all", "--ref-offset", "5", "--start", "1000", "--ref-freq", "2000"},
                 {"KDX620_SIM=switch.x=-3,switch.y=-4,switch.z=-2"});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  // Each axis ends five half-steps beyond the point where its switch released.
  EXPECT_EQ(LastLine(outcome.out), "sim: x=3 y=2 z=4 lost=0");
}

TEST(Kdx620ctl, ShowsTheInputsAsTheBoardDrivesThem) {
  const Outcome outcome = RunProgram({"inputs"}, {"KDX620_SIM=e1=0,switch.x=5"});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_THAT(outcome.out, HasSubstr("E1: low"));
  EXPECT_THAT(outcome.out, HasSubstr("reference input: active (status line 7, high-active)"));
  EXPECT_THAT(outcome.out, HasSubstr("status line 7 (pin 11): high"));
  EXPECT_THAT(outcome.out, HasSubstr("status line 4 (pin 13): low"));
}

TEST(Kdx620ctl, ReportsTheProfilesOfTheRampExamples) {
  const struct {
    std::vector<std::string> arguments;
    const char *rampLine;
  } cases[] = {
      {{"profile", "1000", "0", "0"}, "ramp steps: 60, slope 6.666667"},
      {{"profile", "1000", "0", "0", "--start", "300", "--work", "900", "--ramp", "50"},
       "ramp steps: 44,"},
      {{"profile", "1000", "0", "0", "--ramp", "1"}, "ramp steps: 0, slope 0.000000"},
      {{"profile", "1000", "0", "0", "--ramp", "2"}, "ramp steps: 1, slope 400.000000"},
      {{"profile", "4", "0", "0"}, "ramp steps: 2, slope 6.666667"},
      {{"profile", "5", "0", "0"}, "ramp steps: 2, slope 6.666667"},
  };
  for (const auto &c : cases) {
    const Outcome outcome = RunProgram(c.arguments);
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_THAT(outcome.out, HasSubstr(c.rampLine)) << c.arguments[1];
  }
}

TEST(Kdx620ctl, ABadKdx620SimIsAUsageErrorAndMovesNothing) {
  const Outcome outcome = RunProgram({"move", "10", "0", "0"}, {"KDX620_SIM=polarity=up"});
  EXPECT_EQ(outcome.exitCode, 2);
  EXPECT_THAT(outcome.err, HasSubstr("polarity"));
  EXPECT_EQ(outcome.out, "");
}

// The command goes on after an error box, as the window does, but its exit status says that
// not all of it worked: here the board's log could not be written at the end.
TEST(Kdx620ctl, AnErrorBoxMakesTheExitStatusAFailure) {
  const Outcome outcome = RunProgram({"move", "3", "0", "0"}, {"KDX620_SIM=log=/dev/full"});
  EXPECT_EQ(outcome.exitCode, 1);
  EXPECT_THAT(outcome.err, HasSubstr("F E H L E R: KDX620_SIM: writing the board's log"));
  EXPECT_EQ(LastLine(outcome.out), "sim: x=3 y=0 z=0 lost=0");
}

TEST(Kdx620ctl, CtrlCRampsAMoveDownAndReportsTheStepsTheMotorsMade) {
  Program move({"move", "100000", "2000", "0"}, {});
  std::this_thread::sleep_for(std::chrono::milliseconds(400)); // well into a move of minutes
  move.interrupt();
  const Outcome outcome = move.finish();
  EXPECT_EQ(outcome.exitCode, 130) << outcome.err;
  // The steps reported are the steps on the board.
  const std::string last = LastLine(outcome.out);
  ASSERT_THAT(last, ::testing::StartsWith("sim: x="));
  const std::string positions = last.substr(5, last.find(" lost") - 5);
  EXPECT_THAT(outcome.out, HasSubstr("stopped by the operator; steps made: " + positions));
  EXPECT_THAT(last, ::testing::EndsWith("lost=0"));
}

TEST(Kdx620ctl, CtrlCEndsAnEndlessWaitForE1) {
  Program waiting({"--e1", "move", "10", "0", "0"}, {"KDX620_SIM=e1=0"});
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  waiting.interrupt(SIGTERM);
  const Outcome outcome = waiting.finish();
  EXPECT_EQ(outcome.exitCode, 130);
  EXPECT_EQ(LastLine(outcome.out), "sim: x=0 y=0 z=0 lost=0");
}

TEST(Kdx620ctl, RunsAScriptInOneStartUp) {
  const std::string script = ::testing::TempDir() + "kdx620ctl-script.txt";
  std::FILE *file = std::fopen(script.c_str(), "w");
  std::fputs("# a comment\nmove 8 0 0\n\nmove -3 2 0 --start 1000\noutput set\n", file);
  std::fclose(file);
  const Outcome outcome = RunProgram({"script", script});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_THAT(outcome.out, HasSubstr("sim: x=8 y=0 z=0 lost=0"));
  EXPECT_EQ(LastLine(outcome.out), "sim: x=5 y=2 z=0 lost=0");

  std::FILE *bad = std::fopen(script.c_str(), "w");
  std::fputs("move 8 0 0\nmove 8 zero 0\n", bad);
  std::fclose(bad);
  const Outcome refused = RunProgram({"script", script});
  EXPECT_EQ(refused.exitCode, 2);
  EXPECT_THAT(refused.err, HasSubstr("line 2"));
  EXPECT_EQ(refused.out, "") << "nothing runs when a line is malformed";
}

} // namespace
