// SANE devices as sources of the source manager, against SANE's own "test" backend: the listing,
// capabilities mapped to the device's options, the kinds of page, the feeder, SANE's failure
// statuses as TWAIN condition codes, and the bridge switched off or without its library.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "tests/dsm/DsmSession.h"
#include "tests/support/SaneTestBackend.h"

namespace lumipage {
namespace {

using namespace twain;
using testing::Header;
using testing::HeaderOf;
using testing::NoSaneDevices;
using testing::SaneTestBackend;
using testing::Session;
using testing::ScopedEnv;
using testing::Stride;

// The machine's own scanners never reach these tests: every case starts without SANE devices and
// brings the test backend in where it needs it.
class NoMachineScanners : public ::testing::Environment {
 public:
  void SetUp() override { none_.emplace(); }
  void TearDown() override { none_.reset(); }

 private:
  std::optional<NoSaneDevices> none_;
};
const auto* const kNoMachineScanners = ::testing::AddGlobalTestEnvironment(new NoMachineScanners);

using Settings = std::map<std::string, std::string>;

constexpr const char* kFirst = "Noname frontend-tester";
constexpr const char* kSecond = "Noname frontend-tester 2";
constexpr const char* kOnlySane = "[Sources]\nCount=0\n";

std::vector<std::uint8_t> Pixels(const platform::GlobalBlock& dib) {
  platform::GlobalLockGuard lock(dib.get());
  Header h = HeaderOf(dib);
  const std::size_t offset = 40 + 4 * h.clrUsed;
  const auto* p = lock.as<std::uint8_t>();
  return std::vector<std::uint8_t>(p + offset, p + lock.size());
}

using Caps = std::vector<std::pair<TW_UINT16, std::pair<TW_UINT16, TW_UINT32>>>;

// One page from a device (the first test device unless named) with the given capabilities set first.
Session::Transfer ScanOne(Session& s, const Caps& caps, const char* device = kFirst) {
  s.OpenDs(device);
  for (const auto& [cap, value] : caps) EXPECT_EQ(s.SetCap(cap, value.first, value.second).first, TWRC_SUCCESS) << cap;
  return s.Start() ? s.Next() : Session::Transfer{};
}

auto Dpi(TW_UINT32 dpi) { return std::make_pair(ICAP_XRESOLUTION, std::make_pair(TWTY_FIX32, dpi)); }
auto YDpi(TW_UINT32 dpi) { return std::make_pair(ICAP_YRESOLUTION, std::make_pair(TWTY_FIX32, dpi)); }
auto Type(TW_UINT16 t) { return std::make_pair(ICAP_PIXELTYPE, std::make_pair(TWTY_UINT16, TW_UINT32{t})); }
auto Depth(TW_UINT16 d) { return std::make_pair(ICAP_BITDEPTH, std::make_pair(TWTY_UINT16, TW_UINT32{d})); }
auto Feeder(bool on) { return std::make_pair(CAP_FEEDERENABLED, std::make_pair(TWTY_BOOL, TW_UINT32{on})); }

struct ListCase {
  const char* name;
  std::string ini;
  std::vector<std::string> names;
  int defaultIndex;
};

void PrintTo(const ListCase& c, std::ostream* os) { *os << c.name; }

class SaneListTest : public ::testing::TestWithParam<ListCase> {};

TEST_P(SaneListTest, ListsTheDevicesAfterTheVirtualScanners) {
  SaneTestBackend backend;
  Session s(GetParam().ini);
  s.OpenDsm();
  std::vector<std::string> names;
  std::vector<std::string> makers;
  TW_IDENTITY id{};
  for (TW_UINT16 msg = MSG_GETFIRST; s.Call(nullptr, DG_CONTROL, DAT_IDENTITY, msg, &id) == TWRC_SUCCESS; msg = MSG_GETNEXT) {
    names.emplace_back(id.ProductName);
    makers.emplace_back(id.Manufacturer);
  }
  EXPECT_EQ(names, GetParam().names);
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i].rfind("Noname", 0) == 0) {
      EXPECT_EQ(makers[i], "Noname");
    }
  }
  TW_IDENTITY def{};
  auto [rc, cc] = s.Try(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, &def);
  if (GetParam().defaultIndex < 0) {
    EXPECT_EQ(std::make_pair(rc, cc), std::make_pair(TWRC_FAILURE, TWCC_NODS));
  } else {
    ASSERT_EQ(rc, TWRC_SUCCESS);
    EXPECT_EQ(std::string(def.ProductName), GetParam().names[static_cast<std::size_t>(GetParam().defaultIndex)]);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Settings, SaneListTest,
    ::testing::Values(
        ListCase{"NoSettingsFile", "", {"Virtual Scanner", kFirst, kSecond}, 0},
        ListCase{"VirtualScannersHidden", kOnlySane, {kFirst, kSecond}, 0},
        ListCase{"DefaultNamesADevice", "[Sources]\nDefault=NONAME FRONTEND-TESTER 2\n", {"Virtual Scanner", kFirst, kSecond}, 2},
        ListCase{"BridgeOff", "[Sane]\nEnabled=0\n", {"Virtual Scanner"}, 0},
        ListCase{"NoLibrary", "[Sane]\nLibrary=/nonexistent/libsane.so.1\n", {"Virtual Scanner"}, 0},
        ListCase{"NotALibrary", "[Sane]\nLibrary=/etc/sane.d/test.conf\n", {"Virtual Scanner"}, 0},
        ListCase{"NothingAtAll", "[Sources]\nCount=0\n[Sane]\nEnabled=0\n", {}, -1},
        ListCase{"NamesStayUnique", "[Source1]\nName=noname FRONTEND-tester\n",
                 {"noname FRONTEND-tester", kSecond, "Noname frontend-tester 3"}, 0}),
    [](const ::testing::TestParamInfo<ListCase>& info) { return std::string(info.param.name); });

