#include "app/FrmScan.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>

#include <functional>

#include "tests/support/ScriptedJob.h"
#include "platform/IniFile.h"

using namespace lumipage;
using namespace lumipage::testing;

namespace {

class Job : public ScriptedJobTest {
 protected:
  // Runs one job in the temporary executable folder with a scripted scanner.
  void Run(std::vector<std::string> args, const std::function<void(TScriptedScanner&)>& script = {}) {
    EXPECT_EQ(RunJob(std::move(args), std::vector<TScriptedPage>(pages, kTinyPage),
                     [this, script](TScriptedScanner& s) {
                       if (script) script(s);
                       scanner = &s;
                     }),
              expectedExit);
  }
  std::string Report(const std::string& section, const std::string& key, const std::string& file = "") {
    return platform::GetPrivateProfileString(section, key, "<none>", file.empty() ? exe / "lp_done.dat" : file);
  }
  void Touch(const std::string& name) { WriteText(exe / name, "old"); }

  int expectedExit = 0;
  int pages = 1;
  TScriptedScanner* scanner = nullptr;
};

TEST_F(Job, NoScanWritesScannerListAndReportsZero) {
  WriteText(exe / "lumipage.ini", "[Scan]\n[Scanners]\nScanner5=left over\n");
  Touch("page001.jpg");
  Run({"noscan"}, [](TScriptedScanner& s) { s.SourceNames = {"Alpha", "Beta"}; });
  EXPECT_EQ(Report("Scan", "Pages"), "0");
  EXPECT_EQ(Report("Error", "Message"), "<none>");
  auto ini = exe / "lumipage.ini";
  EXPECT_EQ(platform::GetPrivateProfileString("Scanners", "Count", "", ini), "2");
  EXPECT_EQ(platform::GetPrivateProfileString("Scanners", "Scanner0", "", ini), "Alpha");
  EXPECT_EQ(platform::GetPrivateProfileString("Scanners", "Scanner1", "", ini), "Beta");
  EXPECT_EQ(platform::GetPrivateProfileString("Scanners", "Scanner5", "", ini), "left over");
  EXPECT_EQ(platform::GetPrivateProfileString("Scanners", "LastScanner", "", ini), "Alpha");
  EXPECT_TRUE(Exists(exe / "page001.jpg"));  // nothing deleted
  EXPECT_EQ(scanner->AcquireCalls, 0);
}

TEST_F(Job, ThreeJpegPagesAreCountedAndScannerConfigured) {
  pages = 3;
  Run({"Resolution", "300", "ScanMono", "NoADF", "prodname", std::string(40, 'p')});
  EXPECT_EQ(Report("Scan", "Pages"), "3");
  EXPECT_EQ(scanner->PassThrough, 1);
  EXPECT_EQ(scanner->XResolution, 300);
  EXPECT_EQ(scanner->YResolution, 300);
  EXPECT_EQ(scanner->ImageType, 0);
  EXPECT_FALSE(scanner->FeederEnabled);
  EXPECT_FALSE(scanner->ShowUI);
  EXPECT_FALSE(scanner->ShowIndicators);
  EXPECT_EQ(scanner->ProductName, std::string(32, 'p'));
  EXPECT_FALSE(Exists(exe / "lumipage.ini"));  // a missing settings file is never created
}

TEST_F(Job, SelectionDialogCancelledInAppendModeKeepsCount) {
  for (auto n : {"page001.jpg", "page002.jpg", "page003.jpg", "page004.jpg"}) Touch(n);
  Run({"append", "selectscanner"});
  EXPECT_TRUE(scanner->DialogShown);
  EXPECT_EQ(Report("Scan", "Pages"), "4");
  EXPECT_EQ(scanner->AcquireCalls, 0);
}

TEST_F(Job, SelectionDialogChoiceIsRecorded) {
  WriteText(exe / "lumipage.ini", "");
  Run({"noscan", "selectscanner"}, [](TScriptedScanner& s) {
    s.SourceNames = {"Alpha", "Beta"};
    s.DialogChooses = true;
    s.DialogChoice = 1;
  });
  EXPECT_EQ(platform::GetPrivateProfileString("Scanners", "LastScanner", "", exe / "lumipage.ini"), "Beta");
  EXPECT_EQ(Report("Scan", "Pages"), "0");
}

TEST_F(Job, AppendFillsTheFirstGapAndNeverOverwrites) {
  for (auto n : {"page001.jpg", "page002.jpg", "page004.jpg"}) Touch(n);
  std::filesystem::create_symlink("nowhere.jpg", exe / "page005.jpg");  // a dangling link is taken too
  pages = 3;
  Run({"append"});
  EXPECT_EQ(form->Pages().LastPageNo, 7);  // pages 3, 6 and 7 are new; 4 and 5 were taken
  EXPECT_EQ(Report("Scan", "Pages"), "7");
  EXPECT_EQ(ReadText(exe / "page004.jpg"), "old");
  EXPECT_FALSE(Exists(exe / "nowhere.jpg"));
  for (int n : {3, 6, 7}) {
    EXPECT_EQ(form->Pages().PageTable()[static_cast<size_t>(n)].PageFile, exe / ("page00" + std::to_string(n) + ".jpg"));
    EXPECT_NE(ReadText(exe / ("page00" + std::to_string(n) + ".jpg")).substr(0, 2), "ol");
  }
  EXPECT_TRUE(form->Pages().PageTable()[4].PageFile.empty());
  EXPECT_TRUE(form->Pages().PageTable()[5].PageFile.empty());
}

TEST_F(Job, CleanUpDeletesStalePagesUntilTheFirstGap) {
  for (int n = 1; n <= 7; ++n) Touch("page00" + std::to_string(n) + ".jpg");
  Touch("page009.jpg");
  pages = 0;
  Run({});
  for (int n = 1; n <= 7; ++n) EXPECT_FALSE(Exists(exe / ("page00" + std::to_string(n) + ".jpg")));
  EXPECT_TRUE(Exists(exe / "page009.jpg"));
}

TEST_F(Job, OutputFileDeletionPerFormat) {
  Touch("pages.tif");
  Touch("pages.pdf");
  pages = 0;
  Run({"multi_tif"});
  EXPECT_FALSE(Exists(exe / "pages.tif"));
  EXPECT_TRUE(Exists(exe / "pages.pdf"));
  Run({"pdf", "append"});  // append never deletes the PDF
  EXPECT_TRUE(Exists(exe / "pages.pdf"));
  Run({"pdf"});
  EXPECT_FALSE(Exists(exe / "pages.pdf"));
  WriteText(exe / "out.pdf", "old");
  Touch("page001.tif");
  Run({"pdf", "Mono", "filename", exe / "out.pdf"});
  EXPECT_FALSE(Exists(exe / "out.pdf"));
  EXPECT_FALSE(Exists(exe / "page001.tif"));
}

TEST_F(Job, AppendWithPdfCountsOnlyThisJob) {
  Touch("page001.jpg");
  pages = 2;
  Run({"pdf", "append"});
  EXPECT_EQ(Report("Scan", "Pages"), "2");
}

TEST_F(Job, PageNamesFollowTheFileName) {
  Run({"filename", exe / "doc.pdf"});
  EXPECT_EQ(form->Pages().PageBaseName(1), exe / "doc");
  EXPECT_EQ(form->Pages().PageBaseName(2), exe / "doc_02");
  EXPECT_EQ(form->Pages().PageBaseName(123), exe / "doc_123");
  Run({"pdf", "filename", exe / "doc.pdf"});
  EXPECT_EQ(form->Pages().PageBaseName(12), exe / "page012");
  EXPECT_EQ(form->Pages().PageBaseName(1000), exe / "page1000");
  EXPECT_EQ(form->Pages().PdfFileName(), exe / "doc.pdf");
  Run({"multi_tif"});
  EXPECT_EQ(form->Pages().MultiTiffFileName(), exe / "pages.tif");
}

TEST_F(Job, ReportBesideOutputFileWithIndicator2) {
  WriteText(exe / "out.dat", "[Other]\nKeep=1\n");
  Touch("lp_done.dat");
  pages = 2;
  Run({"Indicator", "2", "filename", exe / "out.jpg"});
  EXPECT_EQ(Report("Scan", "Pages", exe / "out.dat"), "2");
  EXPECT_EQ(Report("Other", "Keep", exe / "out.dat"), "1");  // the report is not emptied first
  EXPECT_FALSE(Exists(exe / "lp_done.dat"));                   // the old one was removed at start
}

TEST_F(Job, Indicator0WritesNoReport) {
  Run({"Indicator", "0"});
  EXPECT_FALSE(Exists(exe / "lp_done.dat"));
}

TEST_F(Job, ReadOnlyOldReportIsKept) {
  WriteText(exe / "lp_done.dat", "[Scan]\nPages=9\n");
  ::chmod((exe / "lp_done.dat").c_str(), 0444);
  Run({"noscan", "Indicator", "0"});
  EXPECT_TRUE(Exists(exe / "lp_done.dat"));
}

TEST_F(Job, ReportThatCannotReplaceTheOldOneGoesToStandardError) {
  // A caller would read the old Pages=99 as this job's result: the job says so by its exit code
  // and hands the report over on standard error.
  WriteText(exe / "lp_done.dat", "[Scan]\nPages=99\n");
  ::chmod((exe / "lp_done.dat").c_str(), 0444);
  expectedExit = 1;
  pages = 2;
  ::testing::internal::CaptureStderr();
  Run({});
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(ReadText(exe / "lp_done.dat"), "[Scan]\nPages=99\n");
  EXPECT_NE(err.find("; The report could not be written: " + exe / "lp_done.dat"), std::string::npos) << err;
  EXPECT_NE(err.find("\n[Scan]\nPages=2\n"), std::string::npos) << err;
  EXPECT_TRUE(Exists(exe / "page002.jpg"));  // the job itself ran
}

TEST_F(Job, ReportIsWrittenWholeWithNoTemporaryFileLeft) {
  pages = 3;
  Run({}, [](TScriptedScanner& s) { s.FailAtPage = 3; });
  EXPECT_EQ(ReadText(exe / "lp_done.dat"), "[Error]\nMessage=Scripted transfer failure\n[Scan]\nPages=2\n[Files]\nCount=2\nFile1=" +
                                              exe / "page001.jpg" + "\nFile2=" + exe / "page002.jpg" + "\n");
  EXPECT_EQ(::chmod(exe.Folder().c_str(), 0755), 0);
  int entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(exe.Folder())) {
    EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
    ++entries;
  }
  EXPECT_EQ(entries, 4);  // two pages, the report and the lock file of the program folder
  EXPECT_EQ(form->ReportFailure(), "");
}

