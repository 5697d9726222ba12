// The real program scanning from a SANE device: SANE's own "test" backend in a private
// configuration, the program copied alone into a folder and the source manager found through
// LUMIPAGE_SYSTEM_DIR. Output files are checked with independent readers.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "platform/IniFile.h"
#include "tests/support/ProgramTest.h"
#include "tests/support/SaneTestBackend.h"
#include "tests/support/RunCommand.h"

using namespace lumipage;
using namespace lumipage::testing;

namespace {

using Settings = std::map<std::string, std::string>;

constexpr const char* kDevice = "\"Noname frontend-tester\"";

std::string Output(const std::string& cmd) { return RunCommand(cmd).output; }

// Width, height and components of a JPEG file from its frame header.
struct JpegFrame {
  int width = 0, height = 0, components = 0;
};

JpegFrame ReadJpegFrame(const std::string& path) {
  const std::string d = ReadText(path);
  JpegFrame f;
  for (std::size_t i = 2; i + 9 < d.size();) {
    if (static_cast<unsigned char>(d[i]) != 0xFF) break;
    const auto marker = static_cast<unsigned char>(d[i + 1]);
    const std::size_t len = (static_cast<unsigned char>(d[i + 2]) << 8) | static_cast<unsigned char>(d[i + 3]);
    if (marker >= 0xC0 && marker <= 0xC2) {
      f.height = (static_cast<unsigned char>(d[i + 5]) << 8) | static_cast<unsigned char>(d[i + 6]);
      f.width = (static_cast<unsigned char>(d[i + 7]) << 8) | static_cast<unsigned char>(d[i + 8]);
      f.components = static_cast<unsigned char>(d[i + 9]);
      break;
    }
    i += 2 + len;
  }
  return f;
}

std::string FakeSaneIni();

class SaneProgram : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    // Only the SANE devices; the virtual scanner is there when a test asks for it.
    WriteText(sys / "twain_32.ini", "[Sources]\nCount=0\n");
  }
  void Run(const std::string& args) { ASSERT_EQ(ProgramTest::Run(args), 0) << Stderr(); }
  int PdfPages(const std::string& file) {
    std::string info = Output("pdfinfo '" + file + "'");
    auto at = info.find("Pages:");
    return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + 6);
  }
};

TEST_F(SaneProgram, NoScanListsTheDevices) {
  SaneTestBackend backend;
  WriteText(exe / "lumipage.ini", "[Scan]\n");
  Run("noscan");
  EXPECT_EQ(Report("Scan", "Pages"), "0");
  EXPECT_EQ(Report("Error", "Message"), "<none>");
  const std::string ini = exe / "lumipage.ini";
  EXPECT_EQ(platform::GetPrivateProfileString("Scanners", "Count", "", ini), "2");
  EXPECT_EQ(platform::GetPrivateProfileString("Scanners", "Scanner0", "", ini), "Noname frontend-tester");
  EXPECT_EQ(platform::GetPrivateProfileString("Scanners", "Scanner1", "", ini), "Noname frontend-tester 2");
  EXPECT_EQ(platform::GetPrivateProfileString("Scanners", "LastScanner", "", ini), "Noname frontend-tester");
  // The virtual scanners come first unless hidden.
  WriteText(sys / "twain_32.ini", "[Source1]\nName=Desk\n");
  Run("noscan");
  EXPECT_EQ(platform::GetPrivateProfileString("Scanners", "Count", "", ini), "3");
  EXPECT_EQ(platform::GetPrivateProfileString("Scanners", "Scanner0", "", ini), "Desk");
  // The bridge switched off.
  WriteText(sys / "twain_32.ini", "[Sane]\nEnabled=0\n");
  Run("noscan");
  EXPECT_EQ(platform::GetPrivateProfileString("Scanners", "Count", "", ini), "1");
}

