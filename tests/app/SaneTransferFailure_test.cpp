// A source that fails a transfer after some pages: the job keeps and assembles the pages it has,
// and the report names the condition next to the page count. A cancel stays silent.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "app/FrmScan.h"
#include "pdf/Vellox.h"
#include "tests/support/ScriptedJob.h"
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
  TFrmScan form(ScriptedJob<FailingScanner>(exe, std::move(args),
                                            std::vector<TScriptedPage>(static_cast<std::size_t>(pages), kTinyPage),
                                            [condition](FailingScanner& s) { s.Condition = condition; }));
  EXPECT_EQ(form.Run(), 0);
  // An assembly leaves its PDF, holding the pages it was given.
  const std::string pdfName = exe / "pages.pdf";
  if (Exists(pdfName)) {
    TVellox pdf;
    EXPECT_EQ(pdf.LoadFromFile(pdfName), 1);
    ++out.assembled;
    out.pagesAtAssembly = pdf.PageCount();
  }
  return out;
}

struct FailureCase {
  const char* name;
  std::vector<std::string> args;
  int pages;                   // delivered before the failure
  twain::TW_UINT16 condition;
  int assembled;               // PDF assemblies run, each with all the pages
  std::string message;
  std::vector<std::string> kept;  // page files that stay
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class TransferFailureTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(TransferFailureTest, PagesSoFarStayAndTheConditionIsReported) {
  const FailureCase& c = GetParam();
  TempDir exe;
  Outcome out = RunJob(exe, c.args, c.pages, c.condition);
  EXPECT_EQ(out.assembled, c.assembled);
  if (c.assembled > 0) {
    EXPECT_EQ(out.pagesAtAssembly, c.pages);
  }
  for (const std::string& file : c.kept) EXPECT_TRUE(Exists(exe / file)) << file;
  EXPECT_EQ(ReportValue(exe, "Scan", "Pages"), std::to_string(c.pages));
  EXPECT_EQ(ReportValue(exe, "Error", "Message"), c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TransferFailureTest,
    ::testing::Values(FailureCase{"jam_after_two_pages_assembles_them", {"pdf"}, 2, 20, 1, "Document feeder jammed", {}},
                      FailureCase{"failure_before_the_first_page_assembles_nothing", {"pdf"}, 0, 29, 0,
                                  "No paper in the document feeder", {}},
                      FailureCase{"unknown_condition_gives_its_code",
                                  {"jpg"},
                                  3,
                                  777,
                                  0,
                                  "Image transfer failed (TWAIN condition code 777)",
                                  {"page001.jpg", "page003.jpg"}}),
    [](const auto& i) { return std::string(i.param.name); });

}  // namespace