struct KindCase {
  const char* name;
  TW_UINT16 pixelType, bitDepth;
  const char* picture;
  std::uint16_t bits;
  std::uint32_t colours;
};

void PrintTo(const KindCase& c, std::ostream* os) { *os << c.name; }

class SaneKindTest : public ::testing::TestWithParam<KindCase> {};

// The job's kinds arrive as packed bitmaps of the kind, the device's whole area at the
// resolution asked for, with the image information to match.
TEST_P(SaneKindTest, PageOfTheKindAtTheResolution) {
  const KindCase k = GetParam();
  SaneTestBackend backend(Settings{{"test-picture", std::string("\"") + k.picture + "\""}});
  Session s(kOnlySane);
  Session::Transfer t = ScanOne(s, {Dpi(100), YDpi(100), Type(k.pixelType), Depth(k.bitDepth), Feeder(false)});
  ASSERT_EQ(t.rc, TWRC_XFERDONE);
  EXPECT_EQ(t.pending, 0);
  Header h = HeaderOf(t.dib);
  EXPECT_EQ(h.size, 40u);
  EXPECT_EQ(h.width, 1181);  // 300 mm at 100 dpi
  EXPECT_EQ(h.height, 1181);
  EXPECT_EQ(h.bits, k.bits);
  EXPECT_EQ(h.clrUsed, k.colours);
  EXPECT_EQ(h.xppm, 3937);
  EXPECT_EQ(h.yppm, 3937);
  EXPECT_EQ(platform::GlobalSize(t.dib.get()), 40 + 4 * k.colours + Stride(h.width, h.bits) * h.height);
  EXPECT_EQ(t.info.XResolution.Whole, 100);
  EXPECT_EQ(t.info.YResolution.Whole, 100);
  EXPECT_EQ(t.info.ImageWidth, 1181);
  EXPECT_EQ(t.info.PixelType, k.pixelType);
  EXPECT_EQ(t.info.BitsPerPixel, k.bits);

  platform::GlobalLockGuard lock(t.dib.get());
  const auto* table = lock.as<std::uint8_t>() + 40;
  if (k.colours == 2) {
    // Black first, white second: a solid black page is all zero bits.
    EXPECT_EQ(std::vector<std::uint8_t>(table, table + 8), (std::vector<std::uint8_t>{0, 0, 0, 0, 255, 255, 255, 0}));
  }
  if (k.colours == 256) {
    EXPECT_EQ(table[4 * 200], 200);
  }
  const std::vector<std::uint8_t> px = Pixels(t.dib);
  const std::uint64_t stride = Stride(h.width, h.bits);
  const std::size_t used = (static_cast<std::size_t>(h.width) * h.bits + 7) / 8;
  std::size_t ink = 0, paper = 0;
  for (int y = 0; y < h.height; ++y) {
    for (std::size_t i = 0; i < used; ++i) {
      const std::uint8_t b = px[y * stride + i];
      ink += b == 0;
      paper += b == 0xFF;
    }
  }
  if (std::strcmp(k.picture, "Solid black") == 0) {
    EXPECT_EQ(ink, used * h.height);
  } else {
    EXPECT_EQ(paper, used * h.height - (h.bits == 1 ? h.height : 0));
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, SaneKindTest,
                         ::testing::Values(KindCase{"BlackAndWhite", TWPT_BW, 1, "Solid black", 1, 2},
                                           KindCase{"BlackAndWhiteWhite", TWPT_BW, 1, "Solid white", 1, 2},
                                           KindCase{"Grey", TWPT_GRAY, 8, "Solid black", 8, 256},
                                           KindCase{"Colour", TWPT_RGB, 24, "Solid white", 24, 0}),
                         [](const ::testing::TestParamInfo<KindCase>& info) { return std::string(info.param.name); });

// The same colour page read in one pass, in three passes (one frame per colour, in either order)
// and in small pieces gives the same bitmap.
TEST(SaneSourceTest, ThreePassAndShortReadsGiveTheSamePage) {
  auto scan = [](const std::map<std::string, std::string>& settings) {
    std::map<std::string, std::string> all = settings;
    all["test-picture"] = "\"Color pattern\"";
    SaneTestBackend backend(all);
    Session s(kOnlySane);
    // Without a pixel type the device keeps its own mode and depth from test.conf.
    Session::Transfer t = ScanOne(s, {Dpi(40), YDpi(40)});
    EXPECT_EQ(t.rc, TWRC_XFERDONE);
    EXPECT_EQ(HeaderOf(t.dib).bits, 24);
    return Pixels(t.dib);
  };
  const auto single = scan({{"mode", "Color"}});
  ASSERT_FALSE(single.empty());
  std::size_t distinct = 0;
  for (std::size_t i = 1; i < single.size(); ++i) distinct += single[i] != single[i - 1];
  EXPECT_GT(distinct, single.size() / 100);  // a pattern, not a plain page
  EXPECT_EQ(scan({{"mode", "Color"}, {"three-pass", "true"}}), single);
  EXPECT_EQ(scan({{"mode", "Color"}, {"three-pass", "true"}, {"three-pass-order", "BGR"}}), single);
  EXPECT_EQ(scan({{"mode", "Color"}, {"read-limit", "true"}, {"read-limit-size", "997"}}), single);
}

TEST(SaneSourceTest, SixteenBitSamplesAreReducedToEightBits) {
  for (const char* mode : {"Gray", "Color"}) {
    for (const char* picture : {"\"Solid white\"", "\"Solid black\""}) {
      SaneTestBackend backend(Settings{{"mode", mode}, {"depth", "16"}, {"test-picture", picture}});
      Session s(kOnlySane);
      Session::Transfer t = ScanOne(s, {Dpi(30), YDpi(30)});
      ASSERT_EQ(t.rc, TWRC_XFERDONE);
      const Header h = HeaderOf(t.dib);
      EXPECT_EQ(h.bits, std::strcmp(mode, "Gray") == 0 ? 8 : 24);
      const auto px = Pixels(t.dib);
      const std::uint8_t expected = std::strstr(picture, "white") ? 255 : 0;
      const std::size_t used = static_cast<std::size_t>(h.width) * h.bits / 8;
      std::size_t wrong = 0;
      for (int y = 0; y < h.height; ++y)
        for (std::size_t i = 0; i < used; ++i) wrong += px[y * Stride(h.width, h.bits) + i] != expected;
      EXPECT_EQ(wrong, 0u) << mode << " " << picture;
    }
  }
}

TEST(SaneSourceTest, UnknownHeightOfAHandScannerIsFoundByReading) {
  SaneTestBackend backend(Settings{{"hand-scanner", "true"}});
  Session s(kOnlySane);
  Session::Transfer t = ScanOne(s, {Dpi(50), YDpi(50), Type(TWPT_GRAY), Depth(8)});
  ASSERT_EQ(t.rc, TWRC_XFERDONE);
  EXPECT_EQ(t.info.ImageLength, -1);
  Header h = HeaderOf(t.dib);
  EXPECT_EQ(h.width, 216);  // the hand scanner's 11 cm
  EXPECT_GT(h.height, 0);
  EXPECT_EQ(platform::GlobalSize(t.dib.get()), 40 + 1024 + Stride(h.width, 8) * h.height);
}

TEST(SaneSourceTest, ResolutionIsKeptWithinTheDevicesRangeAndReadBack) {
  SaneTestBackend backend(Settings{{"resolution_max", "60.0"}, {"resolution_quant", "4.0"}, {"resolution_min", "2.0"}});
  Session s(kOnlySane);
  Session::Transfer t = ScanOne(s, {Dpi(300), YDpi(300)});
  ASSERT_EQ(t.rc, TWRC_XFERDONE);
  EXPECT_EQ(t.info.XResolution.Whole, 58);  // 2 + 14 * 4, the step nearest the limit
  EXPECT_EQ(HeaderOf(t.dib).width, 685);   // 300 mm at 58 dpi
}

TEST(SaneSourceTest, FeederGivesTenSheetsThenEndsCleanly) {
  SaneTestBackend backend;
  Session s(kOnlySane);
  s.OpenDs(kFirst);
  ASSERT_EQ(s.SetCap(ICAP_XRESOLUTION, TWTY_FIX32, 20).first, TWRC_SUCCESS);
  ASSERT_EQ(s.SetCap(CAP_FEEDERENABLED, TWTY_BOOL, 1).first, TWRC_SUCCESS);
  ASSERT_TRUE(s.Start());
  std::vector<TW_UINT16> pending;
  for (int i = 0; i < 10; ++i) {
    Session::Transfer t = s.Next();
    ASSERT_EQ(t.rc, TWRC_XFERDONE) << i;
    pending.push_back(t.pending);
  }
  EXPECT_EQ(pending, (std::vector<TW_UINT16>{1, 1, 1, 1, 1, 1, 1, 1, 1, 0}));
  EXPECT_EQ(s.Notification(), std::nullopt);
}

TEST(SaneSourceTest, TransferCountAndFlatbedLimitThePages) {
  SaneTestBackend backend;
  {
    Session s(kOnlySane);
    s.OpenDs(kFirst);
    ASSERT_EQ(s.SetCap(ICAP_XRESOLUTION, TWTY_FIX32, 20).first, TWRC_SUCCESS);
    ASSERT_EQ(s.SetCap(CAP_FEEDERENABLED, TWTY_BOOL, 1).first, TWRC_SUCCESS);
    ASSERT_EQ(s.SetCap(CAP_XFERCOUNT, TWTY_INT16, 3).first, TWRC_SUCCESS);
    ASSERT_TRUE(s.Start());
    EXPECT_EQ(s.Next().pending, 1);
    EXPECT_EQ(s.Next().pending, 1);
    EXPECT_EQ(s.Next().pending, 0);
  }
  Session s(kOnlySane);
  Session::Transfer t = ScanOne(s, {Dpi(20), Feeder(false)});
  EXPECT_EQ(t.rc, TWRC_XFERDONE);
  EXPECT_EQ(t.pending, 0);
}

TEST(SaneSourceTest, CapabilitiesTheDeviceLacksAreRefused) {
  SaneTestBackend backend;
  Session s(kOnlySane);
  s.OpenDs(kFirst);
  EXPECT_EQ(s.SetCap(CAP_DUPLEXENABLED, TWTY_BOOL, 1), std::make_pair(TWRC_FAILURE, TWCC_CAPUNSUPPORTED));
  EXPECT_EQ(s.SetCap(ICAP_LIGHTPATH, TWTY_UINT16, TWLP_TRANSMISSIVE), std::make_pair(TWRC_FAILURE, TWCC_CAPUNSUPPORTED));
  EXPECT_EQ(s.SetCap(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_PALETTE), std::make_pair(TWRC_FAILURE, TWCC_BADVALUE));
  EXPECT_EQ(s.SetCap(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_GRAY).first, TWRC_SUCCESS);
  EXPECT_EQ(s.SetCap(ICAP_BITDEPTH, TWTY_UINT16, 4), std::make_pair(TWRC_FAILURE, TWCC_BADVALUE));
  EXPECT_EQ(s.SetCap(ICAP_XRESOLUTION, TWTY_UINT16, 300), std::make_pair(TWRC_FAILURE, TWCC_BADVALUE));
  EXPECT_EQ(s.SetCap(ICAP_XFERMECH, TWTY_UINT16, 1), std::make_pair(TWRC_FAILURE, TWCC_BADVALUE));
  EXPECT_EQ(s.SetCap(CAP_DUPLEXENABLED, TWTY_BOOL, 0).first, TWRC_SUCCESS);
  EXPECT_EQ(s.SetCap(ICAP_XRESOLUTION, TWTY_FIX32, 20).first, TWRC_SUCCESS);
  ASSERT_EQ(s.Enable(), TWRC_SUCCESS);
  // Once enabled, capabilities are fixed.
  EXPECT_EQ(s.SetCap(ICAP_XRESOLUTION, TWTY_FIX32, 30), std::make_pair(TWRC_FAILURE, TWCC_SEQERROR));
  ASSERT_EQ(s.Notification(), MSG_XFERREADY);
  Session::Transfer t = s.Next();
  EXPECT_EQ(t.rc, TWRC_XFERDONE);
  EXPECT_EQ(HeaderOf(t.dib).bits, 8);
}

// The device's own dialog runs on the terminal: Enter scans, "c" or no terminal cancels.
TEST(SaneSourceTest, OwnDialogScansOnEnterAndCancelsOtherwise) {
  SaneTestBackend backend;
  testing::TempDir answers;
  answers.Write("scan", "\n");
  answers.Write("cancel", "c\n");
  const std::pair<std::string, TW_UINT16> cases[] = {
      {answers.File("scan"), MSG_XFERREADY}, {answers.File("cancel"), MSG_CLOSEDSREQ}, {"/nonexistent/tty", MSG_CLOSEDSREQ}};
  for (const auto& [tty, expected] : cases) {
    ScopedEnv terminal("LUMIPAGE_TTY", tty);
    Session s(kOnlySane);
    s.OpenDs(kFirst);
    ASSERT_EQ(s.Enable(true), TWRC_SUCCESS);
    EXPECT_EQ(s.Notification(), expected) << tty;
    if (expected == MSG_XFERREADY) {
      EXPECT_EQ(s.Next().rc, TWRC_XFERDONE);
    }
  }
}

struct StatusCase {
  const char* status;
  TW_UINT16 rc;
  TW_UINT16 condition;
};

void PrintTo(const StatusCase& c, std::ostream* os) { *os << c.status; }

class SaneStatusTest : public ::testing::TestWithParam<StatusCase> {};

// A failing read ends the page with the condition that fits; a cancel is a cancel. Either way
// nothing is pending afterwards.
TEST_P(SaneStatusTest, ReadFailureBecomesTheCondition) {
  SaneTestBackend backend(Settings{{"read-status-code", std::string("\"SANE_STATUS_") + GetParam().status + "\""}});
  Session s(kOnlySane);
  Session::Transfer t = ScanOne(s, {Dpi(20), Feeder(true)});
  EXPECT_EQ(t.rc, GetParam().rc);
  EXPECT_EQ(t.condition, GetParam().condition);
  EXPECT_FALSE(t.dib);
  EXPECT_EQ(t.pending, 0);
  TW_USERINTERFACE ui{};
  EXPECT_EQ(s.Call(&s.src_, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(Statuses, SaneStatusTest,
                         ::testing::Values(StatusCase{"JAMMED", TWRC_FAILURE, 20}, StatusCase{"COVER_OPEN", TWRC_FAILURE, 24},
                                           StatusCase{"IO_ERROR", TWRC_FAILURE, TWCC_OPERATIONERROR},
                                           StatusCase{"NO_DOCS", TWRC_FAILURE, 29},
                                           StatusCase{"DEVICE_BUSY", TWRC_FAILURE, 16},
                                           StatusCase{"NO_MEM", TWRC_FAILURE, TWCC_LOWMEMORY},
                                           StatusCase{"INVAL", TWRC_FAILURE, TWCC_BUMMER},
                                           StatusCase{"CANCELLED", TWRC_CANCEL, TWCC_SUCCESS}),
                         [](const ::testing::TestParamInfo<StatusCase>& info) { return std::string(info.param.status); });

// ---- Devices that misbehave, from a SANE library written for the purpose ----

constexpr const char* kFake = "Fake Misbehaving";

std::string FakeIni() {
  return std::string("[Sources]\nCount=0\n[Sane]\nLibrary=") + LUMIPAGE_FAKE_SANE + "\nReadTimeout=1\n";
}

TEST(SaneBadDeviceTest, DeviceGoneSinceTheListingCannotBeOpened) {
  ScopedEnv mode("FAKE_SANE_MODE", "vanish");
  Session s(FakeIni());
  s.OpenDsm();
  TW_IDENTITY id{};
  std::strcpy(id.ProductName, kFake);
  EXPECT_EQ(s.Try(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &id), std::make_pair(TWRC_FAILURE, TW_UINT16{23}));
  // The source manager is still usable.
  TW_IDENTITY def{};
  EXPECT_EQ(s.Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, &def), TWRC_SUCCESS);
}

// Options that are missing or refuse every value refuse the capabilities; the device scans with
// its own settings.
TEST(SaneBadDeviceTest, MissingOrStubbornOptionsRefuseCapabilitiesButThePageComes) {
  for (const char* mode : {"bare", "stubborn"}) {
    const bool stubborn = std::strcmp(mode, "stubborn") == 0;
    ScopedEnv env("FAKE_SANE_MODE", mode);
    Session s(FakeIni());
    s.OpenDs(kFake);
    EXPECT_EQ(s.SetCap(ICAP_XRESOLUTION, TWTY_FIX32, 300), std::make_pair(TWRC_FAILURE, TWCC_BADVALUE)) << mode;
    EXPECT_EQ(s.SetCap(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_GRAY), std::make_pair(TWRC_FAILURE, TWCC_BADVALUE)) << mode;
    EXPECT_EQ(s.SetCap(CAP_FEEDERENABLED, TWTY_BOOL, 1),
              std::make_pair(TWRC_FAILURE, stubborn ? TWCC_BADVALUE : TWCC_CAPUNSUPPORTED)) << mode;
    EXPECT_EQ(s.SetCap(CAP_FEEDERENABLED, TWTY_BOOL, 0).first, stubborn ? TWRC_FAILURE : TWRC_SUCCESS) << mode;
    ASSERT_TRUE(s.Start());
    Session::Transfer t = s.Next();
    ASSERT_EQ(t.rc, TWRC_XFERDONE) << mode;
    EXPECT_EQ(t.pending, 0);
    const Header h = HeaderOf(t.dib);
    EXPECT_EQ(h.width, 16);
    EXPECT_EQ(h.height, 4);
    EXPECT_EQ(h.bits, 8);
    EXPECT_EQ(t.info.XResolution.Whole, stubborn ? 100 : 0) << mode;
  }
}

struct BadReadCase {
  const char* mode;
  TW_UINT16 rc;
  TW_UINT16 condition;
  int height;
};

void PrintTo(const BadReadCase& c, std::ostream* os) { *os << c.mode; }

class SaneBadReadTest : public ::testing::TestWithParam<BadReadCase> {};

// Reads without data, frames cut short and frames the bridge cannot read each end in a clear
// outcome: a page, or a failed transfer with a condition; never a hang.
TEST_P(SaneBadReadTest, EndsInAClearOutcome) {
  ScopedEnv env("FAKE_SANE_MODE", GetParam().mode);
  Session s(FakeIni());
  Session::Transfer t = ScanOne(s, {}, kFake);
  EXPECT_EQ(t.rc, GetParam().rc);
  EXPECT_EQ(t.condition, GetParam().condition);
  EXPECT_EQ(t.pending, 0);
  if (GetParam().height == 0) {
    EXPECT_FALSE(t.dib);
    return;
  }
  const Header h = HeaderOf(t.dib);
  ASSERT_EQ(h.height, GetParam().height);
  // Byte i of the frame is i: row 0 (the DIB's last) starts at 0, row 3 at 48.
  const auto px = Pixels(t.dib);
  EXPECT_EQ(px[(h.height - 1) * 16], 0);
  EXPECT_EQ(px[(h.height - 1) * 16 + 15], 15);
  EXPECT_EQ(px[(h.height - 4) * 16 + 1], 49);
  // Rows that never came are white paper.
  for (int y = 0; y < h.height - 4; ++y) EXPECT_EQ(px[y * 16 + 7], 255) << y;
}

INSTANTIATE_TEST_SUITE_P(Devices, SaneBadReadTest,
                         ::testing::Values(BadReadCase{"stall", TWRC_FAILURE, 23, 0},
                                           BadReadCase{"zeroes", TWRC_XFERDONE, TWCC_SUCCESS, 4},
                                           BadReadCase{"short", TWRC_XFERDONE, TWCC_SUCCESS, 10},
                                           BadReadCase{"badline", TWRC_FAILURE, TWCC_BUMMER, 0},
                                           // A reader stopped with an asynchronous cancel while it
                                           // winds down would leave the allocator locked: a hang.
                                           BadReadCase{"reader", TWRC_FAILURE, 20, 0},
                                           BadReadCase{"jpeg", TWRC_FAILURE, TWCC_BUMMER, 0}),
                         [](const ::testing::TestParamInfo<BadReadCase>& info) { return std::string(info.param.mode); });

struct WaitCase {
  const char* name;
  const char* mode;
  const char* failures;   // FAKE_SANE_COUNT
  TW_UINT32 waitForPaper;  // seconds asked for; 0: the capability is not set
  TW_UINT32 retryBusy;
  TW_UINT16 rc;
  TW_UINT16 condition;
};

void PrintTo(const WaitCase& c, std::ostream* os) { *os << c.name; }

class SaneWaitTest : public ::testing::TestWithParam<WaitCase> {};

// An empty feeder at the first page is waited on and a busy device tried again for as long as the
// application asked; a device that fails otherwise meanwhile ends the page at once.
TEST_P(SaneWaitTest, FirstPageComesOrTheConditionIsReported) {
  const WaitCase& c = GetParam();
  ScopedEnv mode("FAKE_SANE_MODE", c.mode);
  ScopedEnv count("FAKE_SANE_COUNT", c.failures);
  Session s(FakeIni());
  Caps waits;
  if (c.waitForPaper) waits.push_back({CAP_LP_WAITFORPAPER, {TWTY_UINT16, c.waitForPaper}});
  if (c.retryBusy) waits.push_back({CAP_LP_RETRYBUSY, {TWTY_UINT16, c.retryBusy}});
  Session::Transfer t = ScanOne(s, waits, kFake);
  EXPECT_EQ(t.rc, c.rc);
  EXPECT_EQ(t.condition, c.condition);
  EXPECT_EQ(static_cast<bool>(t.dib), c.rc == TWRC_XFERDONE);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, SaneWaitTest,
    ::testing::Values(WaitCase{"PaperArrives", "nodocs", "2", 3, 0, TWRC_XFERDONE, TWCC_SUCCESS},
                      WaitCase{"NoWaitAskedFor", "nodocs", "1", 0, 0, TWRC_FAILURE, TWCC_NOMEDIA},
                      WaitCase{"PaperNeverComes", "nodocs", "1000", 1, 0, TWRC_FAILURE, TWCC_NOMEDIA},
                      WaitCase{"BusyRetriesAreNoPaperWait", "busystart", "1", 5, 0, TWRC_FAILURE, TWCC_DENIED},
                      WaitCase{"BusyDeviceFreesUp", "busystart", "2", 0, 3, TWRC_XFERDONE, TWCC_SUCCESS},
                      WaitCase{"LampWarmsUp", "warming", "1", 0, 2, TWRC_XFERDONE, TWCC_SUCCESS},
                      WaitCase{"StaysBusy", "busystart", "1000", 0, 1, TWRC_FAILURE, TWCC_DENIED},
                      WaitCase{"GoneWhileWaitedOn", "gone", "1", 3600, 3600, TWRC_FAILURE, TWCC_OPERATIONERROR}),
    [](const ::testing::TestParamInfo<WaitCase>& info) { return std::string(info.param.name); });

TEST(SaneWaitCapabilityTest, OnlyOneValueOfSecondsBeforeEnabling) {
  Session s(FakeIni());
  s.OpenDs(kFake);
  EXPECT_EQ(s.SetCap(CAP_LP_WAITFORPAPER, TWTY_INT32, 5), std::make_pair(TWRC_FAILURE, TWCC_BADVALUE));
  EXPECT_EQ(s.SetCap(CAP_LP_RETRYBUSY, TWTY_UINT16, 5, 3), std::make_pair(TWRC_FAILURE, TWCC_BADVALUE));
  EXPECT_EQ(s.SetCap(CAP_LP_RETRYBUSY, TWTY_UINT16, 65535).first, TWRC_SUCCESS);  // cut to an hour
  ASSERT_EQ(s.Enable(), TWRC_SUCCESS);
  EXPECT_EQ(s.SetCap(CAP_LP_WAITFORPAPER, TWTY_UINT16, 5), std::make_pair(TWRC_FAILURE, TWCC_SEQERROR));
}

// Opening a busy device fails at once with the busy condition, and the source manager does not
// look for the devices again for it: retrying is the application's choice.
TEST(SaneWaitCapabilityTest, BusyDeviceFailsToOpenWithTheBusyCondition) {
  ScopedEnv mode("FAKE_SANE_MODE", "busyopen");
  ScopedEnv count("FAKE_SANE_COUNT", "1");
  Session s(FakeIni());
  s.OpenDsm();
  TW_IDENTITY id{};
  std::strcpy(id.ProductName, kFake);
  EXPECT_EQ(s.Try(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &id), std::make_pair(TWRC_FAILURE, TWCC_DENIED));
  id = TW_IDENTITY{};
  std::strcpy(id.ProductName, kFake);
  EXPECT_EQ(s.Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &id), TWRC_SUCCESS);
  EXPECT_EQ(s.Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &id), TWRC_SUCCESS);
}

}  // namespace
}  // namespace lumipage