TEST_F(SaneProgram, ColourAndGreyPagesAt300DpiToJpegAndPdf) {
  SaneTestBackend backend(Settings{{"test-picture", "\"Color pattern\""}});
  ASSERT_TRUE(Scans(std::string("jpg NoADF Resolution 300 Scanner ") + kDevice, 1));
  JpegFrame colour = ReadJpegFrame(exe / "page001.jpg");
  EXPECT_EQ(colour.width, 3543);  // 300 mm at 300 dpi
  EXPECT_EQ(colour.height, 3543);
  EXPECT_EQ(colour.components, 3);
  EXPECT_FALSE(Exists(exe / "page002.jpg"));

  Run(std::string("jpg Mono NoADF Resolution 300 Scanner ") + kDevice);
  EXPECT_EQ(Report("Scan", "Pages"), "1");
  JpegFrame grey = ReadJpegFrame(exe / "page001.jpg");
  EXPECT_EQ(grey.width, 3543);
  EXPECT_EQ(grey.components, 1);

  for (const char* kind : {"", "Mono "}) {
    std::filesystem::remove(exe / "pages.pdf");
    ASSERT_TRUE(Scans(std::string("pdf ") + kind + "NoADF Resolution 300 Scanner " + kDevice, 1)) << kind;
    EXPECT_EQ(PdfPages(exe / "pages.pdf"), 1) << kind;
    const std::string images = Output("pdfimages -list '" + exe / "pages.pdf" + "'");
    EXPECT_NE(images.find("3543  3543"), std::string::npos) << images;
    EXPECT_NE(images.find(*kind ? "ccitt" : "rgb"), std::string::npos) << images;
  }
}

TEST_F(SaneProgram, OneBitGreyIsBlackAndWhiteInAGroup4Tiff) {
  SaneTestBackend backend(Settings{{"test-picture", "\"Grid\""}});
  Run(std::string("tif ScanMono Mono NoADF Resolution 200 Scanner ") + kDevice);
  EXPECT_EQ(Report("Scan", "Pages"), "1");
  const std::string info = Output("tiffinfo '" + exe / "page001.tif" + "'");
  EXPECT_NE(info.find("Image Width: 2362 Image Length: 2362"), std::string::npos) << info;
  EXPECT_NE(info.find("Bits/Sample: 1"), std::string::npos) << info;
  EXPECT_NE(info.find("CCITT Group 4"), std::string::npos) << info;
  EXPECT_NE(info.find("Resolution: 200, 200 pixels/inch"), std::string::npos) << info;
}

// The bridge's pages go through the same cleaning: a white page is dropped, a straight grid kept
// as it is, and the colour chart (tiny cells of saturated colour, dark in every channel but one)
// kept in colour and in grey.
TEST_F(SaneProgram, SkipBlankAndDeskewTakeTheBridgesPages) {
  {
    SaneTestBackend backend(Settings{{"test-picture", "\"Solid white\""}});
    ASSERT_TRUE(Scans(std::string("pdf SkipBlank Deskew NoADF Resolution 100 Scanner ") + kDevice, 0));
    EXPECT_EQ(Report("Scan", "Blank"), "1");
  }
  for (const char* mode : {"Color", "Gray"}) {
    SCOPED_TRACE(mode);
    SaneTestBackend backend(Settings{{"test-picture", "\"Color pattern\""}, {"mode", mode}});
    ASSERT_TRUE(Scans(std::string("tif SkipBlank NoADF Resolution 150 Scanner ") + kDevice, 1));
    EXPECT_EQ(Report("Scan", "Blank"), "");
  }
  SaneTestBackend backend(Settings{{"test-picture", "\"Grid\""}});
  ASSERT_TRUE(Scans(std::string("pdf SkipBlank Deskew NoADF Resolution 100 Scanner ") + kDevice, 1));
  EXPECT_EQ(Report("Scan", "Blank"), "");
  EXPECT_EQ(Report("Scan", "Deskewed"), "");
  EXPECT_EQ(PdfPages(exe / "pages.pdf"), 1);
}

// The bridge's pages are looked at for separators too: a white sheet is one, a grid is a page.
TEST_F(SaneProgram, SeparatorsTakeTheBridgesPages) {
  {
    SaneTestBackend backend(Settings{{"test-picture", "\"Solid white\""}});
    ASSERT_TRUE(Scans(std::string("pdf Separator blank NoADF Resolution 100 Scanner ") + kDevice, 0));
    EXPECT_EQ(Report("Documents", "Count"), "0");
  }
  SaneTestBackend backend(Settings{{"test-picture", "\"Grid\""}});
  ASSERT_TRUE(Scans(std::string("pdf Separator patch NoADF Resolution 100 Scanner ") + kDevice, 1));
  EXPECT_EQ(Report("Documents", "Count"), "1");
  EXPECT_EQ(Report("Documents", "Doc1"), "1-1");
}

