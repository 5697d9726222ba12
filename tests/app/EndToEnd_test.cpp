// The real program and the real source manager: the program copied alone into a folder, the
// source manager found through LUMIPAGE_SYSTEM_DIR.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/IniFile.h"
#include "platform/Version.h"
#include "tests/support/ProgramTest.h"

using namespace lumipage;
using namespace lumipage::testing;

namespace {

using Program = ProgramTest;

TEST_F(Program, ScansFromTheVirtualScannerWhenCopiedAlone) {
  WriteText(sys / "twain_32.ini", "[Sources]\nCount=2\n[Source1]\nPages=3\n[Source2]\nName=Second\nPages=2\n");
  WriteText(exe / "lumipage.ini", "[Scan]\nResolution=50\n");
  EXPECT_TRUE(Scans("jpg", 3, sys.Folder()));
  EXPECT_EQ(platform::GetPrivateProfileString("Scanners", "Count", "", exe / "lumipage.ini"), "2");
  EXPECT_EQ(platform::GetPrivateProfileString("Scanners", "Scanner1", "", exe / "lumipage.ini"), "Second");
  EXPECT_EQ(Run("Scanner Second Resolution 50", sys.Folder()), 0);
  EXPECT_EQ(Report("Scan", "Pages"), "2");
  EXPECT_EQ(platform::GetPrivateProfileString("Scanners", "LastScanner", "", exe / "lumipage.ini"), "Second");
}

TEST_F(Program, MissingSourceManagerIsReported) {
  TempDir empty;
  EXPECT_EQ(Run("jpg", empty.Folder()), 0);
  EXPECT_EQ(Report("Error", "Message"), "LoadLibrary(" + empty / "libtwain_32.so" + ") failed");
  EXPECT_EQ(Report("Scan", "Pages"), "0");
}

TEST_F(Program, TransferFailureEndsWithPagesSoFar) {
  WriteText(sys / "twain_32.ini", "[Source1]\nPages=5\nFailAfter=2\n");
  EXPECT_EQ(Run("Resolution 50", sys.Folder()), 0);
  EXPECT_NE(Report("Error", "Message"), "<none>");
  EXPECT_EQ(Report("Scan", "Pages"), "2");
}

TEST_F(Program, HelpAndVersionTouchNoFile) {
  std::string out = exe / "out.txt";
  std::system(("'" + exe / "lumipage" + "' --version > '" + out + "'").c_str());
  EXPECT_EQ(ReadText(out), std::string("lumipage ") + LUMIPAGE_VERSION_TEXT + "\n");
  std::system(("'" + exe / "lumipage" + "' --help > '" + out + "'").c_str());
  EXPECT_NE(ReadText(out).find("Usage: lumipage"), std::string::npos);
  EXPECT_FALSE(Exists(exe / "lp_done.dat"));
}

TEST_F(Program, ReportThatCannotBeWrittenGoesToStandardErrorWithExitCode1) {
  // No report can be written beside the program: the caller gets it on standard error, and the
  // exit code 1 says that the report file is not this job's.
  std::filesystem::create_directory(exe / "lp_done.dat");
  EXPECT_EQ(Run("noscan"), 1);
  EXPECT_EQ(Stderr(), "; The report could not be written: " + exe / "lp_done.dat" + ": Is a directory\n[Scan]\nPages=0\n[Files]\nCount=0\n");
}

// With SOURCE_DATE_EPOCH the same job on the same pages writes the same bytes: dates, the PDF's
// file identifier and its image names come from it, not from the clock. Without it, two jobs
// differ (the identifier at least) and the date is today's.
TEST_F(Program, SourceDateEpochMakesTheSameJobWriteTheSameBytes) {
  WriteText(sys / "twain_32.ini", "[Source1]\nPages=2\n");
  struct Case {
    const char* args;
    const char* file;
    const char* date;  // as the file states SOURCE_DATE_EPOCH=1700000000
  };
  ::setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
  for (const Case& c : {Case{"pdf", "pages.pdf", "/CreationDate (D:20231114221320Z)"},
                        Case{"pdf Mono", "pages.pdf", "/ModDate (D:20231114221320Z)"},
                        Case{"multi_tif", "pages.tif", "2023:11:14 22:13:20"},
                        Case{"tif Mono", "page001.tif", "2023:11:14 22:13:20"}}) {
    SCOPED_TRACE(c.args);
    std::string first;
    for (int run = 0; run < 2; ++run) {
      EXPECT_EQ(Run(std::string(c.args) + " Resolution 50", sys.Folder()), 0);
      EXPECT_EQ(Report("Error", "Message"), "<none>");
      const std::string bytes = ReadText(exe / c.file);
      EXPECT_NE(bytes.find(c.date), std::string::npos);
      if (run == 0) first = bytes;
      else EXPECT_TRUE(bytes == first) << "the second job wrote other bytes";
    }
  }
  ::unsetenv("SOURCE_DATE_EPOCH");
  EXPECT_EQ(Run("pdf Resolution 50", sys.Folder()), 0);
  const std::string first = ReadText(exe / "pages.pdf");
  EXPECT_EQ(Run("pdf Resolution 50", sys.Folder()), 0);
  const std::string second = ReadText(exe / "pages.pdf");
  EXPECT_NE(first, second);
  EXPECT_EQ(second.find("D:20231114"), std::string::npos);
}

}  // namespace
