#include "imaging/Canvas.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "imaging/CanvasLibraries.h"
#include "imaging/DibGraphic.h"

namespace lumipage {
namespace {

struct Box {
  std::int32_t left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
  int count = 0;
};

// Bounding box of the pixels whose colour is not `background`.
Box Changed(const TDibGraphic& image, std::uint32_t background) {
  Box b;
  for (int y = 0; y < image.Height(); ++y)
    for (int x = 0; x < image.Width(); ++x)
      if (image.GetRgbPixel(x, y) != background) {
        b.left = std::min(b.left, x);
        b.top = std::min(b.top, y);
        b.right = std::max(b.right, x + 1);
        b.bottom = std::max(b.bottom, y + 1);
        ++b.count;
      }
  return b;
}

TEST(Canvas, CaptionMetricsFollowTheCellHeight) {
  TDibGraphic page;
  page.NewImage(1654, 300, ikTrueColor, nullptr, 200, 200);
  TCanvas& c = page.Canvas();
  c.Font().Name = "Arial";
  c.Font().Height = 116;
  EXPECT_EQ(c.TextHeight("PAID"), 116);
  // Liberation Sans advances P 1366, A 1366, I 569, D 1479 units of 2048 at an em of
  // 116 * 2048 / 2288 pixels: about 242 pixels, each glyph rounded to whole pixels.
  const std::int32_t w = c.TextWidth("PAID");
  EXPECT_GE(w, 238);
  EXPECT_LE(w, 246);
  EXPECT_EQ(c.TextWidth(""), 0);
  c.Font().Height = -50;  // negative: character height
  EXPECT_GT(c.TextHeight("x"), 50);
}

TEST(Canvas, TextStandsOnAnOpaqueWhiteBoxInTheFontColour) {
  TDibGraphic page;
  page.NewImage(400, 200, ikTrueColor, nullptr, 0, 0);
  page.FillColor(0x808080);
  TCanvas& c = page.Canvas();
  c.Font().Name = "Arial";
  c.Font().Color = clRed;  // platform colour value 255
  c.Font().Height = 60;
  const std::int32_t w = c.TextWidth("PAID");
  c.TextOut(50, 40, "PAID");
  const Box b = Changed(page, 0x808080);
  EXPECT_EQ(b.left, 50);
  EXPECT_EQ(b.top, 40);
  EXPECT_EQ(b.right, 50 + w);
  EXPECT_EQ(b.bottom, 100);
  int red = 0;
  for (int y = 40; y < 100; ++y)
    for (int x = 50; x < 50 + w; ++x) {
      const std::uint32_t p = page.GetRgbPixel(x, y);
      ASSERT_TRUE(p == 0xFFFFFF || p == 0xFF0000) << std::hex << p;
      red += p == 0xFF0000;
    }
  EXPECT_GT(red, 500);
}

TEST(Canvas, ClearBrushDrawsOnlyTheGlyphs) {
  TDibGraphic page;
  page.NewImage(200, 80, ikTrueColor, nullptr, 0, 0);
  page.FillColor(0x808080);
  TCanvas& c = page.Canvas();
  c.Brush().Style = bsClear;
  c.Font().Height = 40;
  c.TextOut(10, 10, "Hi");
  const Box b = Changed(page, 0x808080);
  EXPECT_GT(b.count, 50);
  for (int y = 0; y < 80; ++y)
    for (int x = 0; x < 200; ++x) EXPECT_NE(page.GetRgbPixel(x, y), 0xFFFFFFu);
}

TEST(Canvas, PaletteImagesGetTheNearestEntryAndWideTextIsClipped) {
  TDibGraphic page;
  page.NewImage(100, 60, ikBlackWhite, nullptr, 0, 0);
  page.FillColor(0x000000);
  TCanvas& c = page.Canvas();
  c.Font().Color = clRed;  // nearest of black and white: black
  c.Font().Height = 40;
  const std::int32_t w = c.TextWidth("A rather long caption");
  ASSERT_GT(w, 100);
  c.TextOut((100 - w) / 2, 5, "A rather long caption");  // starts left of the edge
  int white = 0, black = 0;
  for (int y = 5; y < 45; ++y)
    for (int x = 0; x < 100; ++x) (page.GetPixelIndex(x, y) ? white : black)++;
  EXPECT_GT(white, 0);
  EXPECT_GT(black, 100);
  // Outside the cell rows nothing changed.
  for (int x = 0; x < 100; ++x) EXPECT_EQ(page.GetPixelIndex(x, 50), 0);
}

TEST(Canvas, Utf8AndUnknownFacesDoNotFail) {
  TDibGraphic page;
  page.NewImage(120, 40, ikGray256, nullptr, 0, 0);
  TCanvas& c = page.Canvas();
  c.Font().Name = "No Such Face 123";
  c.Font().Height = 20;
  EXPECT_GT(c.TextWidth("Gr\xC3\xBC\xC3\x9F"), 0);
  c.TextOut(0, 0, "\xC3\xA9t\xC3\xA9 \xFF\xFE");
  c.TextOut(-1000, -1000, "off the page");
  c.TextOut(119, 39, "corner");
}

bool Loaded(const char* soname) {
  void* handle = ::dlopen(soname, RTLD_NOW | RTLD_NOLOAD);
  if (handle != nullptr) ::dlclose(handle);
  return handle != nullptr;
}

// A job without a caption never loads the font libraries: their loading is a cost of every start.
TEST(CanvasLibraries, LoadedByTheFirstTextOnly) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process, whatever ran before
  EXPECT_EXIT(
      {
        const bool before = Loaded(TCanvasLibraries::kFreeTypeLibrary) || Loaded(TCanvasLibraries::kFontconfigLibrary);
        TDibGraphic page;
        page.NewImage(100, 40, ikTrueColor, nullptr, 0, 0);
        const bool measured = page.Canvas().TextWidth("A") > 0;
        const bool after = Loaded(TCanvasLibraries::kFreeTypeLibrary) && Loaded(TCanvasLibraries::kFontconfigLibrary);
        std::exit(!before && measured && after ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

// An image made before the first text and kept to the end of the process still holds its font
// face when the libraries' own static goes: the face keeps them loaded until it is freed.
TEST(CanvasLibraries, AFaceAliveAtExitEndsCleanly) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        static TDibGraphic page;
        page.NewImage(100, 40, ikTrueColor, nullptr, 0, 0);
        page.Canvas().TextOut(0, 0, "A");
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(CanvasLibraries, AMissingLibraryOrEntryPointIsNamed) {
  struct Case {
    const char* freetype;
    const char* fontconfig;
    const char* says;
  };
  const Case cases[] = {
      {"libfreetype-absent.so.6", TCanvasLibraries::kFontconfigLibrary,
       "Captions need FreeType: install the package libfreetype6 (libfreetype-absent.so.6"},
      {TCanvasLibraries::kFreeTypeLibrary, "libfontconfig-absent.so.1",
       "Captions need fontconfig: install the package libfontconfig1 (libfontconfig-absent.so.1"},
      {"libz.so.1", TCanvasLibraries::kFontconfigLibrary, "Captions cannot be drawn: libz.so.1 lacks FT_Init_FreeType"},
      {TCanvasLibraries::kFreeTypeLibrary, "libz.so.1", "Captions cannot be drawn: libz.so.1 lacks FcPatternCreate"},
  };
  for (const Case& c : cases) {
    std::string problem;
    EXPECT_EQ(TCanvasLibraries::Load(c.freetype, c.fontconfig, problem), nullptr) << c.says;
    EXPECT_EQ(problem.rfind(c.says, 0), 0u) << problem;
  }
  std::string problem;
  EXPECT_NE(TCanvasLibraries::Load(TCanvasLibraries::kFreeTypeLibrary, TCanvasLibraries::kFontconfigLibrary, problem),
            nullptr)
      << problem;
}

}  // namespace
}  // namespace lumipage
