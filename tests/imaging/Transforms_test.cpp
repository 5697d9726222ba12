#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <stdexcept>
#include <string>
#include <vector>

#include "ImagingTestUtil.h"
#include "imaging/BitmapGraphic.h"
#include "imaging/CropTransform.h"
#include "imaging/DefaultPalettes.h"
#include "imaging/ImageFormatTransform.h"
#include "imaging/NegativeTransform.h"
#include "imaging/RowDither.h"

namespace lumipage {
namespace {

using testing::FillPage;
using testing::PageKind;
using testing::PixelBytes;

void Uniform(TDibGraphic& image, std::int32_t w, std::int32_t h, std::uint32_t color) {
  image.NewImage(w, h, ikTrueColor, nullptr, 300, 300);
  image.FillColor(color);
}

std::string BlackWhiteRow(const TDibGraphic& image, std::int32_t y) {
  std::string s;
  for (std::int32_t x = 0; x < image.Width(); ++x) s += image.GetPixelIndex(x, y) ? 'W' : 'B';
  return s;
}

// --- Crop ----------------------------------------------------------------------------------

TEST(Crop, RectangleIsCutAtTheEdges) {
  TDibGraphic page;
  page.NewImage(2400, 3300, ikTrueColor, nullptr, 300, 300);
  page.SetRgbPixel(2399, 3299, 0x112233);
  TCropTransform crop;
  crop.CropMode = cmRectangle;
  crop.Right = 2480;
  crop.Bottom = 3508;
  crop.Apply(page);
  EXPECT_EQ(page.Width(), 2400);
  EXPECT_EQ(page.Height(), 3300);
  EXPECT_EQ(page.GetRgbPixel(2399, 3299), 0x112233u);
  EXPECT_EQ(page.DpiX(), 300);
}

struct InvalidCropCase {
  std::uint8_t mode;
  std::int32_t left, top, right, bottom;
};
class InvalidCrop : public ::testing::TestWithParam<InvalidCropCase> {};

TEST_P(InvalidCrop, RaisesAndLeavesImageUnchanged) {
  const InvalidCropCase c = GetParam();
  TBitmapGraphic page;
  Uniform(page, 100, 50, 0x808080);
  TCropTransform crop;
  crop.CropMode = c.mode;
  crop.Left = c.left;
  crop.Top = c.top;
  crop.Right = c.right;
  crop.Bottom = c.bottom;
  try {
    crop.Apply(page);
    FAIL();
  } catch (const EOvinexError& e) {
    EXPECT_STREQ(e.what(), "Invalid crop parameters");
  }
  EXPECT_EQ(page.Width(), 100);
  EXPECT_EQ(page.Height(), 50);
}

INSTANTIATE_TEST_SUITE_P(Cases, InvalidCrop,
                         ::testing::Values(InvalidCropCase{cmRectangle, 0, 0, 0, 3508},     // right 0
                                           InvalidCropCase{cmRectangle, 10, 0, 10, 20},     // right = left
                                           InvalidCropCase{cmRectangle, 0, 30, 50, 29},     // bottom < top
                                           InvalidCropCase{cmMargins, 60, 0, 40, 0},        // margins overlap
                                           InvalidCropCase{cmRectangle, 100, 0, 200, 20},   // left outside
                                           InvalidCropCase{cmRectangle, 0, 60, 20, 80},     // top outside
                                           InvalidCropCase{cmRectangle, -1, 0, 20, 20}));   // negative left

TEST(Crop, MarginsKeepTheInnerRectangle) {
  TDibGraphic page;
  FillPage(page, 100, 50, PageKind::Noise);
  TCropTransform crop;
  crop.Top = crop.Left = crop.Bottom = crop.Right = 10;
  TDibGraphic out;
  crop.ApplyOnDest(page, out);
  EXPECT_EQ(out.Width(), 80);
  EXPECT_EQ(out.Height(), 30);
  EXPECT_EQ(out.GetRgbPixel(0, 0), page.GetRgbPixel(10, 10));
  EXPECT_EQ(out.GetRgbPixel(79, 29), page.GetRgbPixel(89, 39));
}

TEST(Crop, PaletteAndIndicesStayExactWithDuplicateEntries) {
  TLogPalette p = *DefaultPalette(ikColor256);
  p.palPalEntry[200] = p.palPalEntry[7];  // the same colour twice
  TDibGraphic page;
  page.NewImage(20, 10, ikColor256, &p, 0, 0);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 20; ++x) page.SetPixelIndex(x, y, (x + y) % 2 ? 200 : 7);
  TCropTransform crop;
  crop.CropMode = cmRectangle;
  crop.Left = 3;
  crop.Top = 2;
  crop.Right = 9;
  crop.Bottom = 7;
  crop.Apply(page);
  ASSERT_EQ(page.Width(), 6);
  EXPECT_EQ(page.LogPalette().palPalEntry[200].peRed, p.palPalEntry[7].peRed);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x) EXPECT_EQ(page.GetPixelIndex(x, y), (x + 3 + y + 2) % 2 ? 200 : 7);
}