// A device with a duplex unit delivers sheets as pairs of sides: a sheet is a blank separator
// only when both its sides are blank, and a blank back alone stays a page.
TEST_F(SaneProgram, DuplexSheetsFromTheBridgeSplitAsPairs) {
  WriteText(sys / "twain_32.ini", FakeSaneIni());
  ScopedEnv mode("FAKE_SANE_MODE", "duplex");
  ScopedEnv sides("FAKE_SANE_SIDES", "CBBBCCBC");
  ASSERT_TRUE(Scans("pdf Duplex Separator blank Resolution 50", 6));
  EXPECT_EQ(Report("Documents", "Count"), "2");
  EXPECT_EQ(Report("Documents", "Doc1"), "1-1");
  EXPECT_EQ(Report("Documents", "Doc2"), "2-2");
  EXPECT_EQ(PdfPages(exe / "pages-001.pdf"), 2);
  EXPECT_EQ(PdfPages(exe / "pages-002.pdf"), 4);
  // Without Duplex the feeder gives the fronts' side of the load one by one: each blank side is
  // a separator.
  ASSERT_TRUE(Scans("pdf Separator blank Resolution 50", 4));
  EXPECT_EQ(Report("Documents", "Count"), "3");
}

TEST_F(SaneProgram, FeederGivesAMultiPagePdf) {
  SaneTestBackend backend;
  ASSERT_TRUE(Scans(std::string("pdf Resolution 50 Scanner ") + kDevice, 10));
  EXPECT_EQ(PdfPages(exe / "pages.pdf"), 10);
}

TEST_F(SaneProgram, DuplexThatTheDeviceLacksIsRefusedAndTheJobGoesOn) {
  SaneTestBackend backend;
  ASSERT_TRUE(Scans(std::string("jpg Duplex NoADF Resolution 50 Scanner ") + kDevice, 1));
  EXPECT_TRUE(Exists(exe / "page001.jpg"));
}

struct FailureCase {
  const char* status;
  const char* message;  // nullptr: no error entry
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.status; }

class SaneFailureTest : public SaneProgram, public ::testing::WithParamInterface<FailureCase> {};

// Every read fails with the status: the job ends at once, the report naming the condition; a
// cancel stays silent.
TEST_P(SaneFailureTest, ReportNamesTheCondition) {
  SaneTestBackend backend(Settings{{"read-status-code", std::string("\"SANE_STATUS_") + GetParam().status + "\""}});
  Run(std::string("pdf Resolution 50 Scanner ") + kDevice);
  EXPECT_EQ(Report("Scan", "Pages"), "0");
  EXPECT_EQ(Report("Error", "Message"), GetParam().message ? GetParam().message : "<none>");
  EXPECT_FALSE(Exists(exe / "pages.pdf"));
}

INSTANTIATE_TEST_SUITE_P(Statuses, SaneFailureTest,
                         ::testing::Values(FailureCase{"JAMMED", "Document feeder jammed"},
                                           FailureCase{"COVER_OPEN", "Scanner cover is open"},
                                           FailureCase{"IO_ERROR", "Scanner I/O error"},
                                           FailureCase{"NO_DOCS", "No paper in the document feeder"},
                                           FailureCase{"DEVICE_BUSY", "Scanner is busy"},
                                           FailureCase{"CANCELLED", nullptr}),
                         [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.status); });

