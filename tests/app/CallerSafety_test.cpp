// What a hostile caller or an unlucky machine can do to a job, tried through the real program
// and source manager: a signal during every wait and on a huge page, text that would forge
// report lines, relative and odd output names, numbers out of range, a full disk at the PDF's
// save, and a multi-page file that a killed job left with an unlinked page.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "tests/support/ProgramTest.h"
#include "tests/support/RunCommand.h"
#include "tests/support/SaneTestBackend.h"

using namespace lumipage;
using namespace lumipage::testing;

namespace {

using Clock = std::chrono::steady_clock;

class CallerJob : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    Scanner("[Source1]\nPages=2\n");
  }
  void Scanner(const std::string& source, bool sane = false) {
    WriteText(sys / "twain_32.ini", std::string(sane ? "[Sources]\nCount=0\n" : "[Sane]\nEnabled=0\n") + source);
  }
  // Runs the job from the given folder (as the caller's current folder).
  int RunIn(const std::string& folder, const std::string& args) const {
    std::string command = Command(args);
    const std::string root = "cd / && ";
    if (command.compare(0, root.size(), root) != 0) return -1;  // runs nothing from the wrong folder
    command.replace(0, root.size(), "cd '" + folder + "' && ");
    return ExitCode(std::system(command.c_str()));
  }
  [[nodiscard]] bool Began() const { return !Exists(exe / "lp_done.dat"); }

  TempDir out{"out"};
};

// ---- A signal ends every wait ---------------------------------------------------------------

// A wait the job is in, and when the signal comes.
struct WaitRow {
  const char* name;
  const char* scanner;  // twain_32.ini of the virtual scanner; empty: SANE's test backend
  const char* args;
  int delayMs;  // after the job has begun
  int signal;
};

void PrintTo(const WaitRow& row, std::ostream* os) { *os << row.name; }

class SignalDuringWait : public CallerJob, public ::testing::WithParamInterface<WaitRow> {};

