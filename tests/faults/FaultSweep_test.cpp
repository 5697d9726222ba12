// The real program with its file-system calls failing on purpose. A preloaded library makes the
// Nth write, fsync, rename or open under the test's folder fail with ENOSPC, EIO or EACCES, or
// kills the job right there; every N of a short job is tried for each output format, new and
// appended. After every run:
// - each file that was there before is byte for byte as it was, or a complete, valid update;
// - the report is whole and true (or on standard error with exit code 1): with no error every
//   page is stored; with an error the pages it counts are in the files it lists, each valid;
// - no temporary file survives (the job's own, or a killed job's once the next job has run);
// - the settings file keeps the caller's own sections.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

#include "../support/TempDir.h"
#include "platform/IniFile.h"
#include "tests/support/Program.h"
#include "tests/support/RunCommand.h"

using namespace lumipage::testing;
namespace fs = std::filesystem;

namespace {

constexpr int kPages = 2;
const char* const kErrnos[] = {"ENOSPC", "EIO", "EACCES"};
const char* const kKinds[] = {"write", "fsync", "rename", "open"};

std::string Quote(const std::string& s) { return "'" + s + "'"; }

// Output of a shell command and its exit code.
int Shell(const std::string& command, std::string* output = nullptr) {
  const CommandResult result = RunCommand(command, false);
  if (output != nullptr) *output = result.output;
  return result.status;
}

bool IsTemporary(const std::string& name) {
  return name.size() > 1 && name[0] == '.' && name.find(".lumipage-") != std::string::npos &&
         name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0;
}

using Snapshot = std::map<std::string, std::string>;  // full name -> bytes

// What a file holds when it is one of the job's outputs; empty when valid, else why not.
// pages gets the page count of a PDF or multi-page TIFF (1 for a page file).
std::string CheckOutput(const std::string& file, int& pages) {
  const std::string ext = file.substr(file.rfind('.'));
  const std::string bytes = ReadText(file);
  pages = 1;
  if (ext == ".pdf") {
    std::string out;
    if (Shell("qpdf --check " + Quote(file) + " 2>&1", &out) != 0) return "qpdf --check: " + out;
    Shell("qpdf --show-npages " + Quote(file), &out);
    pages = std::atoi(out.c_str());
    return {};
  }
  if (ext == ".tif") {
    std::string out;
    // Warnings about the private tags are no damage.
    if (Shell("tiffinfo " + Quote(file) + " 2>&1 >/dev/null", &out) != 0 || out.find("rror") != std::string::npos)
      return "tiffinfo: " + out;
    Shell("tiffinfo " + Quote(file) + " 2>/dev/null | grep -c 'TIFF Directory'", &out);
    pages = std::atoi(out.c_str());
    return {};
  }
  if (ext == ".jpg") {
    if (bytes.size() < 4 || bytes.compare(0, 2, "\xFF\xD8") != 0 || bytes.compare(bytes.size() - 2, 2, "\xFF\xD9") != 0)
      return "not a whole JPEG file";
    return {};
  }
  if (ext == ".bmp") {
    if (bytes.size() < 14 || bytes.compare(0, 2, "BM") != 0) return "not a BMP file";
    const std::uint32_t size = static_cast<unsigned char>(bytes[2]) | static_cast<unsigned char>(bytes[3]) << 8 |
                               static_cast<unsigned char>(bytes[4]) << 16 |
                               static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[5])) << 24;
    if (size != bytes.size()) return "BMP of " + std::to_string(bytes.size()) + " bytes says " + std::to_string(size);
    return {};
  }
  return "unexpected output " + file;
}

