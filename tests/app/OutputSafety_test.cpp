// Odd output targets, folders that cannot be made, damaged files to append to, and a second job
// in the same program folder: each ends with every existing file intact or correctly updated.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "app/FrmScan.h"
#include "tests/support/ScriptedJob.h"
#include "imaging/FileStream.h"
#include "imaging/TiffGraphic.h"
#include "platform/IniFile.h"
#include "platform/JobLock.h"

using namespace lumipage;
using namespace lumipage::testing;

namespace {

class Output : public ScriptedJobTest {
 protected:
  int Run(std::vector<std::string> args, int pages = 1) {
    return RunJob(std::move(args), std::vector<TScriptedPage>(static_cast<size_t>(pages), kTinyPage),
                  [this](TScriptedScanner& s) { scanner = &s; });
  }
  int Acquired() const { return scanner ? scanner->AcquireCalls : -1; }

  TempDir out;
  TScriptedScanner* scanner = nullptr;
};

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  ::lstat(path.c_str(), &st);
  return st.st_mode;
}

TEST_F(Output, FolderThatCannotBeMadeEndsTheJobBeforeAnythingIsTouched) {
  WriteText(exe / "plain", "a file, not a folder");
  WriteText(exe / "pages.pdf", "someone's PDF");
  WriteText(exe / "page001.jpg", "someone's page");
  const std::string longName(300, 'x');
  for (const std::string& folder : {exe / "plain/sub", exe / longName}) {
    Run({"pdf", "filename", folder + "/out.pdf"});
    EXPECT_EQ(Report("Error", "Message"), "Unable to create folder " + folder);
    EXPECT_EQ(Report("Scan", "Pages"), "0");
    EXPECT_EQ(Acquired(), 0);
    EXPECT_EQ(ReadText(exe / "pages.pdf"), "someone's PDF");
    EXPECT_EQ(ReadText(exe / "page001.jpg"), "someone's page");
  }
}

struct TargetCase {
  const char* name;
  const char* format;   // output switch
  const char* file;     // the name given as filename
  const char* written;  // the file the pages go to (the format's own name for it)
};

class Targets : public Output, public ::testing::WithParamInterface<TargetCase> {};

TEST_P(Targets, LinksAreFollowedSpecialAndReadOnlyFilesRefusedModesKept) {
  const TargetCase& c = GetParam();
  const std::string target = out / c.written;
  const bool pdf = std::string(c.format) == "pdf";
  auto refusal = [&](const std::string& reason) {
    return pdf ? "Unable to save PDF file " + target + ": " + reason
               : "Cannot create file \"" + target + "\". " + reason;
  };

  // A link: the file it names gets the pages, the link stays a link.
  std::filesystem::create_directory(out / "real");
  WriteText(out / "real/file", "old");
  ::chmod((out / "real/file").c_str(), 0604);
  std::filesystem::create_symlink(out / "real/file", target);
  Run({c.format, "filename", out / c.file});
  EXPECT_EQ(Report("Error", "Message"), "<none>");
  EXPECT_TRUE(S_ISLNK(ModeOf(target)));
  EXPECT_NE(ReadText(out / "real/file"), "old");
  if (!pdf && std::string(c.format) != "multi_tif") {
    // Page files of a job without Append are deleted before scanning: the new file is new.
  } else {
    EXPECT_EQ(ModeOf(out / "real/file") & 07777, 0604u);  // the replaced file keeps its mode
  }
  std::filesystem::remove(target);

  // A FIFO (a device behaves the same): refused, left as it is.
  ASSERT_EQ(::mkfifo(target.c_str(), 0644), 0);
  Run({c.format, "filename", out / c.file});
  EXPECT_EQ(Report("Error", "Message"), refusal("Not a regular file"));
  EXPECT_TRUE(S_ISFIFO(ModeOf(target)));
  std::filesystem::remove(target);

  // No write bit: refused as a read-only file is, also for root.
  WriteText(target, "read-only");
  ::chmod(target.c_str(), 0444);
  Run({c.format, "filename", out / c.file});
  EXPECT_EQ(Report("Error", "Message"), refusal("Permission denied"));
  EXPECT_EQ(ReadText(target), "read-only");
  if (pdf) {
    EXPECT_EQ(Acquired(), 0);  // nothing scanned for a file that cannot be written
  }
  EXPECT_FALSE(Exists(exe / "page001.jpg"));
}

INSTANTIATE_TEST_SUITE_P(Formats, Targets,
                         ::testing::Values(TargetCase{"pdf", "pdf", "doc.pdf", "doc.pdf"},
                                           TargetCase{"multi_tif", "multi_tif", "doc.pdf", "doc.tif"},
                                           TargetCase{"jpg", "jpg", "doc.jpg", "doc.jpg"},
                                           TargetCase{"bmp", "bmp", "doc.x", "doc.bmp"}),
                         [](const auto& i) { return std::string(i.param.name); });

