// file_times_test.cpp - which files of a folder take the project time stamp, and which keep
// their times.
#include "project_date.h"

#include "tools/tools.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

namespace fs = std::filesystem;
using kdx620::test::kProjectDate;
using kdx620::test::kProjectDateUtc;

constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;
constexpr std::int64_t kProjectDateNs = kProjectDateUtc * kNanosecondsPerSecond;
// 1 January 2000: a file still showing this was left alone.
constexpr std::int64_t kUntouchedNs = 946'684'800 * kNanosecondsPerSecond;

struct Conversion {
  tools::SystemTime stamp;
  std::optional<std::int64_t> nanoseconds;
};

std::optional<std::int64_t> Nanoseconds(std::optional<timespec> time) {
  if (!time) {
    return std::nullopt;
  }
  return time->tv_sec * kNanosecondsPerSecond + time->tv_nsec;
}

TEST(ToFileTime, TakesTheFieldsAsUtcIgnoringTheDayOfWeekAndRefusesImpossibleTimes) {
  const Conversion cases[] = {
      {kProjectDate, kProjectDateNs},
      {{1970, 1, 4, 1, 0, 0, 0, 0}, 0},
      {{2000, 2, 99, 29, 23, 59, 59, 999}, 951'868'799'999'000'000},
      {{1969, 12, 3, 31, 23, 59, 59, 0}, -kNanosecondsPerSecond},
      {{2009, 13, 6, 10, 8, 10, 0, 0}, std::nullopt},
      {{2009, 0, 6, 10, 8, 10, 0, 0}, std::nullopt},
      {{2009, 2, 6, 29, 8, 10, 0, 0}, std::nullopt},
      {{2009, 10, 6, 0, 8, 10, 0, 0}, std::nullopt},
      {{2009, 10, 6, 10, 24, 0, 0, 0}, std::nullopt},
      {{2009, 10, 6, 10, 8, 60, 0, 0}, std::nullopt},
      {{2009, 10, 6, 10, 8, 10, 60, 0}, std::nullopt},
      {{2009, 10, 6, 10, 8, 10, 0, 1000}, std::nullopt},
  };
  for (const Conversion &c : cases) {
    EXPECT_EQ(Nanoseconds(tools::ToFileTime(c.stamp)), c.nanoseconds)
        << c.stamp.wYear << "-" << c.stamp.wMonth << "-" << c.stamp.wDay << " " << c.stamp.wHour
        << ":" << c.stamp.wMinute << ":" << c.stamp.wSecond << "." << c.stamp.wMilliseconds;
  }
}

enum class Kind { file, readOnlyFile, folder, linkToTarget, pipe };

// One thing planted in the test folder, at a path relative to it, and whether it must come out
// with the project date or with its old times.
struct Entry {
  std::string path;
  Kind kind;
  bool stamped;
};

// Access and modification time of the entry itself (a link's own, not its target's).
std::pair<std::int64_t, std::int64_t> TimesOf(const fs::path &path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) {
    return {-1, -1};
  }
  return {info.st_atim.tv_sec * kNanosecondsPerSecond + info.st_atim.tv_nsec,
          info.st_mtim.tv_sec * kNanosecondsPerSecond + info.st_mtim.tv_nsec};
}

class StampFolder : public ::testing::Test {
protected:
  void SetUp() override {
    std::string name = (fs::temp_directory_path() / "kdx620-stamp-XXXXXX").string();
    ASSERT_NE(mkdtemp(name.data()), nullptr);
    root_ = name;
  }

  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  // Creates every entry, then dates them all back, folders last touched by their contents too.
  void Plant(const std::vector<Entry> &entries) {
    for (const Entry &entry : entries) {
      Create(root_ / entry.path, entry.kind);
    }
    const timespec old{kUntouchedNs / kNanosecondsPerSecond, 0};
    const timespec times[2] = {old, old};
    for (const Entry &entry : entries) {
      ASSERT_EQ(utimensat(AT_FDCWD, (root_ / entry.path).c_str(), times, AT_SYMLINK_NOFOLLOW), 0)
          << entry.path;
    }
  }