// The real program in a program folder of its own under root; sys holds the source manager.
class Program {
 public:
  Program() {
    fs::create_directories(exe);
    fs::create_directories(out);
    InstallProgram(exe, sys.Folder());
    Feeder(kPages);
  }
  void Feeder(int pages) {
    WriteText(sys / "twain_32.ini", "[Sane]\nEnabled=0\n[Source1]\nPages=" + std::to_string(pages) + "\n");
  }
  // The shell command that runs the job with the given faults ("" for none).
  std::string Command(const std::string& args, const std::string& faults) const {
    return ProgramCommand(exe + "lumipage", args,
                          "LD_PRELOAD=" + Quote(LUMIPAGE_FAULT_LIB) + " LUMIPAGE_FAULT_PREFIX=" + Quote(root.Folder()) +
                              " LUMIPAGE_SYSTEM_DIR=" + Quote(sys.Folder()) + " " + flushes + faults,
                          sys / "stderr.txt");
  }
  int Run(const std::string& args, const std::string& faults = "") {
    return ExitCode(std::system(Command(args, faults).c_str()));
  }
  // How many calls of each kind the job makes under root.
  std::map<std::string, int> Count(const std::string& args) {
    Run(args, "LUMIPAGE_FAULT_COUNTS=" + Quote(sys / "counts.txt"));
    std::map<std::string, int> counts;
    std::istringstream in(ReadText(sys / "counts.txt"));
    std::string kind;
    int n = 0;
    while (in >> kind >> n) counts[kind] = n;
    return counts;
  }
  [[nodiscard]] std::string Stderr() const { return ReadText(sys / "stderr.txt"); }

  Snapshot Take() const {
    Snapshot s;
    for (const std::string& dir : {exe, out})
      for (const auto& e : fs::directory_iterator(dir))
        if (e.is_regular_file() && e.path().filename() != "lumipage") s[e.path().string()] = ReadText(e.path());
    return s;
  }
  void Restore(const Snapshot& s) const {
    for (const std::string& dir : {exe, out})
      for (const auto& e : fs::directory_iterator(dir))
        if (e.path().filename() != "lumipage" && e.path().filename() != "lumipage.lock") fs::remove_all(e.path());
    for (const auto& [name, bytes] : s) WriteText(name, bytes);
  }
  std::vector<std::string> Temporaries() const {
    std::vector<std::string> found;
    for (const std::string& dir : {exe, out})
      for (const auto& e : fs::directory_iterator(dir))
        if (IsTemporary(e.path().filename().string())) found.push_back(e.path().string());
    return found;
  }

  // The sweeps check what a failing or killed job leaves, not what survives a power cut: the
  // flushes are made (and can fail) but need not wait for the disk.
  std::string flushes = "LUMIPAGE_FAULT_NOSYNC=1 ";
  TempDir root;
  TempDir sys;
  const std::string exe = root / "exe/";
  const std::string out = root / "out/";
};

// The report of the last run: the file, or standard error when the exit code is 1.
struct Report {
  std::string Error;
  int Pages = -1;
  std::vector<std::string> Files;
  std::string Problem;  // not whole
};

Report ReadReport(Program& p, int exitCode, const std::string& reportFile) {
  Report r;
  std::string text;
  if (exitCode == 0) {
    text = ReadText(reportFile);
  } else if (exitCode == 1) {
    const std::string err = p.Stderr();
    const std::string head = "; The report could not be written: ";
    const size_t eol = err.find('\n');
    if (err.compare(0, head.size(), head) != 0 || eol == std::string::npos) {
      r.Problem = "exit code 1 without a report on standard error: " + err;
      return r;
    }
    text = err.substr(eol + 1);
  } else {
    r.Problem = "exit code " + std::to_string(exitCode) + ": " + p.Stderr();
    return r;
  }
  WriteText(p.sys / "report.ini", text);
  const std::string ini = p.sys / "report.ini";
  using lumipage::platform::GetPrivateProfileString;
  r.Error = GetPrivateProfileString("Error", "Message", "", ini);
  const std::string pages = GetPrivateProfileString("Scan", "Pages", "", ini);
  const std::string count = GetPrivateProfileString("Files", "Count", "", ini);
  if (pages.empty() || count.empty()) {
    r.Problem = "report without Pages or Files: " + text;
    return r;
  }
  r.Pages = std::atoi(pages.c_str());
  for (int i = 1; i <= std::atoi(count.c_str()); ++i)
    r.Files.push_back(GetPrivateProfileString("Files", "File" + std::to_string(i), "", ini));
  return r;
}

struct FormatCase {
  const char* name;
  const char* format;  // output switch
  const char* file;    // filename given
  bool append;
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }

class FaultSweep : public ::testing::TestWithParam<FormatCase> {
 protected:
  void SetUp() override {
    const FormatCase& c = GetParam();
    single_ = std::string(c.format) == "pdf" || std::string(c.format) == "multi_tif";
    // The caller's own settings and an old report; with Append the report lies beside the
    // output and holds a section of the caller's that must stay.
    WriteText(p_.exe + "lumipage.ini", "[Mine]\nKeep=yes\n[Scanners]\nCount=0\n");
    WriteText(p_.exe + "lp_done.dat", "[Scan]\nPages=99\n");
    args_ = std::string(c.format) + " Resolution 50 filename " + Quote(p_.out + c.file);
    if (c.append) {
      args_ += " Append Indicator 2";
      report_ = p_.out + fs::path(c.file).stem().string() + ".dat";
    } else {
      report_ = p_.exe + "lp_done.dat";
    }
    // An earlier job's output, which this job replaces or appends to.
    ASSERT_EQ(p_.Run(std::string(c.format) + " Resolution 50 filename " + Quote(p_.out + c.file)), 0) << p_.Stderr();
    if (c.append) WriteText(report_, "[Caller]\nId=7\n");
    before_ = p_.Take();
    oldPages_ = 0;
    for (const auto& [name, bytes] : before_)
      if (name.compare(0, p_.out.size(), p_.out) == 0 && name != report_) {
        int pages = 0;
        ASSERT_EQ(CheckOutput(name, pages), "") << name;
        oldPages_ += pages;
      }
    ASSERT_EQ(oldPages_, kPages);
  }

  // Checks everything a run may leave; returns what is wrong (empty when all holds).
  std::string Check(int exitCode, bool killed) {
    const FormatCase& c = GetParam();
    std::string wrong;
    auto fail = [&wrong](const std::string& what) { wrong += what + "\n"; };
    if (!killed)
      for (const auto& t : p_.Temporaries()) fail("temporary file left: " + t);
    const Snapshot now = p_.Take();
    const std::string ini = p_.exe + "lumipage.ini";
    if (lumipage::platform::GetPrivateProfileString("Mine", "Keep", "", ini) != "yes")
      fail("the settings file lost the caller's section: " + ReadText(ini));

    Report r;
    int newPages = -1;  // stored by this job, as the report says
    if (!killed) {
      r = ReadReport(p_, exitCode, report_);
      if (!r.Problem.empty()) return r.Problem;
      // Appended page files: Pages is the last page number.
      newPages = c.append && !single_ && r.Pages > 0 ? r.Pages - oldPages_ : r.Pages;
      if (r.Error.empty() && newPages != kPages) fail("success with Pages=" + std::to_string(r.Pages));
      if (newPages < 0 || newPages > kPages) fail("Pages=" + std::to_string(r.Pages));
      if (c.append && exitCode == 0 && lumipage::platform::GetPrivateProfileString("Caller", "Id", "", report_) != "7")
        fail("the report lost the caller's section");
      // A report that could not be written is the old one, or this job's own when only the
      // folder's flush failed after it was put in place.
      if (exitCode == 1 && c.append && now.count(report_) != 0 && now.at(report_) != before_.at(report_) &&
          lumipage::platform::GetPrivateProfileString("Scan", "Pages", "", report_) != std::to_string(r.Pages))
        fail("a report that could not be written changed");
    }

    // Every file that was there is as it was or a whole update of it.
    for (const auto& [name, bytes] : before_) {
      if (name == report_ || name == ini || name == p_.exe + "lp_done.dat") continue;
      const auto it = now.find(name);
      if (it != now.end() && it->second == bytes) continue;
      if (it == now.end()) {
        // Only a new job's clean-up of old page files may remove one.
        if (c.append || single_) fail("existing file gone: " + name);
        continue;
      }
      if (c.append && !single_) {
        fail("existing page file changed in append mode: " + name);
        continue;
      }
      int pages = 0;
      const std::string bad = CheckOutput(name, pages);
      if (!bad.empty()) fail("existing file damaged: " + name + ": " + bad);
      // A failure after the file was put in place (its folder could not be flushed) leaves it
      // holding the page that failed; a PDF that could not be saved keeps its pages elsewhere too.
      const int expected = (c.append ? oldPages_ : 0) + newPages;
      const bool lateFailure = !r.Error.empty() && r.Error.find(name) != std::string::npos;
      if (!killed && single_ && newPages >= 0 && pages != expected && !(lateFailure && pages == expected + 1) &&
          (std::string(c.format) != "pdf" || r.Error.empty()))
        fail(name + " has " + std::to_string(pages) + " pages, report says " + std::to_string(r.Pages));
      // A killed append may leave a page it had not yet linked in at the end: unread, harmless.
      if (killed && single_ && c.append && pages < oldPages_) fail(name + " lost pages");
    }
    if (killed) return wrong;

    // The files the report lists are there and whole, and hold the pages it counts.
    int listed = 0;
    for (const auto& f : r.Files) {
      int pages = 0;
      const std::string bad = CheckOutput(f, pages);
      if (!bad.empty()) {
        fail("listed file " + f + ": " + bad);
        continue;
      }
      const bool old = single_ && before_.count(f) != 0 && c.append;
      listed += old ? pages - oldPages_ : pages;
    }
    if (newPages >= 0 && listed != newPages && !(single_ && listed == newPages + 1 && !r.Error.empty()))
      fail("the listed files hold " + std::to_string(listed) + " new pages, the report says " + std::to_string(r.Pages));
    // Nothing new that the report does not name.
    for (const auto& [name, bytes] : now) {
      if (before_.count(name) != 0 || name == report_ || name == p_.exe + "lp_done.dat" || name == ini) continue;
      if (std::find(r.Files.begin(), r.Files.end(), name) == r.Files.end()) fail("file not in the report: " + name);
    }
    return wrong;
  }