TEST_F(Output, DevicesAreNeverDeletedOrReplaced) {
  if (::geteuid() != 0) GTEST_SKIP() << "making a device node needs root";
  const std::string dev = out / "null";
  ASSERT_EQ(::mknod(dev.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
  // The clean-up of a JPEG job deletes the file name given; for a device it must not.
  Run({"jpg", "filename", dev});
  EXPECT_TRUE(S_ISCHR(ModeOf(dev)));
  EXPECT_EQ(Report("Error", "Message"), "<none>");
  EXPECT_TRUE(Exists(out / "null.jpg"));
  Run({"pdf", "filename", dev});
  EXPECT_EQ(Report("Error", "Message"), "Unable to save PDF file " + dev + ": Not a regular file");
  EXPECT_TRUE(S_ISCHR(ModeOf(dev)));
}

TEST_F(Output, FileNameOfAnotherKindIsNeverDeleted) {
  // The pages go to doc.tif (doc_02.tif, ...); doc.pdf is someone else's file.
  for (const char* format : {"tif", "multi_tif", "jpg", "bmp"}) {
    WriteText(out / "doc.pdf", "someone's PDF");
    Run({format, "filename", out / "doc.pdf"}, 2);
    EXPECT_EQ(Report("Error", "Message"), "<none>") << format;
    EXPECT_EQ(ReadText(out / "doc.pdf"), "someone's PDF") << format;
  }
  // With the pages' own extension the name is the first page file, replaced with the rest.
  WriteText(out / "doc.jpg", "old page 1");
  WriteText(out / "doc_02.jpg", "old page 2");
  WriteText(out / "doc_03.jpg", "old page 3");
  Run({"jpg", "filename", out / "doc.jpg"}, 1);
  EXPECT_EQ(Report("Scan", "Pages"), "1");
  EXPECT_NE(ReadText(out / "doc.jpg"), "old page 1");
  EXPECT_FALSE(Exists(out / "doc_02.jpg"));
  EXPECT_FALSE(Exists(out / "doc_03.jpg"));
}

TEST_F(Output, DamagedMultiPageTiffIsRefusedBeforeScanning) {
  const std::string tif = out / "doc.tif";
  Run({"multi_tif", "filename", tif}, 2);
  ASSERT_EQ(Report("Error", "Message"), "<none>");
  const std::string whole = ReadText(tif);
  struct Damage {
    const char* name;
    std::string bytes;
  };
  for (const Damage& d : {Damage{"truncated", whole.substr(0, whole.size() - 200)},
                          Damage{"cut_in_the_header", whole.substr(0, 6)},
                          Damage{"not_a_tiff", "this is not a TIFF file at all"}}) {
    WriteText(tif, d.bytes);
    Run({"multi_tif", "append", "filename", tif});
    EXPECT_EQ(Report("Error", "Message"), "Unable to open TIFF file " + tif) << d.name;
    EXPECT_EQ(Acquired(), 0) << d.name;
    EXPECT_EQ(ReadText(tif), d.bytes) << d.name;
  }
  WriteText(tif, whole);
  Run({"multi_tif", "append", "filename", tif}, 1);
  EXPECT_EQ(Report("Error", "Message"), "<none>");
  TFileStream stream(tif, fmOpenRead);
  EXPECT_EQ(TTiffGraphic().GetImageCount(stream), 3);
}

TEST_F(Output, SecondJobGivesUpAfterLockWaitAndTouchesNothing) {
  platform::TJobLock running;
  ASSERT_EQ(running.Acquire(exe / "lumipage.lock", 0), platform::TJobLock::TResult::Acquired);
  WriteText(exe / "lp_done.dat", "[Scan]\nPages=7\n");
  WriteText(exe / "page001.jpg", "the running job's page");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(Run({"jpg", "LockWait", "0"}), 1);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("another job is running in " + exe.Folder()), std::string::npos) << err;
  EXPECT_EQ(scanner, nullptr);  // not even the scanner was opened
  EXPECT_EQ(ReadText(exe / "lp_done.dat"), "[Scan]\nPages=7\n");
  EXPECT_EQ(ReadText(exe / "page001.jpg"), "the running job's page");
  running.Release();
  EXPECT_EQ(Run({"jpg", "LockWait", "0"}), 0);
  EXPECT_EQ(Report("Scan", "Pages"), "1");
}

TEST_F(Output, LockWaitIsReadFromPairAndKeyAndClamped) {
  struct Case {
    const char* ini;
    std::vector<std::string> args;
    int wait;
  };
  for (const Case& c : {Case{"", {}, 60}, Case{"[Scan]\nLockWait=5\n", {}, 5},
                        Case{"[Scan]\nLockWait=5\n", {"LockWait", "9"}, 9}, Case{"", {"LockWait", "-4"}, 0},
                        Case{"", {"LockWait", "99999999"}, 3600}, Case{"", {"LockWait", "soon"}, 60}}) {
    WriteText(exe / "lumipage.ini", c.ini);
    TCommandLine cmd(c.args);
    EXPECT_EQ(TJobSettingsReader(cmd, exe.Folder()).ReadLockWait(), c.wait) << c.ini;
  }
}

}  // namespace