struct FailureCase {
  const char* name;
  std::function<void(TScriptedScanner&)> script;
  const char* message;
  const char* pages;
};

class JobFailure : public Job, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(JobFailure, EndsWithErrorThenPages) {
  pages = 3;
  Run({}, GetParam().script);
  EXPECT_EQ(Report("Error", "Message"), GetParam().message);
  EXPECT_EQ(Report("Scan", "Pages"), GetParam().pages);
  // The error entry comes first in the file.
  std::string text = ReadText(exe / "lp_done.dat");
  EXPECT_LT(text.find("[Error]"), text.find("[Scan]"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JobFailure,
    ::testing::Values(
        FailureCase{"open_raises", [](TScriptedScanner& s) { s.FailOpen = "LoadLibrary(/x/libtwain_32.so) failed"; },
                    "LoadLibrary(/x/libtwain_32.so) failed", "0"},
        FailureCase{"transfer_fails_midway", [](TScriptedScanner& s) { s.FailAtPage = 3; }, "Scripted transfer failure", "2"},
        FailureCase{"acquire_fails", [](TScriptedScanner& s) { s.FailAcquire = "Unable to open TWAIN source"; },
                    "Unable to open TWAIN source", "0"},
        FailureCase{"default_source_not_listed",
                    [](TScriptedScanner& s) {
                      s.DefaultIndex = -1;
                      s.DefaultName = "Ghost";
                    },
                    "The default scanner \"Ghost\" is not in the list of installed scanners", "0"}),
    [](const auto& i) { return std::string(i.param.name); });

TEST_F(Job, ScannerErrorHandlerEndsTheJob) {
  pages = 2;
  Run({}, [](TScriptedScanner& s) { s.HandlerErrorInAcquire = "Unable to get TWAIN default source"; });
  EXPECT_EQ(Report("Error", "Message"), "Unable to get TWAIN default source");
  EXPECT_EQ(Report("Scan", "Pages"), "0");
  EXPECT_EQ(scanner->PagesDelivered, 0);  // the handler never returns into the scanner
}

TEST_F(Job, SettingsFileThatCannotBeWrittenEndsWithMessage) {
  // A full disk: the settings file exists and has write bits, but writing its new content fails
  // (the file-size limit stands in for the disk). The short report still fits.
  const std::string old = "[Scan]\n" + std::string(200, ';') + "\n";
  WriteText(exe / "lumipage.ini", old);
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 150;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  Run({"noscan"});
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(Report("Error", "Message"), "Unable to write to " + exe / "lumipage.ini");
  EXPECT_EQ(Report("Scan", "Pages"), "0");
  EXPECT_EQ(ReadText(exe / "lumipage.ini"), old);  // the old settings are whole
}

TEST_F(Job, DeviceInPlaceOfSettingsFileIsNoSettingsFile) {
  // Neither read (a FIFO would block the job) nor written.
  ASSERT_EQ(::mkfifo((exe / "lumipage.ini").c_str(), 0644), 0);
  Run({"noscan", "Resolution", "50"});
  EXPECT_EQ(Report("Scan", "Pages"), "0");
  EXPECT_EQ(form->Settings.Resolution, 50);
  std::filesystem::remove(exe / "lumipage.ini");
  ASSERT_EQ(::symlink("/dev/full", (exe / "lumipage.ini").c_str()), 0);
  Run({"noscan"});
  EXPECT_EQ(Report("Error", "Message"), "<none>");
}

TEST_F(Job, FolderInPlaceOfSettingsFileIsNoSettingsFile) {
  std::filesystem::create_directory(exe / "lumipage.ini");
  Run({"noscan"});
  EXPECT_EQ(Report("Error", "Message"), "<none>");
  EXPECT_EQ(Report("Scan", "Pages"), "0");
}

TEST_F(Job, ScannerChoiceByIndexOrName) {
  auto names = [](TScriptedScanner& s) { s.SourceNames = {"Alpha", "Beta", "Gamma"}; };
  Run({"noscan", "Scanner", "2"}, names);
  EXPECT_EQ(scanner->SourceIndex(), 2);
  Run({"noscan", "Scanner", "bEtA"}, names);
  EXPECT_EQ(scanner->SourceIndex(), 1);
  Run({"noscan", "Scanner", "7"}, names);
  EXPECT_EQ(scanner->SourceIndex(), 0);  // out of range: the default stays
}

struct RefreshCase {
  const char* name;
  std::vector<std::string> args;
  std::vector<std::string> afterRefresh;  // what a fresh look finds (empty: the same list)
  int refreshes;
  int index;  // current scanner afterwards (a refresh keeps the current one where it is listed)
};

class ScannerListRefresh : public Job, public ::testing::WithParamInterface<RefreshCase> {};

// The source manager may list scanners from a cache: listing them (noscan), choosing by hand and
// a name that is not listed look again; a job that finds its scanner does not.
TEST_P(ScannerListRefresh, HappensOnlyWhereTheListMustBeFresh) {
  WriteText(exe / "lumipage.ini", "");
  const RefreshCase& c = GetParam();
  Run(c.args, [&c](TScriptedScanner& s) {
    s.SourceNames = {"Alpha", "Beta"};
    s.NamesAfterRefresh = c.afterRefresh;
  });
  EXPECT_EQ(scanner->Refreshes, c.refreshes);
  EXPECT_EQ(scanner->SourceIndex(), c.index);
  const std::vector<std::string> listed = c.afterRefresh.empty() || c.refreshes == 0
                                              ? std::vector<std::string>{"Alpha", "Beta"}
                                              : c.afterRefresh;
  EXPECT_EQ(platform::GetPrivateProfileString("Scanners", "Count", "", exe / "lumipage.ini"), std::to_string(listed.size()));
  EXPECT_EQ(platform::GetPrivateProfileString("Scanners", "Scanner0", "", exe / "lumipage.ini"), listed[0]);
  EXPECT_EQ(Report("Error", "Message"), "<none>");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScannerListRefresh,
    ::testing::Values(RefreshCase{"named_and_listed", {"Scanner", "Beta"}, {"Beta"}, 0, 1},
                      RefreshCase{"default", {}, {"Beta"}, 0, 0},
                      RefreshCase{"noscan", {"noscan"}, {"Gamma", "Alpha"}, 1, 1},
                      RefreshCase{"selectscanner", {"selectscanner"}, {"Gamma", "Alpha"}, 1, 1},
                      RefreshCase{"named_new_scanner", {"Scanner", "gamma"}, {"Alpha", "Beta", "Gamma"}, 1, 2},
                      RefreshCase{"named_unknown_scanner", {"Scanner", "Ghost"}, {}, 1, 0}),
    [](const auto& i) { return std::string(i.param.name); });

TEST_F(Job, UnattendedWaitsReachTheScanner) {
  Run({"WaitForPaper", "20", "RetryBusy", "9000"});
  EXPECT_EQ(scanner->WaitForPaper, 20);
  EXPECT_EQ(scanner->RetryBusy, 3600);
}

struct FilesCase {
  const char* name;
  std::vector<std::string> args;
  std::vector<std::pair<std::string, std::string>> before;  // files there before the job
  int pages;
  int failAtPage;
  std::vector<std::string> listed;  // [Files], names in the executable's folder
};

class ReportedFiles : public Job, public ::testing::WithParamInterface<FilesCase> {};

// [Files] names exactly the files the job wrote or changed and that are there afterwards: never a
// file it did not touch, an intermediate page file the PDF took in, or an older job's list.
TEST_P(ReportedFiles, NameWhatTheJobWroteInPageOrder) {
  const FilesCase& c = GetParam();
  for (const auto& [name, text] : c.before) WriteText(exe / name, text);
  pages = c.pages;
  Run(c.args, [&c](TScriptedScanner& s) { s.FailAtPage = c.failAtPage; });
  const std::string report = form->ReportFileName();
  EXPECT_EQ(platform::GetPrivateProfileString("Files", "Count", "", report), std::to_string(c.listed.size()));
  for (std::size_t i = 0; i < c.listed.size(); ++i) {
    const std::string file = platform::GetPrivateProfileString("Files", "File" + std::to_string(i + 1), "", report);
    EXPECT_EQ(file, exe / c.listed[i]) << i;
    EXPECT_TRUE(Exists(file)) << file;
  }
  EXPECT_EQ(platform::GetPrivateProfileString("Files", "File" + std::to_string(c.listed.size() + 1), "<none>", report), "<none>");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReportedFiles,
    ::testing::Values(
        FilesCase{"jpeg_pages", {}, {}, 3, 0, {"page001.jpg", "page002.jpg", "page003.jpg"}},
        FilesCase{"named_tiff_pages", {"tif", "filename", "doc.pdf"}, {}, 2, 0, {"doc.tif", "doc_02.tif"}},
        FilesCase{"append_lists_only_new_pages", {"append", "bmp"}, {{"page001.bmp", "old"}, {"page002.bmp", "old"}}, 2, 0,
                  {"page003.bmp", "page004.bmp"}},
        FilesCase{"multi_page_tiff", {"multi_tif"}, {}, 2, 0, {"pages.tif"}},
        FilesCase{"pdf_without_its_page_files", {"pdf"}, {}, 2, 0, {"pages.pdf"}},
        FilesCase{"pdf_append_without_pages_changes_nothing", {"pdf", "append"}, {{"pages.pdf", "%PDF-1.4 old"}}, 0, 0, {}},
        FilesCase{"pages_before_a_failure", {}, {}, 3, 3, {"page001.jpg", "page002.jpg"}},
        FilesCase{"pdf_not_written_lists_the_kept_pages", {"pdf", "append"}, {{"pages.pdf", "not a PDF"}}, 2, 0,
                  {"pages-unsaved-001.jpg", "pages-unsaved-002.jpg"}},
        FilesCase{"older_list_does_not_survive", {"Indicator", "2", "filename", "out.jpg"},
                  {{"out.dat", "[Files]\nCount=3\nFile1=a\nFile2=b\nFile3=c\n[Caller]\nKeep=1\n"}}, 1, 0, {"out.jpg"}},
        FilesCase{"noscan", {"noscan"}, {{"page001.jpg", "old"}}, 1, 0, {}}),
    [](const auto& i) { return std::string(i.param.name); });

TEST_F(Job, HelpWithoutTerminalIsCancelled) {
  Run({"help"});
  EXPECT_EQ(Report("Scan", "Pages"), "0");
  EXPECT_EQ(scanner->AcquireCalls, 0);
}

TEST_F(Job, LargeJobGrowsThePageTable) {
  TImageProps& last = form ? form->Pages().PageRecord(1500) : (Run({"noscan"}), form->Pages().PageRecord(1500));
  last.Width = 5;
  EXPECT_GE(form->Pages().PageTable().size(), 1501u);
}

}  // namespace