// A virtual scanner whose transfer fails after two of five sheets: the two pages are kept (and
// assembled into a PDF) and the report says the job did not end cleanly.
TEST_F(SaneProgram, VirtualScannerFailingAfterTwoPagesKeepsThem) {
  WriteText(sys / "twain_32.ini", "[Source1]\nPages=5\nFailAfter=2\n[Sane]\nEnabled=0\n");
  Run("jpg Resolution 50");
  EXPECT_EQ(Report("Scan", "Pages"), "2");
  EXPECT_EQ(Report("Error", "Message"), "Scanner I/O error");
  EXPECT_TRUE(Exists(exe / "page001.jpg"));
  EXPECT_TRUE(Exists(exe / "page002.jpg"));
  EXPECT_FALSE(Exists(exe / "page003.jpg"));
  Run("pdf Resolution 50");
  EXPECT_EQ(Report("Scan", "Pages"), "2");
  EXPECT_EQ(Report("Error", "Message"), "Scanner I/O error");
  EXPECT_EQ(PdfPages(exe / "pages.pdf"), 2);
}

struct UnattendedCase {
  const char* name;
  std::string ini;        // twain_32.ini
  const char* fakeMode;   // FAKE_SANE_MODE, with two failures first
  std::string args;
  const char* pages;
  const char* message;    // nullptr: no error entry
};

void PrintTo(const UnattendedCase& c, std::ostream* os) { *os << c.name; }

class UnattendedJob : public SaneProgram, public ::testing::WithParamInterface<UnattendedCase> {};

std::string FakeSaneIni() { return std::string("[Sources]\nCount=0\n[Sane]\nLibrary=") + LUMIPAGE_FAKE_SANE + "\n"; }

// Paper that arrives late and a scanner that is busy at first, waited on for as long as the job
// asks; without the wait the job ends with the usual message.
TEST_P(UnattendedJob, WaitsAsAskedOrEndsWithTheUsualMessage) {
  const UnattendedCase& c = GetParam();
  WriteText(sys / "twain_32.ini", c.ini);
  ScopedEnv mode("FAKE_SANE_MODE", c.fakeMode);
  ScopedEnv count("FAKE_SANE_COUNT", "2");
  Run("jpg Resolution 50 " + c.args);
  EXPECT_EQ(Report("Scan", "Pages"), c.pages);
  EXPECT_EQ(Report("Error", "Message"), c.message ? c.message : "<none>");
  EXPECT_EQ(Exists(exe / "page001.jpg"), std::string(c.pages) != "0");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnattendedJob,
    ::testing::Values(
        UnattendedCase{"VirtualPaperArrives", "[Source1]\nPages=3\nPaperAfter=1\n[Sane]\nEnabled=0\n", "", "WaitForPaper 4", "3",
                       nullptr},
        UnattendedCase{"VirtualPaperTooLate", "[Source1]\nPages=3\nPaperAfter=3\n[Sane]\nEnabled=0\n", "", "WaitForPaper 1", "0",
                       "No paper in the document feeder"},
        UnattendedCase{"VirtualNoWait", "[Source1]\nPages=3\nPaperAfter=1\n[Sane]\nEnabled=0\n", "", "", "0",
                       "No paper in the document feeder"},
        UnattendedCase{"SanePaperArrives", FakeSaneIni(), "nodocs", "WaitForPaper 3", "1", nullptr},
        UnattendedCase{"SaneBusyAtOpen", FakeSaneIni(), "busyopen", "RetryBusy 3", "1", nullptr},
        UnattendedCase{"SaneBusyAtOpenNoRetry", FakeSaneIni(), "busyopen", "", "0", "Unable to open TWAIN source"},
        UnattendedCase{"SaneBusyAtStart", FakeSaneIni(), "busystart", "RetryBusy 3", "1", nullptr},
        UnattendedCase{"SaneBusyAtStartNoRetry", FakeSaneIni(), "busystart", "", "0", "Scanner is busy"},
        // Two empty starts, then an I/O error for good: the wait of an hour ends there.
        UnattendedCase{"SaneGoneWhileWaitedOn", FakeSaneIni(), "gone", "WaitForPaper 3600", "0", "Scanner I/O error"}),
    [](const ::testing::TestParamInfo<UnattendedCase>& info) { return std::string(info.param.name); });