// Row copies give the same bytes as the per-pixel reference, for every kind and odd offsets
// (sub-byte positions of 1- and 4-bit pixels).
TEST(Crop, RowCopiesMatchThePixelReference) {
  for (int k = 0; k <= 5; ++k) {
    TDibGraphic page;
    FillPage(page, 61, 23, PageKind::Noise, 7);
    TImageFormatTransform convert;
    convert.TargetKind = static_cast<TImageKind>(k);
    convert.Apply(page);
    for (std::int32_t left : {0, 1, 3, 5, 8, 9}) {
      TCropTransform crop;
      crop.CropMode = cmRectangle;
      crop.Left = left;
      crop.Top = 2;
      crop.Right = left + 37;
      crop.Bottom = 30;
      TDibGraphic fast, reference;
      crop.ApplyOnDest(page, fast);
      crop.ApplyOnDestReference(page, reference);
      EXPECT_EQ(PixelBytes(fast), PixelBytes(reference)) << "kind " << k << " left " << left;
    }
  }
}

// --- Format conversion: error diffusion -----------------------------------------------------------

TEST(Dither, UniformMidGreyToBlackAndWhite) {
  TDibGraphic page;
  Uniform(page, 10, 3, 0x808080);
  TImageFormatTransform t;
  t.TargetKind = ikBlackWhite;
  TDibGraphic out;
  t.ApplyOnDest(page, out);
  EXPECT_EQ(BlackWhiteRow(out, 0), "WWBWBWBWBW");
}

TEST(Dither, LightGreyAllWhiteDarkGreyFirstRowBlack) {
  TImageFormatTransform t;
  t.TargetKind = ikBlackWhite;
  TDibGraphic light, dark, out;
  Uniform(light, 12, 6, 0xC8C8C8);
  t.ApplyOnDest(light, out);
  for (int y = 0; y < 6; ++y) EXPECT_EQ(BlackWhiteRow(out, y), std::string(12, 'W'));
  Uniform(dark, 12, 6, 0x3C3C3C);
  t.ApplyOnDest(dark, out);
  EXPECT_EQ(BlackWhiteRow(out, 0), std::string(12, 'B'));
}

TEST(Dither, ColouredUniformToGrey256) {
  TDibGraphic page;
  Uniform(page, 8, 4, 0x6496C8);  // (100, 150, 200)
  TImageFormatTransform t;
  t.TargetKind = ikGray256;
  TDibGraphic out;
  t.ApplyOnDest(page, out);
  ASSERT_EQ(out.ImageKind(), ikGray256);
  for (int x = 0; x < 8; ++x) EXPECT_EQ(out.GetPixelIndex(x, 0), 150) << x;
  // Only the positive blue error reaches the rows below, so they come out lighter.
  for (int y = 1; y < 4; ++y)
    for (int x = 0; x < 8; ++x) {
      EXPECT_GE(out.GetPixelIndex(x, y), 152) << x << "," << y;
      EXPECT_LE(out.GetPixelIndex(x, y), 164) << x << "," << y;
    }
}

struct FastCase {
  PageKind page;
  TImageKind target;
  std::int32_t width;
  std::int32_t height;
};
class DitherFastPath : public ::testing::TestWithParam<FastCase> {};

// The row-wise dither is byte-identical to the pixel-routine reference.
TEST_P(DitherFastPath, MatchesReference) {
  const FastCase c = GetParam();
  TDibGraphic page;
  FillPage(page, c.width, c.height, c.page, 11);
  TImageFormatTransform t;
  t.TargetKind = c.target;
  TDibGraphic fast, reference;
  t.ApplyOnDest(page, fast);
  t.UseFastPaths = false;
  t.ApplyOnDest(page, reference);
  ASSERT_EQ(fast.ImageKind(), c.target);
  EXPECT_EQ(PixelBytes(fast), PixelBytes(reference));
}