  Program p_;
  std::string args_;
  std::string report_;
  Snapshot before_;
  int oldPages_ = 0;
  bool single_ = false;
};

TEST_P(FaultSweep, EveryFailingCallLeavesFilesWholeAndTheReportTrue) {
  const std::map<std::string, int> counts = p_.Count(args_);
  ASSERT_GT(counts.at("write"), 0);
  p_.Restore(before_);
  int runs = 0, failed = 0;
  for (const char* kind : kKinds) {
    for (int n = 1; n <= counts.at(kind); ++n) {
      const char* err = kErrnos[(n + runs) % 3];
      const std::string faults = std::string("LUMIPAGE_FAULT_CALL=") + kind + " LUMIPAGE_FAULT_AT=" + std::to_string(n) +
                                 " LUMIPAGE_FAULT_ERRNO=" + err;
      const int rc = p_.Run(args_, faults);
      ++runs;
      const std::string wrong = Check(rc, false);
      if (rc != 0 || !lumipage::platform::GetPrivateProfileString("Error", "Message", "", report_).empty()) ++failed;
      EXPECT_EQ(wrong, "") << kind << " #" << n << " fails with " << err << "; " << p_.Stderr() << ReadText(report_);
      p_.Restore(before_);
    }
  }
  // Most injected failures end the job with an error: the faults did reach the program.
  EXPECT_GT(failed, runs / 2) << failed << " of " << runs;
}

// kill -9 at spread moments of the job: before its 1st, 2nd, ... file-system call under the
// folder. The next job then finds what the killed one left and must end whole.
class KilledAppend : public FaultSweep {};

TEST_P(KilledAppend, LeavesFilesWholeAndTheNextJobCleansUp) {
  const FormatCase& c = GetParam();
  const std::map<std::string, int> counts = p_.Count(args_);
  p_.Restore(before_);
  int total = 0;
  for (const auto& [kind, n] : counts) total += n;
  // About a dozen moments, spread over the whole job.
  for (int n = 1; n <= total; n += std::max(1, total / 12)) {
    const int rc = p_.Run(args_, "LUMIPAGE_FAULT_CALL=any LUMIPAGE_FAULT_ERRNO=KILL LUMIPAGE_FAULT_AT=" + std::to_string(n));
    ASSERT_EQ(rc, -SIGKILL) << "killed before call " << n;
    EXPECT_EQ(Check(rc, true), "") << "killed before call " << n;
    // The next job appends to whatever the killed one left, and removes its temporaries.
    before_ = p_.Take();
    int pagesBefore = 0;
    const std::string target = p_.out + c.file;
    const std::string file = std::string(c.format) == "pdf" ? target : p_.out + fs::path(c.file).stem().string() + ".tif";
    ASSERT_EQ(CheckOutput(file, pagesBefore), "");
    EXPECT_EQ(p_.Run(args_), 0) << p_.Stderr();
    EXPECT_EQ(p_.Temporaries(), std::vector<std::string>{}) << "killed before call " << n;
    int pagesAfter = 0;
    EXPECT_EQ(CheckOutput(file, pagesAfter), "");
    EXPECT_EQ(pagesAfter, pagesBefore + kPages) << "killed before call " << n;
    EXPECT_EQ(lumipage::platform::GetPrivateProfileString("Error", "Message", "", report_), "");
    SetUp();  // a fresh earlier output for the next moment
  }
}