// A job naming a device that the device cache still lists but that has gone goes on as a job
// without the cache would: the name is not listed, so the default scanner scans.
TEST_F(SaneProgram, CachedDeviceThatHasGoneIsAJobWithoutIt) {
  SaneTestBackend backend;
  Run("noscan");
  const std::string cache = sys / "sane-devices.cache";
  std::string text = ReadText(cache);
  const std::string second = "Noname frontend-tester 2\ttest:1\tNoname\tfrontend-tester";
  ASSERT_NE(text.find(second), std::string::npos) << text;
  WriteText(cache, text.replace(text.find(second), second.size(), "Gone Scanner\ttest:9\tGone\tScanner"));
  ASSERT_TRUE(Scans("jpg NoADF Resolution 50 Scanner \"Gone Scanner\"", 1));
  EXPECT_EQ(ReadText(cache).find("Gone"), std::string::npos);
}

}  // namespace

namespace {

struct DeviceNameCase {
  const char* name;
  std::string ini;      // twain_32.ini
  const char* scanner;  // the Scanner value, as a scanner-button daemon hands it on
  const char* pages;
  const char* message;  // nullptr: no error entry
  const char* used;     // [Scanners] LastScanner; nullptr: not written (the job failed first)
};

void PrintTo(const DeviceNameCase& c, std::ostream* os) { *os << c.name; }

class SaneDeviceName : public SaneProgram, public ::testing::WithParamInterface<DeviceNameCase> {};

// A SANE device name picks that device, listed or not; one that no device answers to is an
// error, not a scan from another scanner.
TEST_P(SaneDeviceName, PicksTheDevice) {
  const DeviceNameCase& c = GetParam();
  SaneTestBackend backend;
  WriteText(sys / "twain_32.ini", c.ini);
  WriteText(exe / "lumipage.ini", "[Scan]\n");
  Run(std::string("jpg NoADF Resolution 50 Scanner ") + c.scanner);
  EXPECT_EQ(Report("Scan", "Pages"), c.pages);
  EXPECT_EQ(Report("Error", "Message"), c.message ? c.message : "<none>");
  EXPECT_EQ(platform::GetPrivateProfileString("Scanners", "LastScanner", "<none>", exe / "lumipage.ini"),
            c.used ? c.used : "<none>");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SaneDeviceName,
    ::testing::Values(
        DeviceNameCase{"Listed", "[Source1]\nName=Desk\n", "test:1", "1", nullptr, "Noname frontend-tester 2"},
        // Not listed by discovery (the fake library lists fake:0 only) but opened by name, as a
        // network scanner left out of a local discovery is.
        DeviceNameCase{"OpenedByName", "[Sources]\nCount=0\n[Sane]\nLibrary=" + std::string(LUMIPAGE_FAKE_SANE) + "\n",
                       "fake:network-scanner", "1", nullptr, "fake:network-scanner"},
        DeviceNameCase{"NoSuchDevice", "[Source1]\nName=Desk\n", "test:7", "0", "Unable to open TWAIN source",
                       "test:7"},
        // With the bridge off a device name names nothing: the default scanner scans, as for
        // any name not listed.
        DeviceNameCase{"BridgeOff", "[Source1]\nName=Desk\n[Sane]\nEnabled=0\n", "test:1", "1", nullptr, "Desk"}),
    [](const ::testing::TestParamInfo<DeviceNameCase>& info) { return std::string(info.param.name); });

// A device attached after the device cache was written is found by its name all the same.
TEST_F(SaneProgram, DeviceNameMissingFromTheCacheIsLookedFor) {
  SaneTestBackend backend;
  WriteText(exe / "lumipage.ini", "[Scan]\n");
  Run("noscan");
  const std::string cache = sys / "sane-devices.cache";
  std::string text = ReadText(cache);
  const std::string second = "device\tNoname frontend-tester 2\ttest:1\tNoname\tfrontend-tester\tvirtual device\n";
  const std::size_t at = text.find(second);
  ASSERT_NE(at, std::string::npos) << text;
  text.erase(at, second.size());
  text.replace(text.find("end\t2"), 5, "end\t1");
  WriteText(cache, text);
  ASSERT_TRUE(Scans("jpg NoADF Resolution 50 Scanner test:1", 1));
  EXPECT_EQ(platform::GetPrivateProfileString("Scanners", "LastScanner", "", exe / "lumipage.ini"),
            "Noname frontend-tester 2");
}

}  // namespace
