#include "platform/SystemFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "tests/support/TempDir.h"

namespace lumipage::platform {
namespace {

using lumipage::testing::TempDir;

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

// Program folders as a copied and an installed program see them. The tree holds bin/ with the
// install's library folder below it as configured, and a copied program's folder.
class ProgramFoldersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(bin());
    std::filesystem::create_directories(lib());
    std::filesystem::create_directories(tree / "copied");
    std::ofstream(lib() + kSourceManagerFileName) << "";
    std::ofstream(tree / "copied/" + kSourceManagerFileName) << "";
  }
  [[nodiscard]] std::string bin() const { return tree / "usr/bin/"; }
  [[nodiscard]] std::string lib() const { return bin() + InstalledLibraryFolder() + "/"; }
  [[nodiscard]] std::string config() const {
    const std::string c = InstalledConfigFolder();
    return (c[0] == '/' ? c : bin() + c) + "/";
  }
  TProgramFolders Resolve(const std::string& exe, const char* systemDir = nullptr, const char* home = nullptr) const {
    return ResolveProgramFolders(TProgramPlace{exe, "/work/here", systemDir, home});
  }
  TempDir tree{"layout"};
};

TEST_F(ProgramFoldersTest, CopiedProgramKeepsEverythingInItsFolder) {
  const std::string copied = tree / "copied/";
  const TProgramFolders f = Resolve(copied, nullptr, "/ignored");
  EXPECT_FALSE(f.Installed);
  EXPECT_EQ(f.System, copied);
  EXPECT_EQ(f.Config, copied);
  EXPECT_EQ(f.DeviceCache, copied);
  EXPECT_EQ(f.Job, copied);
  // Alone in its folder, it uses the build's source manager and still its own folder for jobs.
  const std::string alone = tree / "usr/";
  EXPECT_EQ(Resolve(alone).System, std::string(LUMIPAGE_BUILD_DIR) + "/");
  EXPECT_EQ(Resolve(alone).Job, alone);
}

TEST_F(ProgramFoldersTest, InstalledProgramWorksInTheJobFolder) {
  const TProgramFolders f = Resolve(bin());
  EXPECT_TRUE(f.Installed);
  EXPECT_EQ(f.System, lib());
  EXPECT_EQ(f.Config, config());
  EXPECT_EQ(f.DeviceCache, "");  // the configuration folder is no cache
  EXPECT_EQ(f.Job, "/work/here/");

  struct Case {
    const char* home;
    const char* job;
  };
  for (const Case& c : {Case{"", "/work/here/"}, Case{"/srv/scans", "/srv/scans/"}, Case{"/srv/scans//", "/srv/scans/"},
                        Case{"scans", "/work/here/scans/"}}) {
    EXPECT_EQ(Resolve(bin(), nullptr, c.home).Job, c.job) << c.home;
  }
  EXPECT_EQ(ResolveProgramFolders(TProgramPlace{bin(), "", nullptr, "scans"}).Job, "");
}

TEST_F(ProgramFoldersTest, SystemDirOverridesTheInstalledPieces) {
  const TProgramFolders f = Resolve(bin(), "/opt/dsm", "/srv/scans");
  EXPECT_TRUE(f.Installed);
  EXPECT_EQ(f.System, "/opt/dsm/");
  EXPECT_EQ(f.Config, "/opt/dsm/");
  EXPECT_EQ(f.DeviceCache, "/opt/dsm/");
  EXPECT_EQ(f.Job, "/srv/scans/");
}

}  // namespace
}  // namespace lumipage::platform
