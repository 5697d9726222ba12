// The program as `cmake --install` lays it out, staged under DESTDIR and run as an ordinary user:
// it finds its source manager and settings from its own folder, and a job's files go to the
// working folder or $LUMIPAGE_HOME, never beside the program.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/IniFile.h"
#include "platform/SystemFolder.h"
#include "tests/support/Program.h"
#include "tests/support/RunCommand.h"
#include "tests/support/TempDir.h"

using namespace lumipage;
using namespace lumipage::testing;
namespace fs = std::filesystem;

namespace {

constexpr int kNobody = 65534;

class InstalledProgram : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    stage_ = std::make_unique<TempDir>("stage");
    const CommandResult install = RunCommand("DESTDIR='" + stage_->Path() + "' '" LUMIPAGE_CMAKE "' --install '" +
                                             LUMIPAGE_BUILD_DIR + "' >/dev/null");
    ASSERT_EQ(install.status, 0) << install.output;
    ::chmod(stage_->Path().c_str(), 0755);
  }
  static void TearDownTestSuite() { stage_.reset(); }
  void SetUp() override {
    for (const TempDir* d : {&work, &sane}) {
      ::chmod(d->Path().c_str(), 0755);
      GiveToJobUser(d->Path());
    }
    fs::create_directory(work / "job");
    fs::create_directory(work / "home");
  }
  // The jobs run as nobody when the test runs as root: their folders are nobody's.
  static void GiveToJobUser(const std::string& path) {
    if (::geteuid() == 0) {
      ASSERT_EQ(::chown(path.c_str(), kNobody, kNobody), 0) << path;
    }
  }

  static std::string Bin() { return stage_->Path() + LUMIPAGE_INSTALL_BINDIR + "/"; }
  // The staged configuration folder; empty when the install puts it outside the prefix (/etc),
  // where the staged program does not look.
  static std::string StagedConfig() {
    const std::string configured = platform::InstalledConfigFolder();
    return configured[0] == '/' ? std::string() : Bin() + configured + "/";
  }

  // Runs the staged program with args in folder cwd, as nobody when the test runs as root;
  // env: further "NAME=value" settings. The exit code.
  int Run(const std::string& cwd, const std::string& args, const std::string& env = "") const {
    const std::string user = ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    // A configuration folder outside the stage (/etc) is the machine's, not the test's: the
    // staged source manager then comes through LUMIPAGE_SYSTEM_DIR, without settings.
    const std::string system =
        StagedConfig().empty() ? "LUMIPAGE_SYSTEM_DIR='" + Bin() + platform::InstalledLibraryFolder() + "' " : "";
    const std::string command = "cd '" + cwd + "' && exec " + user + "env -u LUMIPAGE_SYSTEM_DIR -u LUMIPAGE_HOME " +
                                system + "SANE_CONFIG_DIR='" + sane.Path() +
                                "' HOME='" + work.Path() + "' XDG_CACHE_HOME='" + work / "cache" + "' " + env + " '" +
                                Bin() + "lumipage' " + args + " </dev/null >/dev/null 2>'" + work / "stderr.txt" + "'";
    return ExitCode(std::system(command.c_str()));
  }
  [[nodiscard]] std::string Stderr() const { return ReadText(work / "stderr.txt"); }
  static std::string Report(const std::string& folder, const std::string& section, const std::string& key) {
    return platform::GetPrivateProfileString(section, key, "<none>", folder + "/lp_done.dat");
  }
  // A job of three virtual pages into pages.pdf in folder, its report beside it.
  static void ExpectPdfJobIn(const std::string& folder) {
    EXPECT_EQ(Report(folder, "Error", "Message"), "<none>");
    // The staged sample configuration has three sheets; without settings there is one.
    EXPECT_EQ(Report(folder, "Scan", "Pages"), StagedConfig().empty() ? "1" : "3");
    EXPECT_EQ(Report(folder, "Files", "File1"), folder + "/pages.pdf");
    EXPECT_TRUE(Exists(folder + "/pages.pdf"));
  }

  static std::unique_ptr<TempDir> stage_;
  TempDir work{"installed"};
  TempDir sane{"nosane"};  // no SANE devices: the machine's own scanners stay out
};

std::unique_ptr<TempDir> InstalledProgram::stage_;

TEST_F(InstalledProgram, LaysOutItsPieces) {
  const std::string lib = Bin() + platform::InstalledLibraryFolder() + "/";
  EXPECT_TRUE(Exists(Bin() + "lumipage"));
  EXPECT_TRUE(Exists(lib + "libtwain_32.so"));
  if (!StagedConfig().empty()) {
    EXPECT_TRUE(Exists(StagedConfig() + "twain_32.ini"));
  }
  // Nothing else in the bindir, and no build paths baked into the program's run-time search.
  for (const auto& entry : fs::directory_iterator(Bin())) EXPECT_EQ(entry.path().filename(), "lumipage");
  const CommandResult dynamic = RunCommand("readelf -d '" + Bin() + "lumipage'");
  EXPECT_EQ(dynamic.output.find("RUNPATH"), std::string::npos) << dynamic.output;
  EXPECT_EQ(dynamic.output.find("RPATH"), std::string::npos) << dynamic.output;
}

TEST_F(InstalledProgram, JobGoesToTheWorkingFolder) {
  const std::string job = work / "job";
  GiveToJobUser(job);
  WriteText(job + "/lumipage.ini", "[Scan]\nResolution=50\n");
  GiveToJobUser(job + "/lumipage.ini");
  ASSERT_EQ(Run(job, "pdf"), 0) << Stderr();
  ExpectPdfJobIn(job);
  // The settings file of the job folder was read and written.
  EXPECT_NE(platform::GetPrivateProfileString("Scanners", "LastScanner", "", job + "/lumipage.ini"), "");
  EXPECT_FALSE(Exists(Bin() + "lp_done.dat"));
}

TEST_F(InstalledProgram, LumipageHomeIsTheJobFolder) {
  const std::string home = work / "home";
  GiveToJobUser(home);
  ASSERT_EQ(Run(work / "job", "pdf Resolution 50", "LUMIPAGE_HOME='" + home + "'"), 0) << Stderr();
  ExpectPdfJobIn(home);
  EXPECT_FALSE(Exists(work / "job/lp_done.dat"));
  // A relative folder is taken from the working folder.
  ASSERT_EQ(Run(work.Path(), "pdf Resolution 50", "LUMIPAGE_HOME=home"), 0) << Stderr();
  ExpectPdfJobIn(home);
}

TEST_F(InstalledProgram, MissingJobFolderEndsBeforeAnything) {
  ASSERT_EQ(Run(work / "job", "pdf Resolution 50", "LUMIPAGE_HOME='" + work / "nowhere" + "'"), 1);
  EXPECT_NE(Stderr().find("is not a folder"), std::string::npos) << Stderr();
  EXPECT_FALSE(Exists(work / "nowhere"));
  EXPECT_TRUE(fs::is_empty(work / "job"));
}

}  // namespace
