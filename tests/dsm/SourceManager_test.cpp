// The source manager library through its one entry point: the TWAIN states and their sequence
// errors, the virtual scanners' capabilities, pages, feeder and page files, and bad settings.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <optional>
#include <string>
#include <vector>

#include "platform/GlobalMemory.h"
#include "platform/Messages.h"
#include "tests/dsm/DsmSession.h"
#include "tests/twain/TwainTestSupport.h"
#include "twain/TwainTypes.h"

namespace lumipage {
namespace {

using namespace twain;
using lumipage::testing::DrainMessages;
using lumipage::testing::ScopedEnv;
using lumipage::testing::TempDir;
using lumipage::testing::VirtualSystemFolder;
using lumipage::testing::Session;
using lumipage::testing::Header;
using lumipage::testing::HeaderOf;
using lumipage::testing::Stride;

TEST(SourceManagerTest, StatesRefuseOutOfOrderCalls) {
  Session s(std::nullopt);
  ASSERT_TRUE(s.Loaded());
  TW_IDENTITY scratch{};
  // Nothing before the source manager is opened.
  EXPECT_EQ(s.Try(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &scratch), std::make_pair(TWRC_FAILURE, TWCC_SEQERROR));
  platform::HWND none = nullptr;
  EXPECT_EQ(s.Try(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &none), std::make_pair(TWRC_FAILURE, TWCC_BADVALUE));
  s.OpenDsm();
  EXPECT_NE(s.app_.Id, 0u);
  EXPECT_EQ(s.Try(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &s.window_), std::make_pair(TWRC_FAILURE, TWCC_SEQERROR));
  s.src_ = TW_IDENTITY{};
  ASSERT_EQ(s.Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &s.src_), TWRC_SUCCESS);
  EXPECT_STREQ(s.src_.ProductName, "Virtual Scanner");
  // One source at a time; a source that is not open is no destination.
  TW_IDENTITY other{};
  EXPECT_EQ(s.Try(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &other), std::make_pair(TWRC_FAILURE, TWCC_MAXCONNECTIONS));
  other.Id = s.src_.Id + 1;
  TW_PENDINGXFERS p{};
  EXPECT_EQ(s.Try(&other, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &p), std::make_pair(TWRC_FAILURE, TWCC_BADDEST));
  // State 4: no transfers yet, and the source manager stays open while a source is.
  platform::HGLOBAL h = nullptr;
  EXPECT_EQ(s.Try(&s.src_, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &h), std::make_pair(TWRC_FAILURE, TWCC_SEQERROR));
  EXPECT_EQ(s.Try(&s.src_, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &p), std::make_pair(TWRC_FAILURE, TWCC_SEQERROR));
  TW_USERINTERFACE ui{};
  EXPECT_EQ(s.Try(&s.src_, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), std::make_pair(TWRC_FAILURE, TWCC_SEQERROR));
  EXPECT_EQ(s.Try(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &s.window_), std::make_pair(TWRC_FAILURE, TWCC_SEQERROR));
  // State 6: capabilities are fixed and the source cannot be disabled or closed mid-transfer.
  ASSERT_EQ(s.Enable(), TWRC_SUCCESS);
  EXPECT_EQ(s.Notification(), MSG_XFERREADY);
  EXPECT_EQ(s.SetCap(CAP_FEEDERENABLED, TWTY_BOOL, 1), std::make_pair(TWRC_FAILURE, TWCC_SEQERROR));
  EXPECT_EQ(s.Try(&s.src_, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), std::make_pair(TWRC_FAILURE, TWCC_SEQERROR));
  EXPECT_EQ(s.Try(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &s.src_), std::make_pair(TWRC_FAILURE, TWCC_SEQERROR));
  Session::Transfer t = s.Next();
  EXPECT_EQ(t.rc, TWRC_XFERDONE);
  EXPECT_EQ(t.pending, 0);
  // Back in state 5: reset is out of order, disabling and closing work.
  EXPECT_EQ(s.Try(&s.src_, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &p), std::make_pair(TWRC_FAILURE, TWCC_SEQERROR));
  EXPECT_EQ(s.Call(&s.src_, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
  EXPECT_EQ(s.Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &s.src_), TWRC_SUCCESS);
  EXPECT_EQ(s.Call(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &s.window_), TWRC_SUCCESS);
}

TEST(SourceManagerTest, ForeignMessagesAreNotTheSources) {
  Session s(std::nullopt);
  s.OpenDs();
  ASSERT_EQ(s.Enable(), TWRC_SUCCESS);
  platform::MSG foreign{s.window_, platform::WM_USER + 1, MSG_XFERREADY, static_cast<std::intptr_t>(s.src_.Id)};
  TW_EVENT e{&foreign, 0x1234};
  EXPECT_EQ(s.Call(&s.src_, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &e), TWRC_NOTDSEVENT);
  EXPECT_EQ(e.TWMessage, MSG_NULL);
}

TEST(SourceManagerTest, FeederCountsDownAndHonoursTheTransferCount) {
  Session s("[Source1]\nPages=5\n");
  s.OpenDs();
  EXPECT_EQ(s.SetCap(CAP_XFERCOUNT, TWTY_INT16, 3).first, TWRC_SUCCESS);
  ASSERT_TRUE(s.Start());
  std::vector<TW_UINT16> counts;
  for (int i = 0; i < 3; ++i) {
    Session::Transfer t = s.Next();
    EXPECT_EQ(t.rc, TWRC_XFERDONE);
    counts.push_back(t.pending);
  }
  EXPECT_EQ(counts, (std::vector<TW_UINT16>{2, 1, 0}));
  EXPECT_EQ(s.Notification(), std::nullopt);
}

TEST(SourceManagerTest, RefusedCapabilitiesLeaveTheSourcesSettings) {
  Session s("[Source1]\nPages=1\n");
  s.OpenDs();
  const std::pair<TW_UINT16, TW_UINT16> refused[] = {
      s.SetCap(ICAP_LIGHTPATH, TWTY_UINT16, TWLP_TRANSMISSIVE),
      s.SetCap(CAP_DUPLEXENABLED, TWTY_BOOL, 1),
      s.SetCap(ICAP_XRESOLUTION, TWTY_FIX32, 5000),
      s.SetCap(ICAP_XRESOLUTION, TWTY_UINT16, 300),
      s.SetCap(ICAP_XFERMECH, TWTY_UINT16, 1),
      s.SetCap(ICAP_BITDEPTH, TWTY_UINT16, 24),  // the default kind is true colour: 24 is fine
      s.SetCap(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_BW),
      s.SetCap(ICAP_BITDEPTH, TWTY_UINT16, 8),   // but not for black and white
      s.SetCap(ICAP_UNITS, TWTY_UINT16, 0, 3),   // not a one-value container
  };
  EXPECT_EQ(refused[0], std::make_pair(TWRC_FAILURE, TWCC_CAPUNSUPPORTED));
  EXPECT_EQ(refused[1], std::make_pair(TWRC_FAILURE, TWCC_CAPUNSUPPORTED));
  EXPECT_EQ(refused[2], std::make_pair(TWRC_FAILURE, TWCC_BADVALUE));
  EXPECT_EQ(refused[3], std::make_pair(TWRC_FAILURE, TWCC_BADVALUE));
  EXPECT_EQ(refused[4], std::make_pair(TWRC_FAILURE, TWCC_BADVALUE));
  EXPECT_EQ(refused[5].first, TWRC_SUCCESS);
  EXPECT_EQ(refused[6].first, TWRC_SUCCESS);
  EXPECT_EQ(refused[7], std::make_pair(TWRC_FAILURE, TWCC_BADVALUE));
  EXPECT_EQ(refused[8], std::make_pair(TWRC_FAILURE, TWCC_BADVALUE));
  ASSERT_TRUE(s.Start());
  Session::Transfer t = s.Next();
  Header h = HeaderOf(t.dib);
  EXPECT_EQ(h.bits, 1);
  EXPECT_EQ(h.width, 1654);  // still 200 dpi
}

struct Kind {
  TW_UINT16 pixelType, bitDepth;
  std::uint32_t colours;
  bool greyTable;
};

void PrintTo(const Kind& k, std::ostream* os) { *os << "type " << k.pixelType << " depth " << k.bitDepth; }

class PageKindTest : public ::testing::TestWithParam<Kind> {};

// Every kind a job can ask for arrives as a well-formed packed bitmap with a page on it.
TEST_P(PageKindTest, RendersAPackedBitmapOfTheKind) {
  const Kind k = GetParam();
  Session s("[Source1]\nPages=2\n");
  s.OpenDs();
  ASSERT_EQ(s.SetCap(ICAP_XRESOLUTION, TWTY_FIX32, 75).first, TWRC_SUCCESS);
  ASSERT_EQ(s.SetCap(ICAP_YRESOLUTION, TWTY_FIX32, 60u | (0x8000u << 16)).first, TWRC_SUCCESS);
  ASSERT_EQ(s.SetCap(ICAP_PIXELTYPE, TWTY_UINT16, k.pixelType).first, TWRC_SUCCESS);
  ASSERT_EQ(s.SetCap(ICAP_BITDEPTH, TWTY_UINT16, k.bitDepth).first, TWRC_SUCCESS);
  ASSERT_TRUE(s.Start());
  Session::Transfer first = s.Next();
  Session::Transfer second = s.Next();
  ASSERT_EQ(first.rc, TWRC_XFERDONE);
  ASSERT_EQ(second.rc, TWRC_XFERDONE);

  Header h = HeaderOf(first.dib);
  EXPECT_EQ(h.size, 40u);
  EXPECT_EQ(h.width, 620);   // 8.27 in at 75 dpi
  EXPECT_EQ(h.height, 707);  // 11.69 in at 60.5 dpi
  EXPECT_EQ(h.planes, 1);
  EXPECT_EQ(h.bits, k.bitDepth);
  EXPECT_EQ(h.compression, 0u);
  EXPECT_EQ(h.clrUsed, k.colours);
  EXPECT_EQ(h.xppm, 2953);   // 75 dpi
  const std::uint64_t stride = Stride(h.width, h.bits);
  EXPECT_EQ(h.sizeImage, stride * h.height);
  EXPECT_EQ(platform::GlobalSize(first.dib.get()), 40 + 4 * k.colours + stride * h.height);

  EXPECT_EQ(first.info.ImageWidth, h.width);
  EXPECT_EQ(first.info.ImageLength, h.height);
  EXPECT_EQ(first.info.BitsPerPixel, k.bitDepth);
  EXPECT_EQ(first.info.PixelType, k.pixelType);
  EXPECT_EQ(first.info.SamplesPerPixel, k.pixelType == TWPT_RGB ? 3 : 1);
  EXPECT_EQ(first.info.XResolution.Whole, 75);
  EXPECT_EQ(first.info.YResolution.Whole, 60);
  EXPECT_EQ(first.info.YResolution.Frac, 0x8000);

  platform::GlobalLockGuard a(first.dib.get());
  platform::GlobalLockGuard b(second.dib.get());
  const auto* table = a.as<std::uint8_t>() + 40;
  if (k.colours) {
    bool grey = true;
    for (std::uint32_t i = 0; i < k.colours; ++i) grey = grey && table[i * 4] == table[i * 4 + 1] && table[i * 4 + 1] == table[i * 4 + 2];
    EXPECT_EQ(grey, k.greyTable);
  }
  // Mostly white paper with a fair amount of ink, and each page its own.
  const auto* pixels = table + 4 * k.colours;
  const std::size_t bytes = stride * h.height;
  std::size_t differing = 0;
  for (std::size_t i = 0; i < bytes; ++i) differing += pixels[i] != (b.as<std::uint8_t>() + 40 + 4 * k.colours)[i];
  EXPECT_GT(differing, bytes / 1000);
  if (k.bitDepth == 1) {
    std::size_t ink = 0;
    for (int y = 0; y < h.height; ++y)
      for (int x = 0; x < h.width; ++x) ink += !(pixels[y * stride + x / 8] & (0x80 >> (x % 8)));
    const double share = static_cast<double>(ink) / (h.width * h.height);
    EXPECT_GT(share, 0.03);
    EXPECT_LT(share, 0.5);
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, PageKindTest,
                         ::testing::Values(Kind{TWPT_BW, 1, 2, true}, Kind{TWPT_GRAY, 4, 16, true},
                                           Kind{TWPT_GRAY, 8, 256, true}, Kind{TWPT_PALETTE, 4, 16, false},
                                           Kind{TWPT_PALETTE, 8, 256, false}, Kind{TWPT_RGB, 24, 0, false}));

// A BMP file image: header size 40 or larger, rows bottom-up unless topDown.
std::string Bmp(std::int32_t width, std::int32_t height, std::uint16_t bits, std::uint32_t colours, std::int32_t ppm,
                bool topDown = false, std::uint32_t headerSize = 40, std::uint32_t compression = 0) {
  const std::uint64_t stride = Stride(width, bits);
  std::string info(headerSize, '\0');
  Header h{40, width, topDown ? -height : height, 1, bits, compression, static_cast<std::uint32_t>(stride * height),
           ppm, ppm, colours, 0};
  h.size = headerSize;
  std::memcpy(info.data(), &h, sizeof h);
  std::string table;
  for (std::uint32_t i = 0; i < colours; ++i) {
    auto v = static_cast<char>(i * 255 / std::max(1u, colours - 1));
    table += std::string{v, v, v, 0};
  }
  std::string pixels(stride * height, '\0');
  for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<char>(i * 7 + 3);
  const std::uint32_t off = 14 + headerSize + static_cast<std::uint32_t>(table.size());
  const std::uint32_t fileSize = off + static_cast<std::uint32_t>(pixels.size());
  std::string file = "BM";
  file.append(reinterpret_cast<const char*>(&fileSize), 4);
  file.append(4, '\0');
  file.append(reinterpret_cast<const char*>(&off), 4);
  return file + info + table + pixels;
}

TEST(SourceManagerTest, PageFolderDeliversItsBitmapsUnchangedInNameOrder) {
  TempDir pages;
  const std::string b1 = Bmp(3, 2, 8, 256, 11811);              // 300 dpi, grey table
  const std::string b2 = Bmp(5, 3, 24, 0, 3937, true);          // 100 dpi, top-down
  const std::string b3 = Bmp(9, 4, 1, 2, 0, false, 124);        // extended header, no resolution
  pages.Write("p1.bmp", b1);
  pages.Write("p2.bmp", b2);
  pages.Write("p3.bmp", b3);
  pages.Write(".hidden", "not a page");
  Session s("[Source1]\nPageFolder=" + pages.Path() + "\n");
  s.OpenDs();
  ASSERT_TRUE(s.Start());

  Session::Transfer t1 = s.Next();
  ASSERT_EQ(t1.rc, TWRC_XFERDONE);
  EXPECT_EQ(t1.pending, 2);
  EXPECT_EQ(t1.info.PixelType, TWPT_GRAY);
  EXPECT_EQ(t1.info.XResolution.Whole, 300);
  {
    platform::GlobalLockGuard lock(t1.dib.get());
    ASSERT_EQ(lock.size(), b1.size() - 14);
    EXPECT_EQ(std::memcmp(lock.data(), b1.data() + 14, lock.size()), 0);
  }

  Session::Transfer t2 = s.Next();
  ASSERT_EQ(t2.rc, TWRC_XFERDONE);
  EXPECT_EQ(t2.info.PixelType, TWPT_RGB);
  EXPECT_EQ(t2.info.XResolution.Whole, 100);
  Header h2 = HeaderOf(t2.dib);
  EXPECT_EQ(h2.height, 3);  // turned bottom-up
  {
    platform::GlobalLockGuard lock(t2.dib.get());
    const auto* rows = lock.as<char>() + 40;
    const char* src = b2.data() + 54;
    EXPECT_EQ(std::memcmp(rows, src + 2 * 16, 16), 0);  // last file row first
    EXPECT_EQ(std::memcmp(rows + 2 * 16, src, 16), 0);
  }

  Session::Transfer t3 = s.Next();
  ASSERT_EQ(t3.rc, TWRC_XFERDONE);
  EXPECT_EQ(t3.pending, 0);
  Header h3 = HeaderOf(t3.dib);
  EXPECT_EQ(h3.size, 40u);
  EXPECT_EQ(h3.bits, 1);
  EXPECT_EQ(h3.clrUsed, 2u);
  EXPECT_EQ(t3.info.PixelType, TWPT_BW);
  EXPECT_EQ(t3.info.XResolution.Whole, 0);
  EXPECT_EQ(platform::GlobalSize(t3.dib.get()), 40u + 8 + 4 * 4);
}

struct BadFile {
  const char* name;
  std::string bytes;
};

void PrintTo(const BadFile& f, std::ostream* os) { *os << f.name; }

class BadPageFileTest : public ::testing::TestWithParam<BadFile> {};

// A file that is not a usable bitmap fails its transfer; the next file still comes.
TEST_P(BadPageFileTest, TransferFailsAndTheFeederGoesOn) {
  TempDir pages;
  pages.Write("1-bad.bmp", GetParam().bytes);
  pages.Write("2-good.bmp", Bmp(4, 4, 24, 0, 0));
  Session s("[Source1]\nPageFolder=" + pages.Path() + "\n");
  s.OpenDs();
  ASSERT_TRUE(s.Start());
  Session::Transfer bad = s.Next();
  EXPECT_EQ(bad.rc, TWRC_FAILURE);
  EXPECT_EQ(bad.condition, TWCC_OPERATIONERROR);
  EXPECT_FALSE(bad.dib);
  EXPECT_EQ(bad.pending, 1);
  Session::Transfer good = s.Next();
  EXPECT_EQ(good.rc, TWRC_XFERDONE);
}

INSTANTIATE_TEST_SUITE_P(
    Files, BadPageFileTest,
    ::testing::Values(BadFile{"Text", "plain text, not a bitmap at all, long enough to pass the size check........"},
                      BadFile{"TruncatedPixels", Bmp(40, 40, 24, 0, 0).substr(0, 200)},
                      BadFile{"TruncatedColourTable", Bmp(4, 4, 8, 256, 0).substr(0, 300)},
                      BadFile{"RunLengthCompressed", Bmp(4, 4, 8, 0, 0, false, 40, 1)},
                      BadFile{"SixteenBits", Bmp(4, 4, 16, 0, 0)},
                      BadFile{"NoWidth", Bmp(0, 4, 24, 0, 0)},
                      BadFile{"CoreHeader", Bmp(4, 4, 24, 0, 0, false, 12)},
                      BadFile{"TooManyColours", Bmp(4, 4, 4, 99, 0)},
                      BadFile{"AllOnes", std::string("BM") + std::string(60, '\xff')}),
    [](const ::testing::TestParamInfo<BadFile>& info) { return std::string(info.param.name); });

TEST(SourceManagerTest, RelativePageFolderLiesBesideTheSettingsFile) {
  Session s("[Source1]\nPageFolder=scans\n");
  const std::string folder = s.System().Folder().File("scans");
  std::filesystem::create_directory(folder);
  std::ofstream(folder + "/a.bmp", std::ios::binary) << Bmp(2, 2, 24, 0, 0);
  s.OpenDs();
  ASSERT_TRUE(s.Start());
  Session::Transfer t = s.Next();
  EXPECT_EQ(t.rc, TWRC_XFERDONE);
  EXPECT_EQ(HeaderOf(t.dib).width, 2);
}

TEST(SourceManagerTest, EmptyFeederFailsTheFirstTransferWithNoPaper) {
  TempDir empty;
  for (const std::string& ini : {"[Source1]\nPageFolder=" + empty.Path() + "\n",
                                 "[Source1]\nPageFolder=" + empty.Path() + "/missing\n", std::string("[Source1]\nPages=0\n")}) {
    Session s(ini);
    s.OpenDs();
    ASSERT_TRUE(s.Start()) << ini;
    auto t = s.Next();
    EXPECT_EQ(t.rc, TWRC_FAILURE) << ini;
    EXPECT_EQ(t.condition, TWCC_NOMEDIA) << ini;
    EXPECT_EQ(t.pending, 0) << ini;
  }
}

TEST(SourceManagerTest, UnreadablePageFileIsNamedInTheStatusText) {
  TempDir pages;
  pages.Write("a.bmp", "this is not a bitmap");
  Session s("[Source1]\nPageFolder=" + pages.Path() + "\n");
  s.OpenDs();
  ASSERT_TRUE(s.Start());
  TW_IMAGEINFO info{};
  ASSERT_EQ(s.Call(&s.src_, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_SUCCESS);
  platform::HGLOBAL h = nullptr;
  ASSERT_EQ(s.Call(&s.src_, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &h), TWRC_FAILURE);
  ASSERT_EQ(s.Condition(&s.src_), TWCC_OPERATIONERROR);
  TW_STATUSUTF8 text{};
  text.Status.ConditionCode = TWCC_OPERATIONERROR;
  ASSERT_EQ(s.Call(&s.src_, DG_CONTROL, DAT_STATUSUTF8, MSG_GET, &text), TWRC_SUCCESS);
  platform::GlobalBlock block(static_cast<platform::HGLOBAL>(text.UTF8string));
  platform::GlobalLockGuard lock(block.get());
  EXPECT_STREQ(lock.as<const char>(), ("Page file \"" + pages.Path() + "/a.bmp\": not a BMP file").c_str());
  EXPECT_EQ(text.Size, std::strlen(lock.as<const char>()) + 1);
  // The text is handed out once, and only for the condition it belongs to.
  TW_STATUSUTF8 again{};
  again.Status.ConditionCode = TWCC_OPERATIONERROR;
  EXPECT_EQ(s.Call(&s.src_, DG_CONTROL, DAT_STATUSUTF8, MSG_GET, &again), TWRC_FAILURE);
  EXPECT_EQ(again.UTF8string, nullptr);
}

struct IniCase {
  const char* name;
  std::string text;
  std::vector<std::string> names;
  int defaultIndex;  // -1: no default source
};

void PrintTo(const IniCase& c, std::ostream* os) { *os << c.name; }

class SettingsFileTest : public ::testing::TestWithParam<IniCase> {};

TEST_P(SettingsFileTest, ListsTheSourcesAndTheDefault) {
  Session s(GetParam().text);
  s.OpenDsm();
  std::vector<std::string> names;
  TW_IDENTITY id{};
  for (TW_UINT16 msg = MSG_GETFIRST; s.Call(nullptr, DG_CONTROL, DAT_IDENTITY, msg, &id) == TWRC_SUCCESS; msg = MSG_GETNEXT) {
    names.emplace_back(id.ProductName);
  }
  EXPECT_EQ(names, GetParam().names);
  TW_IDENTITY def{};
  auto [rc, cc] = s.Try(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, &def);
  if (GetParam().defaultIndex < 0) {
    EXPECT_EQ(rc, TWRC_FAILURE);
    EXPECT_EQ(cc, TWCC_NODS);
  } else {
    EXPECT_EQ(rc, TWRC_SUCCESS);
    EXPECT_EQ(std::string(def.ProductName), GetParam().names[static_cast<std::size_t>(GetParam().defaultIndex)]);
  }
}

const std::vector<std::string> kOne{"Virtual Scanner"};

INSTANTIATE_TEST_SUITE_P(
    Files, SettingsFileTest,
    ::testing::Values(IniCase{"NamedDefault", "[Sources]\nCount=3\nDefault=Flatbed\n[Source2]\nName=Flatbed\n",
                              {"Virtual Scanner", "Flatbed", "Virtual Scanner 3"}, 1},
                      IniCase{"NoSources", "[Sources]\nCount=0\n", {}, -1},
                      IniCase{"UnknownDefault", "[Sources]\nCount=2\nDefault=Nowhere\n",
                              {"Virtual Scanner", "Virtual Scanner 2"}, -1},
                      IniCase{"CountNotANumber", "[Sources]\nCount=abc\n", kOne, 0},
                      IniCase{"CountNegative", "[Sources]\nCount=-4\n", kOne, 0},
                      IniCase{"CountHuge", "[Sources]\nCount=99999999999999999999\n", kOne, 0},
                      IniCase{"LongName", "[Source1]\nName=" + std::string(60, 'n') + "\n", {std::string(32, 'n')}, 0},
                      IniCase{"Garbage", std::string("\x00\xff[[[\n=\n[Sources\nCount\n\x01", 20), kOne, 0}),
    [](const ::testing::TestParamInfo<IniCase>& info) { return std::string(info.param.name); });

TEST(SourceManagerTest, NonsenseNumbersFallBackToDefaults) {
  Session s("[Source1]\nPages=1000000\nCancelAfter=x\nFailAfter=-7\nDuplex=2\n");
  s.OpenDs();
  EXPECT_EQ(s.SetCap(CAP_DUPLEXENABLED, TWTY_BOOL, 1).second, TWCC_CAPUNSUPPORTED);
  ASSERT_TRUE(s.Start());
  Session::Transfer t = s.Next();
  EXPECT_EQ(t.rc, TWRC_XFERDONE);
  EXPECT_EQ(t.pending, 0);  // one sheet
}

TEST(SourceManagerTest, OpenByNameIgnoresLetterCaseAndRefusesUnknownNames) {
  Session s("[Sources]\nCount=2\n");
  s.OpenDsm();
  TW_IDENTITY id{};
  std::strcpy(id.ProductName, "Scanner That Is Not There");
  EXPECT_EQ(s.Try(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &id), std::make_pair(TWRC_FAILURE, TWCC_NODS));
  std::strcpy(id.ProductName, "VIRTUAL SCANNER 2");
  ASSERT_EQ(s.Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &id), TWRC_SUCCESS);
  EXPECT_STREQ(id.ProductName, "Virtual Scanner 2");
  s.src_ = id;
}

}  // namespace
}  // namespace lumipage
