// A source that fails a transfer after some pages: the job keeps and assembles the pages it has,
// and the report names the condition next to the page count. A cancel stays silent.
#include <gtest/gtest.h>

#include "../support/TempDir.h"
#include "app/FrmScan.h"
#include "tests/support/ScriptedScanner.h"
#include "platform/IniFile.h"
#include "twain/Scanner.h"

using namespace lumipage;
using namespace lumipage::testing;

namespace {

// Delivers its pages, then fails the next transfer the way the TWAIN scanner object does.
class FailingScanner : public TScriptedScanner {
 public:
  twain::TW_UINT16 Condition = 20;
  void Acquire(std::intptr_t passThrough, TImageHandler handler) override {
    CallOnDone = false;
    TScriptedScanner::Acquire(passThrough, std::move(handler));
    throw ETransferError(Condition);
  }
};

struct Outcome {
  int assembled = 0;        // PDF assemblies run
  int pagesAtAssembly = 0;
};

Outcome RunJob(const TempDir& exe, std::vector<std::string> args, int pages, twain::TW_UINT16 condition) {
  Outcome out;
  TJobEnvironment env;
  env.CommandLine = TCommandLine(std::move(args));
  env.ExeFolder = exe.Folder();
  env.TerminalPath = "/nonexistent/tty";
  env.CreateScanner = [pages, condition] {
    auto s = std::make_unique<FailingScanner>();
    s->Pages.assign(static_cast<std::size_t>(pages), TScriptedPage{40, 30, 24, 100, 100});
    s->Condition = condition;
    return s;
  };
  TFrmScan form(std::move(env));
  form.PdfAssembler = [&out](TFrmScan& f) {
    ++out.assembled;
    out.pagesAtAssembly = f.LastPageNo;
  };
  EXPECT_EQ(form.Run(), 0);
  return out;
}

std::string Report(const TempDir& exe, const std::string& section, const std::string& key) {
  return platform::GetPrivateProfileString(section, key, "<none>", exe / "lp_done.dat");
}

TEST(TransferFailureTest, PagesBeforeAJamAreAssembledAndTheJamIsReported) {
  TempDir exe;
  Outcome out = RunJob(exe, {"pdf"}, 2, 20);
  EXPECT_EQ(out.assembled, 1);
  EXPECT_EQ(out.pagesAtAssembly, 2);
  EXPECT_EQ(Report(exe, "Scan", "Pages"), "2");
  EXPECT_EQ(Report(exe, "Error", "Message"), "Document feeder jammed");
}

TEST(TransferFailureTest, FailureBeforeTheFirstPageAssemblesNothing) {
  TempDir exe;
  Outcome out = RunJob(exe, {"pdf"}, 0, 29);
  EXPECT_EQ(out.assembled, 0);
  EXPECT_EQ(Report(exe, "Scan", "Pages"), "0");
  EXPECT_EQ(Report(exe, "Error", "Message"), "No paper in the document feeder");
}

TEST(TransferFailureTest, SavedPagesStayAndAnUnknownConditionGivesItsCode) {
  TempDir exe;
  Outcome out = RunJob(exe, {"jpg"}, 3, 777);
  EXPECT_EQ(out.assembled, 0);
  EXPECT_TRUE(Exists(exe / "page001.jpg"));
  EXPECT_TRUE(Exists(exe / "page003.jpg"));
  EXPECT_EQ(Report(exe, "Scan", "Pages"), "3");
  EXPECT_EQ(Report(exe, "Error", "Message"), "Image transfer failed (TWAIN condition code 777)");
}

}  // namespace