TEST_P(SignalDuringWait, EndsTheJobAtOnceWithTheUsualReport) {
  const WaitRow& row = GetParam();
  std::optional<SaneTestBackend> sane;
  if (*row.scanner) {
    Scanner(row.scanner);
  } else {
    // Every read returns one byte after a pause: the page never comes within the test's time.
    sane.emplace(std::map<std::string, std::string>{{"read-limit", "true"},
                                                    {"read-limit-size", "1"},
                                                    {"read-delay", "true"},
                                                    {"read-delay-duration", "200000"}});
    Scanner("", true);
  }
  WriteText(out / "doc.pdf", "someone's PDF");
  WriteText(exe / "lp_done.dat", "old");  // deleted once the job's signal handling is in place
  Clock::duration after{};
  const int rc = RunAndSignal(Command(std::string(row.args) + " filename '" + out / "doc.pdf" + "'"),
                              [&] { return Began(); }, row.signal, std::chrono::milliseconds(row.delayMs), &after);
  ASSERT_NE(rc, -2) << "the job ended before the signal: " << Report("Error", "Message");
  EXPECT_EQ(rc, 0) << Stderr();
  // The waits run for an hour; the signal ends them (the bound leaves room for a loaded machine).
  EXPECT_LT(after, std::chrono::seconds(5));
  EXPECT_EQ(Report("Error", "Message"), "Job interrupted");
  EXPECT_EQ(Report("Scan", "Pages"), "0");
  EXPECT_EQ(Report("Files", "Count"), "0");
  EXPECT_EQ(ReadText(out / "doc.pdf"), "someone's PDF");
  for (const TempDir* dir : {&exe, &out}) {
    for (const auto& e : std::filesystem::directory_iterator(dir->Folder())) {
      EXPECT_NE(e.path().filename().string()[0], '.') << "temporary file left: " << e.path();
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SignalDuringWait,
    ::testing::Values(
        WaitRow{"paper_wait_at_once", "[Source1]\nPages=2\nPaperAfter=3600\n", "pdf WaitForPaper 3600", 50, SIGTERM},
        WaitRow{"paper_wait_later", "[Source1]\nPages=2\nPaperAfter=3600\n", "pdf WaitForPaper 3600", 1200, SIGINT},
        WaitRow{"busy_retry_at_once", "[Source1]\nPages=2\nBusyFor=3600\n", "pdf RetryBusy 3600", 50, SIGTERM},
        WaitRow{"busy_retry_between_long_pauses", "[Source1]\nPages=2\nBusyFor=3600\n", "pdf RetryBusy 3600", 3100,
                SIGHUP},
        WaitRow{"sane_read_that_trickles", "", "pdf Resolution 75", 1500, SIGTERM},
        // A 600 dpi black-and-white page takes about half a second to render and dither.
        WaitRow{"huge_page", "[Source1]\nPages=1\n", "pdf Mono Resolution 600", 200, SIGTERM}),
    [](const ::testing::TestParamInfo<WaitRow>& info) { return std::string(info.param.name); });

// The wait for another job of the same folder: the running job owns the folder and its report,
// so the interrupted job touches nothing and says so on standard error.
TEST_F(CallerJob, SignalDuringTheLockWaitTouchesNothing) {
  const int fd = ::open((exe / "lumipage.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);  // the other job
  WriteText(exe / "lp_done.dat", "the running job's report");
  Clock::duration after{};
  const int rc =
      RunAndSignal(Command("pdf LockWait 3600"), [] { return true; }, SIGTERM, std::chrono::milliseconds(700), &after);
  ::close(fd);
  ASSERT_NE(rc, -2);
  EXPECT_EQ(rc, 1);
  EXPECT_LT(after, std::chrono::seconds(5));
  EXPECT_EQ(ReadText(exe / "lp_done.dat"), "the running job's report");
  EXPECT_EQ(Stderr(), "lumipage: Job interrupted while another job was running in " + exe.Folder() +
                          "; nothing was done\n");
}

// ---- No value reaches the report as more than one value -------------------------------------

struct ForgeRow {
  const char* name;
  std::string args;        // {out} stands for the output folder
  std::string settings;    // lumipage.ini beside the program; empty: none
  std::string message;
};

void PrintTo(const ForgeRow& row, std::ostream* os) { *os << row.name; }

constexpr char kNulName[] = "[Scan]\nfilename=a\0b.jpg\n";

class ForgedText : public CallerJob, public ::testing::WithParamInterface<ForgeRow> {};

std::string WithOut(std::string s, const std::string& out) {
  for (auto at = s.find("{out}"); at != std::string::npos; at = s.find("{out}", at + out.size())) s.replace(at, 5, out);
  return s;
}

TEST_P(ForgedText, IsRefusedBeforeAnythingIsTouched) {
  const ForgeRow& row = GetParam();
  if (!row.settings.empty()) WriteText(exe / "lumipage.ini", row.settings);
  WriteText(exe / "page001.jpg", "an earlier job's page");
  WriteText(exe / "pages.pdf", "an earlier job's PDF");
  WriteText(out / "x.jpg", "the caller's file");
  EXPECT_EQ(Run(WithOut(row.args, out.Folder())), 0) << Stderr();
  EXPECT_EQ(Report("Error", "Message"), WithOut(row.message, out.Folder()));
  EXPECT_EQ(Report("Scan", "Pages"), "0");
  EXPECT_EQ(Report("Files", "Count"), "0");
  // Exactly the report's own keys: nothing from inside the value.
  const std::string report = ReadText(exe / "lp_done.dat");
  EXPECT_EQ(report, "[Error]\nMessage=" + WithOut(row.message, out.Folder()) + "\n[Scan]\nPages=0\n[Files]\nCount=0\n");
  EXPECT_EQ(ReadText(exe / "page001.jpg"), "an earlier job's page");
  EXPECT_EQ(ReadText(exe / "pages.pdf"), "an earlier job's PDF");
  EXPECT_EQ(ReadText(out / "x.jpg"), "the caller's file");
  if (!row.settings.empty()) {
    EXPECT_EQ(ReadText(exe / "lumipage.ini"), row.settings);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ForgedText,
    ::testing::Values(
        ForgeRow{"file_name_with_line_breaks", "filename '{out}x\nFile2=/etc/passwd\nCount=2\n.jpg'", "",
                 "Invalid file name \"{out}x\\nFile2=/etc/passwd\\nCount=2\\n.jpg\": it holds a line break"},
        ForgeRow{"pdf_name_with_carriage_return", "pdf filename '{out}doc\r.pdf'", "",
                 "Invalid file name \"{out}doc\\r.pdf\": it holds a carriage return"},
        ForgeRow{"file_name_with_nul_from_the_settings_file", "", std::string(kNulName, sizeof kNulName - 1),
                 "Invalid file name \"a\\0b.jpg\": it holds a NUL character"},
        ForgeRow{"banner", "Banner 'Top\n[Error]\nMessage=none'", "",
                 "Invalid Banner \"Top\\n[Error]\\nMessage=none\": it holds a line break"},
        ForgeRow{"product_name", "prodname 'Acme\nScanner0=x'", "[Scan]\nResolution=50\n",
                 "Invalid prodname \"Acme\\nScanner0=x\": it holds a line break"},
        ForgeRow{"scanner_name", "Scanner 'Virtual\nScanner'", "",
                 "Invalid Scanner \"Virtual\\nScanner\": it holds a line break"},
        ForgeRow{"password_is_not_repeated", "pdf PDFPassword 'secret\nFile1=/etc/shadow'", "",
                 "Invalid PDFPassword: it holds a line break"}),
    [](const ::testing::TestParamInfo<ForgeRow>& info) { return std::string(info.param.name); });

// ---- [Files] names absolute, normalised paths -----------------------------------------------

struct PathRow {
  const char* name;
  const char* args;      // {work} is the caller's current folder
  const char* expected;  // File1, with {work} and {exe}
};

void PrintTo(const PathRow& row, std::ostream* os) { *os << row.name; }

class RelativeName : public CallerJob, public ::testing::WithParamInterface<PathRow> {};

std::string Fill(std::string s, const std::string& key, const std::string& value) {
  for (auto at = s.find(key); at != std::string::npos; at = s.find(key, at + value.size())) s.replace(at, key.size(), value);
  return s;
}

TEST_P(RelativeName, IsListedWhereTheFileIs) {
  const PathRow& row = GetParam();
  TempDir work{"work"};
  std::filesystem::create_directories(work / "other/deeper");
  std::filesystem::create_directory_symlink(work / "other/deeper", work / "link");
  Scanner("[Source1]\nPages=1\n");
  ASSERT_EQ(RunIn(work.Path(), row.args), 0) << Stderr();
  EXPECT_EQ(Report("Error", "Message"), "<none>");
  const std::string expected = Fill(Fill(row.expected, "{work}", work.Path()), "{exe}", exe.Path());
  EXPECT_EQ(Report("Files", "File1"), expected);
  EXPECT_TRUE(Exists(expected));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RelativeName,
    ::testing::Values(PathRow{"with_a_folder", "Resolution 50 filename sub/doc.jpg", "{work}/sub/doc.jpg"},
                      PathRow{"without_a_folder", "Resolution 50 filename doc.jpg", "{exe}/doc.jpg"},
                      PathRow{"dots", "Resolution 50 filename ./sub/../sub/./doc.jpg", "{work}/sub/doc.jpg"},
                      PathRow{"link_kept_as_named", "Resolution 50 filename link/doc.jpg", "{work}/link/doc.jpg"},
                      PathRow{"dot_dot_after_a_link", "Resolution 50 filename link/../doc.jpg", "{work}/other/doc.jpg"},
                      PathRow{"pdf", "pdf Resolution 50 filename other/../x/doc.pdf", "{work}/x/doc.pdf"},
                      PathRow{"multi_page_tiff", "multi_tif Resolution 50 filename sub//doc.tif", "{work}/sub/doc.tif"}),
    [](const ::testing::TestParamInfo<PathRow>& info) { return std::string(info.param.name); });

TEST_F(CallerJob, AFailureNamesTheAbsolutePath) {
  TempDir work{"work"};
  WriteText(work / "file", "a file, not a folder");
  ASSERT_EQ(RunIn(work.Path(), "Resolution 50 filename file/doc.jpg"), 0);
  EXPECT_EQ(Report("Error", "Message"), "Unable to create folder " + work / "file");
}

// ---- A PDF job deletes only its own target --------------------------------------------------

TEST_F(CallerJob, APdfJobWithItsOwnNameLeavesTheDefaultPdfAlone) {
  WriteText(exe / "pages.pdf", "another job's PDF");
  ASSERT_TRUE(Scans("pdf Resolution 50 filename '" + out / "doc.pdf" + "'", 2));
  EXPECT_EQ(ReadText(exe / "pages.pdf"), "another job's PDF");
  EXPECT_TRUE(Exists(out / "doc.pdf"));
}

// ---- Numbers out of range are cut to the bounds ---------------------------------------------

// A wait that must be at its longest: the virtual scanner's feeder is empty for a second, so the
// job scans only when the value counts as a wait (a value taken as 0 or -1 ends the job at once).
struct BoundRow {
  const char* name;
  const char* args;
  const char* scanner;
};

void PrintTo(const BoundRow& row, std::ostream* os) { *os << row.name; }

class OutOfRange : public CallerJob, public ::testing::WithParamInterface<BoundRow> {};

TEST_P(OutOfRange, MeansTheLongestWait) {
  Scanner(GetParam().scanner);
  EXPECT_TRUE(Scans(std::string("Resolution 50 ") + GetParam().args, 2));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, OutOfRange,
    ::testing::Values(
        BoundRow{"wait_for_paper_hex", "WaitForPaper '$FFFFFFFF'", "[Source1]\nPages=2\nPaperAfter=1\n"},
        BoundRow{"wait_for_paper_decimal", "WaitForPaper 4294967295", "[Source1]\nPages=2\nPaperAfter=1\n"},
        BoundRow{"wait_for_paper_beyond_64_bits", "WaitForPaper 99999999999999999999999",
                 "[Source1]\nPages=2\nPaperAfter=1\n"},
        BoundRow{"retry_busy_hex", "RetryBusy '$FFFFFFFF'", "[Source1]\nPages=2\nBusyFor=1\n"},
        BoundRow{"retry_busy_decimal", "RetryBusy 99999999999", "[Source1]\nPages=2\nBusyFor=1\n"}),
    [](const ::testing::TestParamInfo<BoundRow>& info) { return std::string(info.param.name); });

TEST_F(CallerJob, PaperAfterBeyondItsRangeIsTheLongestNotNone) {
  // $FFFFFFFF would read as no wait at all if it wrapped: the feeder must stay empty.
  Scanner("[Source1]\nPages=2\nPaperAfter=$FFFFFFFF\n");
  EXPECT_EQ(Run("Resolution 50"), 0);
  EXPECT_EQ(Report("Error", "Message"), "No paper in the document feeder");
}

TEST_F(CallerJob, LockWaitBeyondItsRangeWaitsForTheOtherJob) {
  const int fd = ::open((exe / "lumipage.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  std::thread release([fd] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ::close(fd);
  });
  const bool scanned = Scans("Resolution 50 LockWait '$FFFFFFFF'", 2);
  release.join();
  EXPECT_TRUE(scanned);
}

// ---- A huge settings file -------------------------------------------------------------------

TEST_F(CallerJob, AHugeSettingsFileIsReadInPartAndNeverWritten) {
  // The first four megabytes hold the settings; what follows counts as absent.
  std::string text = "[Scan]\nResolution=50\nbmp=1\n[Scanners]\nCount=0\n;";
  text += std::string((4 << 20) + 4096, 'x');
  text += "\n[Scan]\njpg=1\n";
  WriteText(exe / "lumipage.ini", text);
  ASSERT_TRUE(Scans("", 2));
  EXPECT_TRUE(Exists(exe / "page001.bmp"));
  EXPECT_EQ(ReadText(exe / "lumipage.ini"), text);
}

// ---- A failed PDF save names what it kept and why -------------------------------------------

TEST_F(CallerJob, AFullDiskAtThePdfsSaveNamesEveryKeptPageAndTheReason) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a small file system";
  const std::string small = out / "small";
  std::filesystem::create_directories(small);
  if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0) GTEST_SKIP() << "cannot mount tmpfs";
  struct Unmount {
    std::string at;
    ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
  } unmount{small};
  Scanner("[Source1]\nPages=3\n");
  EXPECT_EQ(Run("pdf Resolution 150 filename '" + small + "/doc.pdf'"), 0);
  // The pages do not fit beside the PDF either: they stay beside the program, under names no
  // clean-up touches.
  EXPECT_EQ(Report("Error", "Message"), "Unable to save PDF file " + small + "/doc.pdf; the scanned pages are kept as " +
                                            exe / "doc-unsaved-001.jpg" + " to " + exe / "doc-unsaved-003.jpg" +
                                            ". No space left on device");
  EXPECT_EQ(Report("Files", "Count"), "3");
  EXPECT_EQ(Report("Files", "File3"), exe / "doc-unsaved-003.jpg");
}

// ---- A killed multi-page append leaves bytes that the next append takes over -----------------

TEST_F(CallerJob, TheUnlinkedPageOfAKilledAppendIsTakenOver) {
  const std::string file = out / "doc.tif";
  Scanner("[Source1]\nPages=2\n");
  ASSERT_TRUE(Scans("multi_tif Resolution 50 filename '" + file + "'", 2));
  const auto whole = std::filesystem::file_size(file);
  // What a job killed after writing its page and before linking it leaves: bytes no directory names.
  {
    std::ofstream tail(file, std::ios::binary | std::ios::app);
    tail << std::string(40000, '\x55');
  }
  Scanner("[Source1]\nPages=1\n");
  ASSERT_TRUE(Scans("multi_tif Append Resolution 50 filename '" + file + "'", 1));
  const CommandResult info = RunCommand("tiffinfo '" + file + "' 2>&1 | grep -c 'TIFF Directory'", false);
  EXPECT_EQ(std::atoi(info.output.c_str()), 3);
  // The third page took the place of the dead bytes.
  EXPECT_LT(std::filesystem::file_size(file), whole + 40000 + whole / 2);
  EXPECT_EQ(RunCommand("tiffinfo -D '" + file + "' >/dev/null 2>&1", false).status, 0);
}

TEST_F(CallerJob, BytesThatAnUnknownTagMayReferAreKept) {
  // ImageMagick's or libtiff's files can carry tags this program does not know: a private offset
  // tag may point into the tail, so the tail is not provably dead and stays.
  const std::string file = out / "doc.tif";
  Scanner("[Source1]\nPages=1\n");
  ASSERT_TRUE(Scans("multi_tif Resolution 50 filename '" + file + "'", 1));
  ASSERT_EQ(RunCommand("tiffset -s 34665 1234 '" + file + "' 2>&1", false).status, 0);
  {
    std::ofstream tail(file, std::ios::binary | std::ios::app);
    tail << std::string(1000, '\x55');
  }
  const auto before = std::filesystem::file_size(file);
  ASSERT_TRUE(Scans("multi_tif Append Resolution 50 filename '" + file + "'", 1));
  EXPECT_GT(std::filesystem::file_size(file), before);
}

}  // namespace
