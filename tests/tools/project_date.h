// project_date.h - the project's date as the program passes it, and the same moment in seconds.
#pragma once

#include "tools/tools.h"

#include <ctime>

namespace kdx620::test {

// 10 October 2009, 08:10:00.000, a Saturday.
inline constexpr tools::SystemTime kProjectDate{2009, 10, 6, 10, 8, 10, 0, 0};
inline constexpr std::time_t kProjectDateUtc = 1'255'162'200;

} // namespace kdx620::test