// Page files are flushed and put in place on a helper thread while later pages are saved; on a
// slow disk several wait behind the flush that fails. The failing page and every later one are
// neither stored nor counted, the pages before stay, and no temporary file is left.
TEST(HelperThread, AFailedFlushEndsTheJobAtThatPage) {
  Program p;
  p.Feeder(6);
  p.flushes += "LUMIPAGE_FAULT_SLOWSYNC=15 ";
  const int fsyncs = p.Count("jpg Resolution 100").at("fsync");
  ASSERT_GT(fsyncs, 6) << p.Stderr();
  for (int n = 1; n <= fsyncs; ++n) {
    for (const auto& e : fs::directory_iterator(p.exe))
      if (e.path().extension() == ".jpg") fs::remove(e.path());
    const int rc = p.Run("jpg Resolution 100", "LUMIPAGE_FAULT_CALL=fsync LUMIPAGE_FAULT_ERRNO=EIO LUMIPAGE_FAULT_AT=" +
                                                   std::to_string(n));
    const Report r = ReadReport(p, rc, p.exe + "lp_done.dat");
    ASSERT_EQ(r.Problem, "") << "fsync #" << n;
    if (r.Error.empty()) {
      EXPECT_EQ(r.Pages, 6) << "fsync #" << n;
    }
    std::vector<std::string> expected;
    for (int k = 1; k <= r.Pages; ++k) expected.push_back(p.exe + "page00" + std::to_string(k) + ".jpg");
    EXPECT_EQ(r.Files, expected) << "fsync #" << n << ": " << r.Error;
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(p.exe))
      if (e.path().extension() == ".jpg") found.push_back(e.path().string());
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, expected) << "fsync #" << n << ": " << r.Error;
    for (const auto& f : found) {
      int pages = 0;
      EXPECT_EQ(CheckOutput(f, pages), "") << f;
    }
    EXPECT_EQ(p.Temporaries(), std::vector<std::string>{}) << "fsync #" << n;
  }
}

// Jobs started side by side in one program folder, each with its own file name and report
// (Indicator 2), and two appends to one file: every job gets exactly its own pages.
TEST(SideBySide, JobsInOneProgramFolderTakeTurns) {
  Program p;
  p.Feeder(3);
  auto start = [&p](const std::string& args) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::execl("/bin/sh", "sh", "-c", p.Command(args, "").c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    return pid;
  };
  auto reportOf = [&p](const std::string& name, const std::string& key) {
    return lumipage::platform::GetPrivateProfileString("Scan", key, "<none>", p.out + name + ".dat") +
           lumipage::platform::GetPrivateProfileString("Error", "Message", "", p.out + name + ".dat");
  };
  const std::string common = " Resolution 50 Indicator 2 filename ";
  // The PDF's page files and the JPEG job's page files would share names beside the program.
  const std::vector<std::string> jobs = {"pdf" + common + Quote(p.out + "a.pdf"), "jpg" + common + Quote(p.out + "b.jpg"),
                                         "multi_tif" + common + Quote(p.out + "c.tif"),
                                         "pdf Append" + common + Quote(p.out + "d.pdf"),
                                         "pdf Append" + common + Quote(p.out + "d.pdf"),
                                         "multi_tif Append" + common + Quote(p.out + "e.tif"),
                                         "multi_tif Append" + common + Quote(p.out + "e.tif")};
  std::vector<pid_t> running;
  for (const auto& args : jobs) running.push_back(start(args));
  for (pid_t pid : running) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(reportOf("a", "Pages"), "3");
  EXPECT_EQ(reportOf("b", "Pages"), "3");
  EXPECT_EQ(reportOf("c", "Pages"), "3");
  EXPECT_EQ(reportOf("d", "Pages"), "3");
  EXPECT_EQ(reportOf("e", "Pages"), "3");
  int pages = 0;
  EXPECT_EQ(CheckOutput(p.out + "a.pdf", pages), "");
  EXPECT_EQ(pages, 3);
  for (const char* f : {"b.jpg", "b_02.jpg", "b_03.jpg"}) EXPECT_EQ(CheckOutput(p.out + f, pages), "") << f;
  EXPECT_FALSE(Exists(p.out + "b_04.jpg"));
  EXPECT_EQ(CheckOutput(p.out + "c.tif", pages), "");
  EXPECT_EQ(pages, 3);
  EXPECT_EQ(CheckOutput(p.out + "d.pdf", pages), "");
  EXPECT_EQ(pages, 6);
  EXPECT_EQ(CheckOutput(p.out + "e.tif", pages), "");
  EXPECT_EQ(pages, 6);
  for (const auto& e : fs::directory_iterator(p.exe)) {
    const std::string name = e.path().filename().string();
    EXPECT_TRUE(name == "lumipage" || name == "lumipage.lock") << "left beside the program: " << name;
  }
}

