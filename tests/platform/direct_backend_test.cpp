// direct_backend_test.cpp - recognising kernel lockdown. The backend itself gives up the test
// process's privileges when made, so it is proven on a real kernel by the QEMU rig instead.
#include "platform/direct_backend.h"

#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

TEST(Lockdown, TheModeInBracketsIsTheOneInForce) {
  std::string pattern = (fs::temp_directory_path() / "kdx620-lockdown-XXXXXX").string();
  const fs::path sys = mkdtemp(pattern.data());
  fs::create_directories(sys / "kernel/security");
  const struct {
    const char *file;
    std::optional<std::string> mode;
  } cases[] = {
      {"[none] integrity confidentiality\n", std::nullopt},
      {"none [integrity] confidentiality\n", "integrity"},
      {"none integrity [confidentiality]\n", "confidentiality"},
      {"", std::nullopt},
  };
  for (const auto &c : cases) {
    std::ofstream(sys / "kernel/security/lockdown") << c.file;
    EXPECT_EQ(platform::activeLockdown(sys), c.mode) << c.file;
  }
  fs::remove_all(sys);
  EXPECT_EQ(platform::activeLockdown(sys), std::nullopt) << "no securityfs";
}

} // namespace
