#include "app/PagePipeline.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>

#include "app/FrmScan.h"
#include "tests/support/ScriptedJob.h"
#include "imaging/BitmapGraphic.h"
#include "imaging/FileStream.h"
#include "imaging/JpegGraphic.h"
#include "imaging/TiffGraphic.h"
#include "platform/IniFile.h"
#include "tests/support/RunCommand.h"

using namespace lumipage;
using namespace lumipage::testing;

namespace {

std::string Capture(const std::string& cmd) { return RunCommand(cmd, false).output; }

struct CropCase {
  const char* name;
  TPaperMode paperMode;
  const char* scanArea;
  std::uint16_t xres, yres, pageDpiY;
  std::optional<TCropRect> expected;
};

class Crop : public ::testing::TestWithParam<CropCase> {};

TEST_P(Crop, RectangleInExtendedPrecision) {
  TJobSettings s;
  s.PaperMode = GetParam().paperMode;
  s.ScanArea = GetParam().scanArea;
  s.ScanAreaMm = ParseScanArea(s.ScanArea);
  EXPECT_EQ(CropRectangle(s, GetParam().xres, GetParam().yres, GetParam().pageDpiY), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Crop,
    ::testing::Values(CropCase{"a4_150", pmA4, "", 150, 150, 150, TCropRect{0, 0, 1241, 1753}},
                      CropCase{"a4_200", pmA4, "", 200, 200, 200, TCropRect{0, 0, 1654, 2338}},
                      CropCase{"a4_300", pmA4, "", 300, 300, 300, TCropRect{0, 0, 2481, 3507}},
                      CropCase{"letter_200", pmLetter, "", 200, 200, 200, TCropRect{0, 0, 1700, 2200}},
                      CropCase{"bank_300", pmBank, "", 300, 300, 300, TCropRect{0, 118, 2481, 3507}},
                      CropCase{"bank_top_from_page_dpi", pmBank, "", 300, 300, 200, TCropRect{0, 79, 2481, 3507}},
                      CropCase{"bank_ignores_area", pmBank, "1,1,2,2", 300, 300, 300, TCropRect{0, 118, 2481, 3507}},
                      CropCase{"area_a4_200", pmA4, "10,20,100,150", 200, 200, 200, TCropRect{79, 157, 787, 1181}},
                      CropCase{"area_empty_field", pmA4, "10,,100,150", 200, 200, 200, TCropRect{79, 0, 787, 1181}},
                      CropCase{"area_blanks_and_extra", pmLetter, " 10 , 20 ,100,150,9", 200, 200, 200,
                               TCropRect{79, 157, 787, 1181}},
                      CropCase{"area_short", pmA4, "10", 200, 200, 200, TCropRect{79, 0, 1654, 2339}},
                      CropCase{"area_without_paper_mode", pmNone, "10,20,100,150", 200, 200, 200, std::nullopt},
                      CropCase{"resolution_0", pmA4, "", 0, 200, 200, std::nullopt}),
    [](const auto& i) { return std::string(i.param.name); });

TEST(PagePipeline, SplitNext) {
  std::string s = "a,,b";
  EXPECT_EQ(SplitNext(s, ","), "a");
  EXPECT_EQ(SplitNext(s, ","), "");
  EXPECT_EQ(SplitNext(s, ","), "b");
  EXPECT_EQ(s, "");
  EXPECT_EQ(SplitNext(s, ","), "");
}

TEST(PagePipeline, DarkeningRule) {
  EXPECT_EQ(DarkenColor(0x646464), 0x141414u);  // (100, 100, 100) -> (20, 20, 20)
  EXPECT_EQ(DarkenColor(0xC89664), 0x281E14u);  // (200, 150, 100) -> (40, 30, 20)
  EXPECT_EQ(DarkenColor(0xB49681), 0xB49681u);  // sum 459 stays
  EXPECT_EQ(DarkenColor(0xB49680), 0x241E1Au);  // sum 458 darkens
  for (std::uint32_t sum = 0; sum <= 765; ++sum) {
    std::uint32_t r = std::min<std::uint32_t>(sum, 255), g = std::min<std::uint32_t>(sum - r, 255), b = sum - r - g;
    std::uint32_t c = (r << 16) | (g << 8) | b;
    EXPECT_EQ(DarkenColor(c) != c, sum <= 458 && c != 0) << sum;
  }
}

TEST(PagePipeline, DarkenFastPathMatchesReference) {
  TBitmapGraphic a, b;
  a.NewImage(97, 31, ikTrueColor, nullptr, 200, 200);
  std::mt19937 rng(7);
  for (int y = 0; y < 31; ++y)
    for (int x = 0; x < 97; ++x) a.SetRgbPixel(x, y, rng() & 0xFFFFFF);
  b.Assign(&a);
  DarkenPage(a);
  DarkenPageReference(b);
  ASSERT_EQ(a.ImageSize(), b.ImageSize());
  EXPECT_EQ(0, std::memcmp(a.Bits(), b.Bits(), a.ImageSize()));
}

// Jobs through the real controller with the scripted scanner.
class PipelineJob : public ScriptedJobTest {
 protected:
  void Run(std::vector<std::string> args, std::vector<TScriptedPage> pages,
           const std::function<void(TScriptedScanner&)>& script = {}) {
    RunJob(std::move(args), std::move(pages), script);
  }
  const TScriptedPage kSmall{120, 90, 24, 100, 100};
};

TEST_F(PipelineJob, A4CutAtThePageEdge) {
  Run({"A4"}, {TScriptedPage{1700, 2200, 24, 200, 200}});
  EXPECT_EQ(Report("Scan", "Pages"), "1");
  const TImageProps& p = form->Pages().PageTable()[1];
  EXPECT_EQ(p.Width, 1654);
  EXPECT_EQ(p.Height, 2200);
  EXPECT_EQ(p.Dpi, 200);
  EXPECT_EQ(p.PageFile, exe / "page001.jpg");
}

TEST_F(PipelineJob, ScanAreaOutsideThePageEndsTheJob) {
  Run({"A4", "ScanArea", "50,0,210,297"}, {kSmall});  // left edge 197 px on a 120 px page
  EXPECT_EQ(Report("Error", "Message"), "Invalid crop parameters");
  EXPECT_EQ(Report("Scan", "Pages"), "0");  // only stored pages count
  EXPECT_FALSE(Exists(exe / "page001.jpg"));
}

TEST_F(PipelineJob, JpegQualityIsTheLowByte) {
  Run({"jpg_quality", "300"}, {kSmall});
  EXPECT_EQ(Capture("identify -format %Q '" + exe / "page001.jpg" + "'"), "44");
}

TEST_F(PipelineJob, KindsAsTheyReachTheFiles) {
  Run({"jpg", "Mono"}, {kSmall});
  EXPECT_EQ(Capture("identify -format %[colorspace] '" + exe / "page001.jpg" + "'"), "Gray");
  Run({"tif", "Mono"}, {kSmall});
  std::string info = Capture("tiffinfo '" + exe / "page001.tif" + "' 2>/dev/null");
  EXPECT_NE(info.find("CCITT Group 4"), std::string::npos) << info;
  EXPECT_NE(info.find("Bits/Sample: 1"), std::string::npos);
  EXPECT_NE(info.find("Software: Orrinwell Limited"), std::string::npos);
  Run({"tif"}, {kSmall});
  info = Capture("tiffinfo '" + exe / "page001.tif" + "' 2>/dev/null");
  EXPECT_NE(info.find("PackBits"), std::string::npos) << info;
  EXPECT_NE(info.find("Samples/Pixel: 3"), std::string::npos);
  Run({"bmp", "ScanMono"}, {TScriptedPage{120, 90, 1, 100, 100}});
  TBitmapGraphic bmp;
  bmp.LoadFromFile(exe / "page001.bmp");
  EXPECT_EQ(bmp.ImageKind(), ikBlackWhite);  // saved in the kind the scanner delivered
  Run({"pdf", "Mono"}, {kSmall});
  EXPECT_EQ(form->Pages().PageTable()[1].PageFile.substr(form->Pages().PageTable()[1].PageFile.size() - 4), ".tif");
}

int TiffPages(const std::string& name) {
  TFileStream stream(name, fmOpenRead);
  TTiffGraphic tiff;
  return tiff.GetImageCount(stream);
}

TEST_F(PipelineJob, MultiPageTiffWithAndWithoutAppend) {
  Run({"multi_tif"}, {kSmall, kSmall});
  EXPECT_EQ(TiffPages(exe / "pages.tif"), 2);
  EXPECT_EQ(form->Pages().PageTable()[2].PageFile, "");
  Run({"multi_tif", "append"}, {kSmall, kSmall, kSmall});
  EXPECT_EQ(TiffPages(exe / "pages.tif"), 5);
  EXPECT_EQ(Report("Scan", "Pages"), "3");  // only this job's pages
  Run({"multi_tif"}, {kSmall});
  EXPECT_EQ(TiffPages(exe / "pages.tif"), 1);  // without append the first page starts anew
  std::string info = Capture("tiffinfo '" + exe / "pages.tif" + "' 2>&1");
  EXPECT_EQ(info.find("Error"), std::string::npos) << info;
}

TEST_F(PipelineJob, CaptionIsRedNearTheTopCentre) {
  Run({"bmp", "Banner", "PAID"}, {TScriptedPage{400, 600, 24, 100, 100}});
  TBitmapGraphic page;
  page.LoadFromFile(exe / "page001.bmp");
  int red = 0;
  // Font height 30, drawn from y = 30: look for pure red in the cell around the centre.
  for (int y = 30; y < 60; ++y)
    for (int x = 150; x < 250; ++x)
      if (page.GetRgbPixel(x, y) == 0xFF0000) ++red;
  EXPECT_GT(red, 50);
  for (int x = 0; x < 400; ++x) EXPECT_NE(page.GetRgbPixel(x, 100), 0xFF0000u);
}

TEST_F(PipelineJob, FailingSaveKeepsEarlierPages) {
  std::filesystem::create_directory(exe / "page002.jpg");  // the second page cannot be written
  Run({}, {kSmall, kSmall, kSmall});
  EXPECT_NE(Report("Error", "Message"), "<none>");
  EXPECT_EQ(Report("Scan", "Pages"), "1");  // only stored pages count
  EXPECT_TRUE(Exists(exe / "page001.jpg"));
  EXPECT_FALSE(Exists(exe / "page003.jpg"));
}

TEST_F(PipelineJob, NamedPagesAndBankStatement) {
  Run({"filename", exe / "out/doc.pdf", "Bank"}, {TScriptedPage{2550, 3600, 24, 300, 300}, kSmall});
  EXPECT_TRUE(Exists(exe / "out/doc.jpg"));
  EXPECT_TRUE(Exists(exe / "out/doc_02.jpg"));
  EXPECT_EQ(form->Pages().PageTable()[1].Width, 2481);
  EXPECT_EQ(form->Pages().PageTable()[1].Height, 3389);
}

// ---- The check of the multi-page TIFF ----

uint32_t Get32(const std::string& b, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(b[at + static_cast<size_t>(i)]);
  return v;
}

// Offset of the last directory of a little-endian classic TIFF.
size_t LastDirectory(const std::string& b) {
  size_t at = Get32(b, 4);
  for (uint32_t next; (next = Get32(b, at + 2 + 12 * static_cast<size_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8))) != 0;)
    at = next;
  return at;
}

// The value of tag in the directory at dir, plus one.
void BumpTag(std::string& b, size_t dir, uint16_t tag) {
  const size_t count = static_cast<uint8_t>(b[dir]) | static_cast<uint8_t>(b[dir + 1]) << 8;
  for (size_t i = 0; i < count; ++i) {
    const size_t entry = dir + 2 + 12 * i;
    if ((static_cast<uint8_t>(b[entry]) | static_cast<uint8_t>(b[entry + 1]) << 8) == tag) ++b[entry + 8];
  }
}

struct TiffDamageCase {
  const char* name;
  bool append;
  int write;  // the job's write that is damaged (1: its first page)
  std::function<void(std::string& bytes, size_t oldSize)> damage;
  const char* failure;
  int pagesStored;  // by the damaged job
  int pagesInFile;  // afterwards
};

void PrintTo(const TiffDamageCase& c, std::ostream* os) { *os << c.name; }

class DamagedTiff : public PipelineJob, public ::testing::WithParamInterface<TiffDamageCase> {};

TEST_P(DamagedTiff, IsCutBackToTheLastPageThatReadsBack) {
  const TiffDamageCase& c = GetParam();
  const std::string tif = exe / "pages.tif";
  Run({"multi_tif"}, {kSmall, kSmall});
  const std::string before = ReadText(tif);
  int writes = 0;
  onWritten = [&](const std::string& file) {
    if (++writes != c.write) return;
    std::string bytes = ReadText(file);
    ASSERT_EQ(bytes.substr(0, 4), std::string("II*\0", 4));
    c.damage(bytes, before.size());
    // In place: the job holds the appended file open.
    FILE* f = std::fopen(file.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    std::filesystem::resize_file(file, bytes.size());
  };
  Run(c.append ? std::vector<std::string>{"multi_tif", "append"} : std::vector<std::string>{"multi_tif"},
      {kSmall, kSmall});
  EXPECT_EQ(Report("Error", "Message"), std::string("The saved TIFF could not be verified: ") + c.failure);
  EXPECT_EQ(Report("Scan", "Pages"), std::to_string(c.pagesStored));
  EXPECT_EQ(TiffPages(tif), c.pagesInFile);
  if (c.pagesStored == 0) {
    EXPECT_EQ(ReadText(tif), before);
  }
  std::string info = Capture("tiffinfo '" + tif + "' 2>&1");
  EXPECT_EQ(info.find("Error"), std::string::npos) << info;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedTiff,
    ::testing::Values(
        TiffDamageCase{"appended_page_cut_off", true, 1, [](std::string& b, size_t old) { b.resize(old); },
                       "it has 2 pages instead of 3", 0, 2},
        TiffDamageCase{"appended_page_of_another_width", true, 1,
                       [](std::string& b, size_t) { BumpTag(b, LastDirectory(b), 256); },
                       "page 3 is 121 x 90 pixels instead of 120 x 90", 0, 2},
        // The job's second page counts on from its first.
        TiffDamageCase{"second_appended_page_cut_short", true, 2,
                       [](std::string& b, size_t) { b.resize(b.size() - 300); }, "it has 3 pages instead of 4", 1, 3},
        TiffDamageCase{"appended_directory_empty", true, 1,
                       [](std::string& b, size_t) { b[LastDirectory(b)] = b[LastDirectory(b) + 1] = 0; },
                       "page 3 cannot be read", 0, 2},
        TiffDamageCase{"new_file_unreadable", false, 1, [](std::string& b, size_t) { b.resize(8); },
                       "it has 0 pages instead of 1", 0, 2},
        TiffDamageCase{"second_page_of_a_new_file", false, 2, [](std::string& b, size_t) { b.resize(b.size() - 300); },
                       "it has 1 page instead of 2", 1, 1}),
    [](const auto& i) { return std::string(i.param.name); });

}  // namespace
