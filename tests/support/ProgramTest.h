#pragma once
// A test that runs the real program as a caller does (see Program.h): the program in exe, the
// source manager in sys, and the job's report read back from exe.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/IniFile.h"
#include "tests/support/Program.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

namespace lumipage::testing {

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override { InstallProgram(exe.Folder(), sys.Folder()); }

  // The command that runs the program with args; systemDir: another system folder than sys.
  [[nodiscard]] std::string Command(const std::string& args, const std::string& systemDir = "",
                                    const std::string& prefix = "") const {
    const std::string dir = systemDir.empty() ? sys.Folder() : systemDir;
    return ProgramCommand(exe / "lumipage", args, "LUMIPAGE_SYSTEM_DIR='" + dir + "'", exe / "stderr.txt", prefix);
  }
  // Runs the program; its exit code.
  int Run(const std::string& args, const std::string& systemDir = "", const std::string& prefix = "") const {
    return ExitCode(std::system(Command(args, systemDir, prefix).c_str()));
  }
  // Whether a job with args ends with exit code 0, no error and the given number of pages.
  [[nodiscard]] ::testing::AssertionResult Scans(const std::string& args, int pages, const std::string& systemDir = "") const {
    const int code = Run(args, systemDir);
    const std::string error = Report("Error", "Message");
    const std::string count = Report("Scan", "Pages");
    if (code == 0 && error == "<none>" && count == std::to_string(pages)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "exit code " << code << ", error \"" << error << "\", pages " << count
                                         << "; standard error: " << Stderr();
  }
  [[nodiscard]] std::string Report(const std::string& section, const std::string& key) const {
    return platform::GetPrivateProfileString(section, key, "<none>", exe / "lp_done.dat");
  }
  [[nodiscard]] std::string Stderr() const { return ReadText(exe / "stderr.txt"); }

  TempDir exe{"exe"};
  TempDir sys{"sys"};

 private:
  // The system folder holds no SANE configuration, so the machine's own scanners never join a
  // job; a test that wants SANE devices brings its own configuration for its run.
  ScopedEnv noMachineScanners_{"SANE_CONFIG_DIR", sys.Path()};
};

}  // namespace lumipage::testing