INSTANTIATE_TEST_SUITE_P(
    Pages, DitherFastPath,
    ::testing::Values(FastCase{PageKind::Text, ikBlackWhite, 413, 157}, FastCase{PageKind::Gradient, ikBlackWhite, 300, 200},
                      FastCase{PageKind::Noise, ikBlackWhite, 257, 97}, FastCase{PageKind::Text, ikGray256, 413, 157},
                      FastCase{PageKind::Gradient, ikGray256, 301, 211}, FastCase{PageKind::Noise, ikGray256, 129, 65},
                      FastCase{PageKind::Noise, ikBlackWhite, 1, 5}, FastCase{PageKind::Noise, ikBlackWhite, 2, 5},
                      FastCase{PageKind::Noise, ikBlackWhite, 3, 1}, FastCase{PageKind::Noise, ikGray256, 1, 3},
                      FastCase{PageKind::Noise, ikGray256, 2, 2}, FastCase{PageKind::Gradient, ikGray256, 3, 9},
                      // Pages large enough for two threads where the machine has cores to spare.
                      FastCase{PageKind::Text, ikBlackWhite, 1237, 1001}, FastCase{PageKind::Gradient, ikGray256, 1601, 700}));

// Two threads dither alternate rows, each behind the other: the same bytes as one thread, rows
// reported in the same order (odd and even heights, widths that are no multiple of their step);
// an exception from a row's report (an interrupted job) stops both threads at once.
TEST(Dither, TwoThreadsGiveOneThreadsBytes) {
  const struct {
    PageKind kind;
    TImageKind target;
    std::int32_t width, height;
  } cases[] = {{PageKind::Text, ikBlackWhite, 1237, 1001}, {PageKind::Noise, ikBlackWhite, 3000, 6},
               {PageKind::Gradient, ikGray256, 1601, 700}, {PageKind::Noise, ikGray256, 2, 9}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.width);
    TDibGraphic page, one, two;
    FillPage(page, c.width, c.height, c.kind, 5);
    one.NewImage(c.width, c.height, c.target, nullptr, 300, 300);
    two.NewImage(c.width, c.height, c.target, nullptr, 300, 300);
    std::vector<std::int32_t> rowsOne, rowsTwo;
    DitherRowsOneThread(page, one, c.target == ikBlackWhite, [&](std::int32_t y) { rowsOne.push_back(y); });
    DitherRowsTwoThreads(page, two, c.target == ikBlackWhite, [&](std::int32_t y) { rowsTwo.push_back(y); });
    EXPECT_EQ(PixelBytes(one), PixelBytes(two));
    EXPECT_EQ(rowsOne, rowsTwo);
  }
  TDibGraphic page, out;
  FillPage(page, 1400, 1200, PageKind::Text, 3);
  out.NewImage(1400, 1200, ikBlackWhite, nullptr, 300, 300);
  std::int32_t last = -1;
  EXPECT_THROW(DitherRowsTwoThreads(page, out, true,
                                    [&](std::int32_t y) {
                                      last = y;
                                      if (y == 500) throw std::runtime_error("stop");
                                    }),
               std::runtime_error);
  EXPECT_EQ(last, 500);
}

TEST(Dither, ProgressRunsFromHalfWayWhenQuantisingIsOn) {
  TDibGraphic page;
  Uniform(page, 4, 11, 0x808080);
  TImageFormatTransform t;
  t.TargetKind = ikBlackWhite;
  std::vector<int> seen;
  t.ProgressCallback = [&](const void*, std::uint8_t p) { seen.push_back(p); };
  TDibGraphic out;
  t.ApplyOnDest(page, out);
  ASSERT_GE(seen.size(), 3u);
  EXPECT_EQ(seen.front(), 0);
  EXPECT_EQ(seen[1], 50);
  EXPECT_EQ(seen.back(), 100);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
}

TEST(FormatConversion, ApplyWithSameKindLeavesImageAndApplyOnDestCopies) {
  TDibGraphic page;
  FillPage(page, 9, 4, PageKind::Noise);
  const std::uint8_t* bits = page.Bits();
  TImageFormatTransform t;  // true colour
  t.Apply(page);
  EXPECT_EQ(page.Bits(), bits);
  TDibGraphic copy;
  t.ApplyOnDest(page, copy);
  EXPECT_EQ(PixelBytes(copy), PixelBytes(page));
  EXPECT_NE(copy.Bits(), page.Bits());
}

