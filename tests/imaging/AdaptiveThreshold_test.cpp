// Black and white by local threshold: ink stays black and paper white whatever the paper's shade.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>

#include "imaging/AdaptiveThresholdTransform.h"
#include "imaging/BitmapGraphic.h"
#include "imaging/DefaultPalettes.h"

namespace lumipage {
namespace {

std::uint32_t Grey(int level) {
  const auto v = static_cast<std::uint32_t>(level);
  return v | v << 8 | v << 16;
}

// Strokes 4 pixels wide every 40 pixels, across and down: a coarse stand-in for lines of text.
bool Stroke(int x, int y) { return (x % 40 >= 18 && x % 40 < 22) || (y % 40 >= 18 && y % 40 < 22); }

struct Page {
  const char* name;
  int width, height;
  std::function<int(int x, int y)> paper;  // the paper's grey level at a pixel
  int ink;
};

// Ink pixels that came out white and paper pixels that came out black.
int Misclassified(const Page& p, const TDibGraphic& bw) {
  int wrong = 0;
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) wrong += (bw.GetPixelIndex(x, y) == 0) != Stroke(x, y);
  return wrong;
}

TEST(AdaptiveThreshold, InkIsBlackAndPaperWhiteOnAnyPaper) {
  const Page pages[] = {
      {"black on white", 600, 300, [](int, int) { return 255; }, 0},
      {"faint pencil on off-white", 600, 300, [](int, int) { return 240; }, 170},
      {"dark ink on grey recycled paper", 600, 300, [](int, int) { return 150; }, 40},
      // A shadow from the binding: the paper darkens from 250 to 110 across the page.
      {"shaded from the spine", 600, 300, [](int x, int) { return 250 - 140 * x / 600; }, 30},
      {"size that is no multiple of a cell", 601, 299, [](int, int) { return 230; }, 60},
  };
  for (const Page& p : pages) {
    SCOPED_TRACE(p.name);
    TBitmapGraphic page;
    page.NewImage(p.width, p.height, ikTrueColor, nullptr, 300, 300);
    for (int y = 0; y < p.height; ++y)
      for (int x = 0; x < p.width; ++x) page.SetRgbPixel(x, y, Grey(Stroke(x, y) ? p.ink : p.paper(x, y)));
    TBitmapGraphic bw;
    TAdaptiveThresholdTransform().ApplyOnDest(page, bw);
    ASSERT_EQ(bw.ImageKind(), ikBlackWhite);
    EXPECT_EQ(bw.Width(), p.width);
    EXPECT_EQ(bw.DpiX(), 300);
    EXPECT_EQ(Misclassified(p, bw), 0);
  }
}

TEST(AdaptiveThreshold, FlatAreasKeepTheirSide) {
  struct Row {
    int level;
    int black;  // pixels of 100 x 100 that come out black
  };
  // Flat paper of any light or middle shade is white; a large dark area stays black, though
  // nothing in it is darker than its own mean.
  for (const Row r : {Row{255, 0}, Row{200, 0}, Row{128, 0}, Row{40, 10000}, Row{0, 10000}}) {
    TBitmapGraphic page;
    page.NewImage(100, 100, ikTrueColor, nullptr, 300, 300);
    page.FillColor(Grey(r.level));
    TBitmapGraphic bw;
    TAdaptiveThresholdTransform().ApplyOnDest(page, bw);
    int black = 0;
    for (int y = 0; y < 100; ++y)
      for (int x = 0; x < 100; ++x) black += bw.GetPixelIndex(x, y) == 0;
    EXPECT_EQ(black, r.black) << "level " << r.level;
  }
}

TEST(AdaptiveThreshold, PaletteImagesGiveWhatTheirColoursGive) {
  TBitmapGraphic colour, grey;
  colour.NewImage(203, 117, ikTrueColor, nullptr, 200, 200);
  grey.NewImage(203, 117, ikGray256, DefaultPalette(ikGray256), 200, 200);
  for (int y = 0; y < 117; ++y)
    for (int x = 0; x < 203; ++x) {
      const int level = (x * 7 + y * 13) % 256;
      colour.SetRgbPixel(x, y, Grey(level));
      grey.SetRgbPixel(x, y, Grey(level));
    }
  TBitmapGraphic a, b;
  TAdaptiveThresholdTransform().ApplyOnDest(colour, a);
  TAdaptiveThresholdTransform().ApplyOnDest(grey, b);
  for (int y = 0; y < 117; ++y)
    for (int x = 0; x < 203; ++x) ASSERT_EQ(a.GetPixelIndex(x, y), b.GetPixelIndex(x, y)) << x << "," << y;
}

}  // namespace
}  // namespace lumipage
