// tools.h - developer aids: give the project's files in the program's folder one time stamp.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>

namespace tools {

// A calendar time, field by field, taken as UTC. The day of the week is carried but never
// read: the date alone fixes the moment.
struct SystemTime {
  std::uint16_t wYear;
  std::uint16_t wMonth; // 1 to 12
  std::uint16_t wDayOfWeek;
  std::uint16_t wDay; // 1 to 31
  std::uint16_t wHour;
  std::uint16_t wMinute;
  std::uint16_t wSecond;
  std::uint16_t wMilliseconds;
};

// The moment `stamp` names, as file systems store it; nothing when a field is out of range
// (13th month, 30 February, hour 24, ...).
std::optional<timespec> ToFileTime(SystemTime stamp);

// Sets access and modification time of every project file in `folder` to `stamp`: the regular,
// non-hidden files whose names end, in any case, in .cpp, .h, .dfm, .res, .bpr, .dat, .fpc,
// .obj, .exe or .txt (in that order). Folders below are not searched; files that cannot be
// opened for reading and writing, and every file when `stamp` is not a valid time, are left
// alone. Reports nothing.
void StampFileTimesIn(const std::filesystem::path &folder, SystemTime stamp);

// StampFileTimesIn on the folder of the running program's executable, whatever the current
// directory.
void StampFileTimes(SystemTime stamp);

} // namespace tools