TEST(FormatConversion, WithoutDitherMapsToNearestColour) {
  TDibGraphic page;
  page.NewImage(3, 1, ikTrueColor, nullptr, 0, 0);
  page.SetRgbPixel(0, 0, 0x7F7F7F);
  page.SetRgbPixel(1, 0, 0x7F8080);
  page.SetRgbPixel(2, 0, 0xFFFFFF);
  TImageFormatTransform t;
  t.TargetKind = ikBlackWhite;
  t.DitherEnabled = false;
  TDibGraphic out;
  t.ApplyOnDest(page, out);
  EXPECT_EQ(BlackWhiteRow(out, 0), "BWW");
  // And back to true colour: palette pixels expand to their colours exactly.
  TImageFormatTransform back;
  TDibGraphic tc;
  back.ApplyOnDest(out, tc);
  EXPECT_EQ(tc.GetRgbPixel(0, 0), 0u);
  EXPECT_EQ(tc.GetRgbPixel(1, 0), 0xFFFFFFu);
}

// Row copies without dithering give the bytes of the per-pixel copy, also with set fill bits
// in the source and with a palette holding one colour twice (whose pixels move to the first).
TEST(FormatConversion, PlainRowCopiesMatchThePixelReference) {
  for (int k = 0; k <= 5; ++k) {
    TDibGraphic page;
    FillPage(page, 13, 5, PageKind::Noise, 3);
    TImageFormatTransform to;
    to.TargetKind = static_cast<TImageKind>(k);
    to.QuantizeEnabled = false;
    to.Apply(page);
    TNegativeTransform neg;
    neg.Apply(page);  // grey and black-and-white rows get their fill bits set
    for (bool duplicate : {false, true}) {
      TImageFormatTransform t;
      t.TargetKind = page.ImageKind();
      t.DitherEnabled = false;
      t.QuantizeEnabled = false;
      TDibGraphic source;
      source.Assign(&page);
      if (duplicate && k != ikTrueColor) {
        TLogPalette p = source.LogPalette();
        p.palPalEntry[1] = p.palPalEntry[0];
        const std::vector<std::uint8_t> bytes = PixelBytes(source);
        source.NewImage(13, 5, source.ImageKind(), &p, 0, 0);
        std::copy(bytes.begin(), bytes.end(), source.Bits());
      }
      t.CustomPalette = source.LogPalette();
      TDibGraphic fast, reference;
      t.ApplyOnDest(source, fast);
      t.UseFastPaths = false;
      t.ApplyOnDest(source, reference);
      EXPECT_EQ(PixelBytes(fast), PixelBytes(reference)) << "kind " << k << " duplicate " << duplicate;
    }
  }
}

// A drawn page turned into the kind, inverted when asked (its rows' fill bits are then set).
void MakeKindOfPage(TDibGraphic& page, std::int32_t width, std::int32_t height, PageKind drawn, std::uint32_t seed,
                    TImageKind kind, bool negative) {
  FillPage(page, width, height, drawn, seed);
  TImageFormatTransform to;
  to.TargetKind = kind;
  to.Apply(page);
  if (!negative) return;
  TNegativeTransform neg;
  neg.Apply(page);
}

// The transform's fast paths give the bytes of its pixel routines.
void ExpectFastPathsMatchTheReference(const TDibGraphic& page, TImageFormatTransform& t) {
  TDibGraphic fast, reference;
  t.ApplyOnDest(page, fast);
  t.UseFastPaths = false;
  t.ApplyOnDest(page, reference);
  EXPECT_EQ(PixelBytes(fast), PixelBytes(reference));
}

// Palette images copied into every other kind without dithering (a line-art page stored in
// colour or as grey levels): each index's result once, the reference's bytes for every pixel,
// with odd widths and set fill bits.
TEST(FormatConversion, PaletteImagesCopyIntoEveryKindAsThePixelRoutinesDo) {
  for (int from = ikBlackWhite; from < ikTrueColor; ++from) {
    for (int into = ikBlackWhite; into <= ikTrueColor; ++into) {
      SCOPED_TRACE(std::to_string(from) + " to " + std::to_string(into));
      TDibGraphic page;
      MakeKindOfPage(page, 37, 9, PageKind::Noise, 7, static_cast<TImageKind>(from), true);
      TImageFormatTransform t;
      t.TargetKind = static_cast<TImageKind>(into);
      t.DitherEnabled = false;
      t.QuantizeEnabled = false;
      ExpectFastPathsMatchTheReference(page, t);
    }
  }
}