// A job that finds the folder taken for longer than LockWait touches nothing and says so on
// standard error with exit code 1; the running job's report stays as it is.
TEST(SideBySide, SecondJobGivesUpAfterLockWait) {
  Program p;
  WriteText(p.exe + "lp_done.dat", "[Scan]\nPages=7\n");
  WriteText(p.exe + "page001.jpg", "the running job's page");
  const int fd = ::open((p.exe + "lumipage.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  for (const std::string& wait : {std::string("LockWait 1"), std::string("")}) {
    if (wait.empty()) WriteText(p.exe + "lumipage.ini", "[Scan]\nLockWait=0\n");  // the key, not the pair
    EXPECT_EQ(p.Run("jpg Resolution 50 " + wait), 1);
    const std::string err = p.Stderr();
    EXPECT_NE(err.find("another job is running in " + p.exe), std::string::npos) << err;
    EXPECT_NE(err.find(wait.empty() ? "within 0 seconds" : "within 1 seconds"), std::string::npos) << err;
    EXPECT_EQ(ReadText(p.exe + "lp_done.dat"), "[Scan]\nPages=7\n");
    EXPECT_EQ(ReadText(p.exe + "page001.jpg"), "the running job's page");
    EXPECT_FALSE(Exists(p.exe + "page002.jpg"));
  }
  ::close(fd);
  EXPECT_EQ(p.Run("jpg Resolution 50"), 0) << p.Stderr();
  EXPECT_EQ(lumipage::platform::GetPrivateProfileString("Scan", "Pages", "", p.exe + "lp_done.dat"), "2");
}

INSTANTIATE_TEST_SUITE_P(Formats, FaultSweep,
                         ::testing::Values(FormatCase{"bmp", "bmp", "doc.bmp", false},
                                           FormatCase{"bmp_append", "bmp", "doc.bmp", true},
                                           FormatCase{"jpg", "jpg", "doc.jpg", false},
                                           FormatCase{"jpg_append", "jpg", "doc.jpg", true},
                                           FormatCase{"tif", "tif", "doc.tif", false},
                                           FormatCase{"tif_append", "tif", "doc.tif", true},
                                           FormatCase{"multi_tif", "multi_tif", "doc.tif", false},
                                           FormatCase{"multi_tif_append", "multi_tif", "doc.tif", true},
                                           FormatCase{"pdf", "pdf", "doc.pdf", false},
                                           FormatCase{"pdf_append", "pdf", "doc.pdf", true}),
                         [](const auto& i) { return std::string(i.param.name); });

INSTANTIATE_TEST_SUITE_P(Formats, KilledAppend,
                         ::testing::Values(FormatCase{"multi_tif_append", "multi_tif", "doc.tif", true},
                                           FormatCase{"pdf_append", "pdf", "doc.pdf", true}),
                         [](const auto& i) { return std::string(i.param.name); });

}  // namespace
