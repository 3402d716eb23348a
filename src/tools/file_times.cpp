// file_times.cpp - the project file time stamp: one moment on every project file of a folder.
#include "tools.h"

#include <array>
#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tools {
namespace {

// Each stands for the pattern "*<extension>"; the folder is walked in this order.
constexpr std::array<std::string_view, 10> kProjectExtensions = {
    ".cpp", ".h", ".dfm", ".res", ".bpr", ".dat", ".fpc", ".obj", ".exe", ".txt"};

// ASCII only, so that the match does not hang on the locale the program runs in.
char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EndsWithIgnoringAsciiCase(std::string_view name, std::string_view suffix) {
  if (name.size() < suffix.size()) {
    return false;
  }
  const std::string_view tail = name.substr(name.size() - suffix.size());
  for (std::size_t i = 0; i < suffix.size(); ++i) {
    if (LowerAscii(tail[i]) != LowerAscii(suffix[i])) {
      return false;
    }
  }
  return true;
}

struct DirCloser {
  void operator()(DIR *folder) const { closedir(folder); }
};

// Names of the folder's entries that are not hidden (dot files, "." and "..").
std::vector<std::string> VisibleNames(DIR *folder) {
  std::vector<std::string> names;
  while (const dirent *entry = readdir(folder)) {
    if (entry->d_name[0] != '.') {
      names.emplace_back(entry->d_name);
    }
  }
  return names;
}

bool IsRegularFile(const struct stat &info) {
  return S_ISREG(info.st_mode);
}

// A file nobody may write is read-only, also for root, who could open it all the same.
bool IsReadOnly(const struct stat &info) {
  return (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

// Stamps `name` in the folder behind `folderFd` if it is a regular, writable file we may open
// for reading and writing. The look before the open keeps us from opening devices or pipes at all; the look
// after it checks what was really opened, in case the name was replaced in between. Symbolic
// links are not followed. Linux files have no creation time that can be set, so access and
// modification time carry the stamp.
void StampRegularFile(int folderFd, const char *name, const timespec (&times)[2]) {
  struct stat info {};
  if (fstatat(folderFd, name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !IsRegularFile(info) ||
      IsReadOnly(info)) {
    return;
  }
  const int file = openat(folderFd, name, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (file < 0) {
    return;
  }
  if (fstat(file, &info) == 0 && IsRegularFile(info)) {
    futimens(file, times);
  }
  close(file);
}

} // namespace

std::optional<timespec> ToFileTime(SystemTime stamp) {
  using namespace std::chrono;
  const year_month_day date{year{stamp.wYear}, month{stamp.wMonth}, day{stamp.wDay}};
  if (!date.ok() || stamp.wHour > 23 || stamp.wMinute > 59 || stamp.wSecond > 59 ||
      stamp.wMilliseconds > 999) {
    return std::nullopt;
  }
  const sys_seconds moment =
      sys_days{date} + hours{stamp.wHour} + minutes{stamp.wMinute} + seconds{stamp.wSecond};
  timespec time{};
  time.tv_sec = moment.time_since_epoch().count();
  time.tv_nsec = stamp.wMilliseconds * 1'000'000L;
  return time;
}

void StampFileTimesIn(const std::filesystem::path &folder, SystemTime stamp) {
  const std::optional<timespec> time = ToFileTime(stamp);
  if (!time) {
    return;
  }
  const std::unique_ptr<DIR, DirCloser> listing(opendir(folder.c_str()));
  if (!listing) {
    return;
  }
  const std::vector<std::string> names = VisibleNames(listing.get());
  const timespec times[2] = {*time, *time};
  for (const std::string_view extension : kProjectExtensions) {
    for (const std::string &name : names) {
      if (EndsWithIgnoringAsciiCase(name, extension)) {
        StampRegularFile(dirfd(listing.get()), name.c_str(), times);
      }
    }
  }
}

void StampFileTimes(SystemTime stamp) {
  // The link names the executable itself, so the folder holds whatever the current directory.
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) {
    StampFileTimesIn(program.parent_path(), stamp);
  }
}

} // namespace tools
