#include "platform/SystemFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace lumipage::platform {
namespace {

class SystemFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = std::getenv("LUMIPAGE_SYSTEM_DIR")) saved_ = old;
  }
  void TearDown() override {
    if (saved_) {
      setenv("LUMIPAGE_SYSTEM_DIR", saved_->c_str(), 1);
    } else {
      unsetenv("LUMIPAGE_SYSTEM_DIR");
    }
  }
  std::optional<std::string> saved_;
};

TEST_F(SystemFolderTest, EnvironmentWinsAndGetsTrailingSlash) {
  setenv("LUMIPAGE_SYSTEM_DIR", "/opt/scan", 1);
  EXPECT_EQ(SystemFolder(), "/opt/scan/");
  setenv("LUMIPAGE_SYSTEM_DIR", "/opt/scan/", 1);
  EXPECT_EQ(SystemFolder(), "/opt/scan/");
}

TEST_F(SystemFolderTest, EmptyEnvironmentFallsBackToBuildFolder) {
  setenv("LUMIPAGE_SYSTEM_DIR", "", 1);
  EXPECT_EQ(SystemFolder(), std::string(LUMIPAGE_BUILD_DIR) + "/");
  unsetenv("LUMIPAGE_SYSTEM_DIR");
  EXPECT_EQ(SystemFolder(), std::string(LUMIPAGE_BUILD_DIR) + "/");
}

}  // namespace
}  // namespace lumipage::platform