// A source whose colours are all in the target's palette (a black-and-white scan stored black
// and white, a grey page stored grey) is dithered by a copy: the reference's bytes, also with
// set fill bits and an inverted palette; a source with colours outside the palette is dithered.
TEST(FormatConversion, DitherIntoAPaletteHoldingEverySourceColourIsACopy) {
  const struct {
    TImageKind source, target;
    bool negative;
  } cases[] = {{ikBlackWhite, ikBlackWhite, false}, {ikBlackWhite, ikBlackWhite, true},
               {ikBlackWhite, ikGray256, false},    {ikGray256, ikGray256, true},
               {ikGray16, ikGray256, false},        {ikGray16, ikBlackWhite, false},
               {ikGray256, ikBlackWhite, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.source) + " to " + std::to_string(c.target) + (c.negative ? " negative" : ""));
    TDibGraphic page;
    MakeKindOfPage(page, 413, 157, PageKind::Text, 5, c.source, c.negative);
    TImageFormatTransform t;
    t.TargetKind = c.target;
    ExpectFastPathsMatchTheReference(page, t);
  }
}

TEST(FormatConversion, InPlaceKeepsTheImageClass) {
  TBitmapGraphic page;
  FillPage(page, 5, 5, PageKind::Gradient);
  TImageFormatTransform t;
  t.TargetKind = ikGray16;
  t.Apply(page);
  EXPECT_EQ(page.ImageKind(), ikGray16);
  EXPECT_STREQ(page.ClassName(), "TBitmapGraphic");
}

// --- Quantiser ---------------------------------------------------------------------------------------

TEST(Quantize, FewColoursLeaveTheRestOfThePaletteBlack) {
  TDibGraphic page;
  page.NewImage(4, 4, ikTrueColor, nullptr, 0, 0);
  page.FillColor(0xFF0000);
  for (int x = 0; x < 4; ++x) page.SetRgbPixel(x, 1, 0x0000FF);
  for (int x = 0; x < 4; ++x) page.SetRgbPixel(x, 2, 0x00FF00);
  page.SetRgbPixel(0, 3, 0x123456);  // 1 and 2 pixels: not above the threshold of 2
  page.SetRgbPixel(1, 3, 0x654321);
  page.SetRgbPixel(2, 3, 0x654321);
  TImageFormatTransform t;
  t.TargetKind = ikColor16;
  TDibGraphic out;
  t.ApplyOnDest(page, out);
  const TLogPalette& p = out.LogPalette();
  ASSERT_EQ(p.palNumEntries, 16);
  // In bucket order: red (index 31), green (992), blue (31744); low three bits cleared.
  const std::uint8_t want[3][3] = {{248, 0, 0}, {0, 248, 0}, {0, 0, 248}};
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(p.palPalEntry[k].peRed, want[k][0]);
    EXPECT_EQ(p.palPalEntry[k].peGreen, want[k][1]);
    EXPECT_EQ(p.palPalEntry[k].peBlue, want[k][2]);
  }
  for (int k = 3; k < 16; ++k) EXPECT_EQ(p.palPalEntry[k].peRed + p.palPalEntry[k].peGreen + p.palPalEntry[k].peBlue, 0);
  EXPECT_EQ(t.CustomPalette.palNumEntries, 16);
  // The palette is kept: a later conversion without quantising uses it.
  t.QuantizeEnabled = false;
  TDibGraphic again;
  t.ApplyOnDest(page, again);
  EXPECT_EQ(again.LogPalette().palPalEntry[1].peGreen, 248);
}

