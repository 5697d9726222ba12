#pragma once
// Whole jobs through the real controller with a scripted scanner, in a temporary folder that
// stands for the program's and with no terminal to ask.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/FrmScan.h"
#include "platform/IniFile.h"
#include "tests/support/ScriptedScanner.h"
#include "tests/support/TempDir.h"

namespace lumipage::testing {

// A small colour page, quick to store in every format.
inline constexpr TScriptedPage kTinyPage{40, 30, 24, 100, 100};

// The environment of a job in exe with args. Every scanner the job asks for is a ScannerT that
// delivers pages; prepare, when given, sees it before the job does.
template <class ScannerT = TScriptedScanner>
TJobEnvironment ScriptedJob(const TempDir& exe, std::vector<std::string> args, std::vector<TScriptedPage> pages,
                            std::function<void(ScannerT&)> prepare = {}) {
  TJobEnvironment env;
  env.CommandLine = TCommandLine(std::move(args));
  env.ExeFolder = exe.Folder();
  env.TerminalPath = "/nonexistent/tty";
  env.CreateScanner = [pages = std::move(pages), prepare = std::move(prepare)]() -> std::unique_ptr<ScannerOperations> {
    auto s = std::make_unique<ScannerT>();
    s->Pages = pages;
    if (prepare) prepare(*s);
    return s;
  };
  return env;
}

// A value of the job's report in exe; "<none>" when it is not there.
inline std::string ReportValue(const TempDir& exe, const std::string& section, const std::string& key) {
  return platform::GetPrivateProfileString(section, key, "<none>", exe / "lp_done.dat");
}

// A test that runs jobs with a scripted scanner in its own program folder.
class ScriptedJobTest : public ::testing::Test {
 protected:
  // Runs one job; its exit code.
  int RunJob(std::vector<std::string> args, std::vector<TScriptedPage> pages,
             std::function<void(TScriptedScanner&)> prepare = {}) {
    TJobEnvironment env = ScriptedJob(exe, std::move(args), std::move(pages), std::move(prepare));
    env.OnFileWritten = onWritten;
    form = std::make_unique<TFrmScan>(std::move(env));
    return form->Run();
  }
  std::string Report(const std::string& section, const std::string& key) { return ReportValue(exe, section, key); }

  TempDir exe;
  std::unique_ptr<TFrmScan> form;
  std::function<void(const std::string&)> onWritten;  // given to each job
};

}  // namespace lumipage::testing
