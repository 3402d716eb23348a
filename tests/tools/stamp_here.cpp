// stamp_here.cpp - a small program that stamps the project files of its own folder, as the
// program does for its option, so tests can copy it anywhere and watch what it touches.
#include "project_date.h"

int main() {
  tools::StampFileTimes(kdx620::test::kProjectDate);
  return 0;
}