  void ExpectTimes(const std::vector<Entry> &entries) {
    for (const Entry &entry : entries) {
      const fs::path path = root_ / entry.path;
      const std::int64_t expected = entry.stamped ? kProjectDateNs : kUntouchedNs;
      EXPECT_EQ(TimesOf(path), std::make_pair(expected, expected)) << entry.path;
    }
  }

  fs::path root_;

private:
  static void Create(const fs::path &path, Kind kind) {
    switch (kind) {
    case Kind::file:
      std::ofstream(path) << "x";
      break;
    case Kind::readOnlyFile:
      std::ofstream(path) << "x";
      fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
      break;
    case Kind::folder:
      fs::create_directories(path);
      break;
    case Kind::linkToTarget:
      fs::create_symlink("target.keep", path);
      break;
    case Kind::pipe:
      ASSERT_EQ(mkfifo(path.c_str(), 0644), 0) << path;
      break;
    }
  }
};

TEST_F(StampFolder, StampsEveryVisibleRegularProjectFileAndNothingElse) {
  const std::vector<Entry> entries = {
      {"befehle_main.cpp", Kind::file, true},
      {"lpt.h", Kind::file, true},
      {"befehle_main.dfm", Kind::file, true},
      {"kdx620.res", Kind::file, true},
      {"kdx620.bpr", Kind::file, true},
      {"werte.dat", Kind::file, true},
      {"kdx620.fpc", Kind::file, true},
      {"lpt.obj", Kind::file, true},
      {"kdx620.exe", Kind::file, true},
      {"ausgabe.txt", Kind::file, true},
      {"MAIN.CPP", Kind::file, true},
      {"notes.TxT", Kind::file, true},
      {"Tools.H", Kind::file, true},
      {"main.cpp.bak", Kind::file, false},
      {"main.hpp", Kind::file, false},
      {"main_txt", Kind::file, false},
      {"cpp", Kind::file, false},
      {"readme.md", Kind::file, false},
      {".hidden.txt", Kind::file, false},
      {"sources.cpp", Kind::folder, false},
      {"sources.cpp/inner.cpp", Kind::file, false},
      {"target.keep", Kind::file, false},
      {"link.txt", Kind::linkToTarget, false},
      {"pipe.dat", Kind::pipe, false},
      {"readonly.txt", Kind::readOnlyFile, false}, // read-only even for root
  };
  Plant(entries);

  // Twice, as for the option given twice: the outcome is that of once.
  tools::StampFileTimesIn(root_, kProjectDate);
  tools::StampFileTimesIn(root_, kProjectDate);

  ExpectTimes(entries);
}

TEST_F(StampFolder, ImpossibleStampLeavesEveryFileAlone) {
  const std::vector<Entry> entries = {{"main.cpp", Kind::file, false}};
  Plant(entries);

  tools::StampFileTimesIn(root_, {2009, 2, 6, 30, 8, 10, 0, 0});

  ExpectTimes(entries);
}

// Runs `program` with `folder` as its current directory and returns its exit status.
int RunIn(const fs::path &folder, const fs::path &program) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  std::string name = program.string();
  char *argv[] = {name.data(), nullptr};
  pid_t child = 0;
  const int spawned = posix_spawn(&child, name.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (spawned != 0 || waitpid(child, &status, 0) != child) {
    return -1;
  }
  return status;
}

TEST_F(StampFolder, ProgramStampsItsOwnFolderWhateverTheCurrentDirectory) {
  // The program lies deep enough that its folder's path runs to over 300 bytes.
  const std::string home = std::string(150, 'p') + "/" + std::string(150, 'q');
  fs::create_directories(root_ / home);
  fs::create_directory(root_ / "elsewhere");
  const fs::path program = root_ / home / "stamp_here";
  fs::copy_file(KDX620_STAMP_HERE, program);
  const std::vector<Entry> entries = {
      {home + "/main.cpp", Kind::file, true},
      {home + "/notes.TxT", Kind::file, true},
      {home + "/readme.md", Kind::file, false},
      {"elsewhere/main.cpp", Kind::file, false},
  };
  Plant(entries);

  ASSERT_EQ(RunIn(root_ / "elsewhere", program), 0);

  ExpectTimes(entries);
}

} // namespace