// The selection written out literally: full scores recomputed for every candidate.
std::vector<std::array<int, 3>> LiteralSelection(const TDibGraphic& image, unsigned n, std::size_t& candidates) {
  std::vector<unsigned> hist(32768, 0);
  unsigned distinct = 0;
  for (int y = 0; y < image.Height(); ++y)
    for (int x = 0; x < image.Width(); ++x) {
      const std::uint32_t c = image.GetRgbPixel(x, y);
      unsigned& h = hist[((c >> 16) & 255) / 8 + (((c >> 8) & 255) / 8) * 32 + ((c & 255) / 8) * 1024];
      if (h == 0) ++distinct;
      if (h < 65535) ++h;
    }
  const unsigned t = distinct < 1250 ? 2 : distinct < 2500 ? 5 : distinct <= 4999 ? 10 : distinct <= 9999 ? 15 : 20;
  std::vector<std::array<int, 3>> c;
  for (unsigned i = 0; i < 32768; ++i)
    if (hist[i] > t) c.push_back({static_cast<int>(i % 32) * 8, static_cast<int>(i / 32 % 32) * 8, static_cast<int>(i / 1024) * 8});
  auto dist = [](const std::array<int, 3>& a, const std::array<int, 3>& b) {
    return (a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]);
  };
  candidates = c.size();
  if (c.size() > n) {
    std::size_t w = 0;
    for (std::size_t j = 1; j < c.size(); ++j)
      if (dist(c[j], {255, 255, 255}) < dist(c[w], {255, 255, 255})) w = j;
    std::swap(c[0], c[w]);
    for (std::size_t i = 1; i < n; ++i) {
      long long best = 1LL << 30;
      std::size_t chosen = i;
      for (std::size_t j = i; j < c.size(); ++j) {
        long long s = 0;
        for (std::size_t k = 0; k < i; ++k) {
          const int d = dist(c[j], c[k]);
          if (d == 0) { s = 1LL << 30; break; }
          s += (1LL << 30) / d;
        }
        if (s < best) { best = s; chosen = j; }
      }
      std::swap(c[i], c[chosen]);
    }
  }
  c.resize(n, {0, 0, 0});
  return c;
}

TEST(Quantize, SelectionMatchesTheLiteralAlgorithm) {
  std::size_t most = 0;
  for (PageKind kind : {PageKind::Gradient, PageKind::Noise, PageKind::Text}) {
    TDibGraphic page;
    FillPage(page, 90, 70, kind, 5);
    for (unsigned n : {16u, 256u}) {
      TImageFormatTransform t;
      t.TargetKind = n == 16 ? ikColor16 : ikColor256;
      TDibGraphic out;
      t.ApplyOnDest(page, out);
      std::size_t m = 0;
      const auto want = LiteralSelection(page, n, m);
      most = std::max(most, m);
      for (unsigned k = 0; k < n; ++k) {
        const TPaletteEntry& e = out.LogPalette().palPalEntry[k];
        ASSERT_EQ((std::array<int, 3>{e.peRed, e.peGreen, e.peBlue}), want[k]) << "entry " << k << " of " << n;
      }
    }
  }
  EXPECT_GT(most, 256u);  // the selection itself ran
}

// --- Negative ----------------------------------------------------------------------------------------

TEST(Negative, InvertsByKind) {
  TDibGraphic bw;
  bw.NewImage(3, 1, ikBlackWhite, nullptr, 0, 0);
  bw.SetPixelIndex(1, 0, 1);
  TNegativeTransform neg;
  neg.Apply(bw);
  EXPECT_EQ(BlackWhiteRow(bw, 0), "WBW");
  EXPECT_EQ(bw.RowBits(0)[3], 0xFF);  // fill bytes are inverted too

  TDibGraphic grey;
  grey.NewImage(2, 1, ikGray256, nullptr, 0, 0);
  grey.SetPixelIndex(0, 0, 10);
  neg.Apply(grey);
  EXPECT_EQ(grey.GetPixelIndex(0, 0), 245);

  TDibGraphic tc;
  tc.NewImage(1, 1, ikTrueColor, nullptr, 0, 0);
  tc.SetRgbPixel(0, 0, 0x102030);
  TDibGraphic out;
  neg.ApplyOnDest(tc, out);
  EXPECT_EQ(out.GetRgbPixel(0, 0), 0xEFDFCFu);
  EXPECT_EQ(tc.GetRgbPixel(0, 0), 0x102030u);

  TDibGraphic c16;
  c16.NewImage(2, 1, ikColor16, nullptr, 200, 200);
  c16.SetPixelIndex(0, 0, 6);  // (170, 85, 0)
  neg.Apply(c16);
  EXPECT_EQ(c16.GetPixelIndex(0, 0), 6);
  EXPECT_EQ(c16.GetRgbPixel(0, 0), 0x55AAFFu);
  EXPECT_EQ(c16.DpiX(), 200);
}

TEST(ImageTransform, BaseApplyOnDestIsNotImplemented) {
  TImageTransform t;
  TDibGraphic a, b;
  a.NewImage(1, 1, ikTrueColor, nullptr, 0, 0);
  try {
    t.Apply(a);
    FAIL();
  } catch (const EOvinexError& e) {
    EXPECT_STREQ(e.what(), "Method \"ApplyOnDest\" not implemented for TImageTransform class");
  }
  EXPECT_FALSE(a.Empty());
}

}  // namespace
}  // namespace lumipage
