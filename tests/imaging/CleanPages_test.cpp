// Blank sides and turned pages: the ink map, the blank verdict, the skew finder and the turn, on
// sides drawn with every flaw that must not count and the small marks that must.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "imaging/BitmapGraphic.h"
#include "imaging/BlankPage.h"
#include "imaging/DefaultPalettes.h"
#include "imaging/PageCleaning.h"
#include "imaging/PageInk.h"
#include "imaging/PageSkew.h"
#include "imaging/RotateTransform.h"
#include "platform/Interrupt.h"
#include "tests/support/DrawnPages.h"

using namespace lumipage;
using namespace lumipage::testing;

namespace {

// A6 sides keep the table quick; the whole set on A4 runs in bench_cleanpages.
constexpr double kSideWidthMm = 105;
constexpr double kSideHeightMm = 148;

class ContentSide : public ::testing::TestWithParam<TSideSpec> {};
class BlankSide : public ::testing::TestWithParam<TSideSpec> {};

std::string SpecName(const ::testing::TestParamInfo<TSideSpec>& info) { return info.param.Name; }

TEST_P(ContentSide, IsKept) {
  const auto page = DrawSide(GetParam());
  const TBlankVerdict v = JudgeBlank(*page);
  EXPECT_TRUE(v.Analysed);
  EXPECT_FALSE(v.Blank);
}

TEST_P(BlankSide, IsDropped) {
  const auto page = DrawSide(GetParam());
  const TBlankVerdict v = JudgeBlank(*page);
  EXPECT_TRUE(v.Analysed);
  // A side judged wrongly can be kept for a look.
  if (!v.Blank && std::getenv("LUMIPAGE_KEEP_SIDES") != nullptr)
    page->SaveToFile(std::string(std::getenv("LUMIPAGE_KEEP_SIDES")) + "/" + GetParam().Name + ".bmp");
  EXPECT_TRUE(v.Blank) << "mark at samples " << v.MarkLeft << "," << v.MarkTop << " - " << v.MarkRight << ","
                       << v.MarkBottom << ", darkness " << v.MarkDarkness;
}

INSTANTIATE_TEST_SUITE_P(Drawn, ContentSide, ::testing::ValuesIn(ContentSides({200, 300}, kSideWidthMm, kSideHeightMm)),
                         SpecName);
INSTANTIATE_TEST_SUITE_P(Drawn, BlankSide, ::testing::ValuesIn(BlankSides({200, 300}, kSideWidthMm, kSideHeightMm)),
                         SpecName);

// The skew finder against the angle the page was drawn at, and the straightened page against
// the measure of its own.
struct SkewCase {
  double Degrees;
  int Dpi;
  TImageKind Kind;
};

class TurnedPage : public ::testing::TestWithParam<SkewCase> {};

std::unique_ptr<TBitmapGraphic> TextSide(const SkewCase& c) {
  TSideSpec spec;
  spec.Dpi = c.Dpi;
  spec.WidthMm = kSideWidthMm;
  spec.HeightMm = kSideHeightMm;
  spec.Paper = 0xF7F3E8;
  spec.Flaws.Noise = 5;
  spec.Mark = TSideMark::TextPage;
  spec.Grey = c.Kind == ikGray256;
  spec.SkewDegrees = c.Degrees;
  auto page = DrawSide(spec);
  return c.Kind == ikBlackWhite ? AsBlackWhite(*page) : std::move(page);
}

TEST_P(TurnedPage, IsFoundAndStraightened) {
  const SkewCase c = GetParam();
  auto page = TextSide(c);
  const TSkewEstimate skew = FindSkew(MeasureInk(*page));
  ASSERT_TRUE(skew.Reliable);
  EXPECT_NEAR(skew.Degrees, c.Degrees, 0.1);
  const TCleaning done = CleanPage(*page, 0, false, true);
  EXPECT_EQ(done, std::abs(c.Degrees) >= kMinDeskewDegrees ? TCleaning::Straightened : TCleaning::Kept);
  EXPECT_EQ(page->ImageKind(), c.Kind);
  EXPECT_NEAR(MeasuredSkew(*page), 0.0, 0.1);
}

std::string SkewName(const ::testing::TestParamInfo<SkewCase>& info) {
  const SkewCase& c = info.param;
  std::string angle = std::to_string(static_cast<int>(std::lround(std::abs(c.Degrees) * 100)));
  return (c.Degrees < 0 ? "minus" : "plus") + angle + "_" + std::to_string(c.Dpi) + "dpi_kind" +
         std::to_string(static_cast<int>(c.Kind));
}

INSTANTIATE_TEST_SUITE_P(Drawn, TurnedPage,
                         ::testing::Values(SkewCase{0.3, 300, ikTrueColor}, SkewCase{-0.3, 200, ikGray256},
                                           SkewCase{1.0, 200, ikTrueColor}, SkewCase{-2.5, 300, ikBlackWhite},
                                           SkewCase{4.0, 300, ikGray256}, SkewCase{-6.0, 200, ikTrueColor},
                                           SkewCase{10.0, 300, ikTrueColor}, SkewCase{-10.0, 200, ikBlackWhite},
                                           SkewCase{0.05, 300, ikTrueColor}),
                         SkewName);

// A colour page and the grey page of its darkest channel (or of its luma) are the same ink,
// sample for sample: the colour rows are read 16 pixels at a time, the grey ones through the
// palette (widths with and without a tail, and noise, so that every pixel's minimum comes from a
// different channel).
TEST(PageInk, AColourPageMeasuresAsItsDarkestChannelOrItsLuma) {
  for (TInkChannel channel : {TInkChannel::Darkest, TInkChannel::Luma})
    for (std::int32_t width : {640, 613}) {
      SCOPED_TRACE(width);
      SCOPED_TRACE(channel == TInkChannel::Darkest ? "darkest" : "luma");
      TBitmapGraphic colour, grey;
      colour.NewImage(width, 300, ikTrueColor, nullptr, 300, 300);
      grey.NewImage(width, 300, ikGray256, nullptr, 300, 300);
      std::uint32_t seed = 5;
      for (std::int32_t y = 0; y < 300; ++y) {
        std::uint8_t* c = colour.RowBits(y);
        std::uint8_t* g = grey.RowBits(y);
        for (std::int32_t x = 0; x < width; ++x, c += 3) {
          for (int k = 0; k < 3; ++k) c[k] = static_cast<std::uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
          g[x] = channel == TInkChannel::Darkest ? std::min({c[0], c[1], c[2]})
                                                  : static_cast<std::uint8_t>((77 * c[2] + 150 * c[1] + 29 * c[0] + 128) >> 8);
        }
      }
      const TPageInk a = MeasureInk(colour, 0, channel), b = MeasureInk(grey);
      ASSERT_TRUE(a.Analysed());
      EXPECT_EQ(a.Level, b.Level);
      EXPECT_EQ(a.Darkness, b.Darkness);
    }
}

// A test chart of saturated bars under a dark grid: dark all over in its weakest channel, which
// must not make it paper without marks.
TEST(CleanPage, APageOfSaturatedColourBarsIsKept) {
  constexpr std::uint32_t kBars[] = {0xFF0000, 0x00FF00, 0x0000FF, 0x00FFFF, 0xFF00FF, 0xFFFF00};
  for (bool grid : {true, false}) {
    SCOPED_TRACE(grid ? "grid" : "bars alone");
    TBitmapGraphic page;
    page.NewImage(1240, 1754, ikTrueColor, nullptr, 150, 150);
    for (std::int32_t y = 0; y < page.Height(); ++y) {
      std::uint8_t* p = page.RowBits(y);
      for (std::int32_t x = 0; x < page.Width(); ++x, p += 3) {
        const bool line = grid && (x % 60 < 3 || y % 60 < 3);
        const std::uint32_t c = line ? 0x202020 : kBars[x * 6 / page.Width()];
        p[0] = static_cast<std::uint8_t>(c);
        p[1] = static_cast<std::uint8_t>(c >> 8);
        p[2] = static_cast<std::uint8_t>(c >> 16);
      }
    }
    EXPECT_EQ(InkChannelFor(page), TInkChannel::Luma);
    EXPECT_EQ(CleanPage(page, 150, true, false), TCleaning::Kept);
    // Measured in the darkest channel all the same, the verdict looks again by brightness.
    EXPECT_FALSE(JudgeBlank(page, MeasureInk(page, 150, TInkChannel::Darkest), 150).Blank);
  }
}

// No text or line structure: nothing to go by, and the page stays as it was.
TEST(CleanPage, PagesWithoutLinesAreNotTurned) {
  for (TSideMark mark : {TSideMark::Photo, TSideMark::Drawing, TSideMark::None, TSideMark::PageNumber}) {
    TSideSpec spec;
    spec.WidthMm = kSideWidthMm;
    spec.HeightMm = kSideHeightMm;
    spec.Dpi = 200;
    spec.Flaws.Noise = 4;
    spec.Mark = mark;
    spec.SkewDegrees = 3;
    auto page = DrawSide(spec);
    TBitmapGraphic before;
    before.Assign(page.get());
    EXPECT_FALSE(FindSkew(MeasureInk(*page)).Reliable) << static_cast<int>(mark);
    EXPECT_EQ(CleanPage(*page, 0, false, true), TCleaning::Kept);
    EXPECT_EQ(0, std::memcmp(page->Bits(), before.Bits(), page->ImageSize()));
  }
}

// Pages nobody scans: a verdict or the page kept as it is, never a crash or a hang.
TEST(CleanPage, OddPagesGetAVerdictOrStayAsTheyAre) {
  struct Odd {
    const char* Name;
    std::int32_t Width, Height;
    TImageKind Kind;
    bool Noise;
    TCleaning Expected;
  } odd[] = {
      {"one_pixel", 1, 1, ikTrueColor, false, TCleaning::Kept},
      {"one_colour", 1654, 2339, ikTrueColor, false, TCleaning::Blank},
      {"very_wide", 60000, 120, ikTrueColor, false, TCleaning::Blank},
      {"very_wide_noise", 60000, 300, ikGray256, true, TCleaning::Blank},
      {"noise", 1654, 2339, ikTrueColor, true, TCleaning::Blank},
      {"one_row", 5000, 1, ikBlackWhite, false, TCleaning::Kept},
  };
  for (const Odd& o : odd) {
    SCOPED_TRACE(o.Name);
    TBitmapGraphic page;
    page.NewImage(o.Width, o.Height, o.Kind, nullptr, 200, 200);
    page.FillColor(0x3060C0);
    std::uint32_t seed = 7;
    if (o.Noise)
      for (std::int32_t y = 0; y < o.Height; ++y) {
        std::uint8_t* row = page.RowBits(y);
        for (std::uint32_t i = 0; i < page.BytesPerRow(); ++i) row[i] = static_cast<std::uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
      }
    EXPECT_EQ(CleanPage(page, 200, true, true), o.Expected);
    EXPECT_EQ(page.Width(), o.Width);
  }
}

TEST(CleanPage, AnInterruptedJobStopsTheAnalysisAndTheTurn) {
  TSideSpec spec;
  spec.Dpi = 200;
  spec.WidthMm = kSideWidthMm;
  spec.HeightMm = kSideHeightMm;
  spec.Mark = TSideMark::TextPage;
  auto page = DrawSide(spec);
  platform::RequestInterrupt();
  EXPECT_THROW((void)MeasureInk(*page), platform::EJobInterrupted);
  TRotateTransform turn;
  turn.Degrees = 2;
  TBitmapGraphic out;
  EXPECT_THROW(turn.ApplyOnDest(*page, out), platform::EJobInterrupted);
  platform::ClearInterrupt();
}

// The turn keeps the size, the kind and the palette, and turns the right way: a dot right of
// the centre goes up by a counter-clockwise turn.
TEST(RotateTransform, TurnsAboutTheCentreAndFillsWhatItUncovers) {
  for (TImageKind kind : {ikTrueColor, ikGray256, ikBlackWhite, ikColor16}) {
    SCOPED_TRACE(static_cast<int>(kind));
    TBitmapGraphic page;
    page.NewImage(201, 101, kind, nullptr, 100, 100);
    page.FillColor(0xFFFFFF);
    for (int y = 48; y <= 52; ++y)
      for (int x = 176; x <= 180; ++x) page.SetRgbPixel(x, y, 0x000000);
    TRotateTransform turn;
    turn.Degrees = 10;
    turn.FillColor = kind == ikTrueColor ? 0xE0D0C0 : 0xFFFFFF;
    TBitmapGraphic out;
    turn.ApplyOnDest(page, out);
    ASSERT_EQ(out.Width(), 201);
    ASSERT_EQ(out.Height(), 101);
    EXPECT_EQ(out.ImageKind(), kind);
    // (178, 50) is 78 pixels right of the centre (100, 50): turned by 10 degrees it lies at
    // (176.8, 36.5).
    EXPECT_EQ(out.GetRgbPixel(177, 37) & 0xFF, 0u);
    EXPECT_EQ(out.GetRgbPixel(178, 50) & 0xFF, 0xFFu);
    EXPECT_EQ(out.GetRgbPixel(0, 0), turn.FillColor);
  }
}

// The vectorised rows against the plain per-pixel code, on noise (every neighbour differs) at
// the turns a page gets and at ones they must leave to the plain code: a turn beyond the blocks'
// reach of rows, a skipped source column in nearly every block, a turn past 90 degrees, pages
// narrower than a block and pages whose edges fall inside blocks.
TEST(RotateTransform, VectorisedRowsEqualThePlainCode) {
  struct Size {
    std::int32_t Width, Height;
  };
  for (TImageKind kind : {ikTrueColor, ikGray256}) {
    for (const Size size : {Size{613, 411}, Size{64, 900}, Size{7, 5}, Size{17, 19}}) {
      TBitmapGraphic page;
      page.NewImage(size.Width, size.Height, kind, nullptr, 300, 300);
      std::uint32_t seed = 11;
      for (std::int32_t y = 0; y < size.Height; ++y) {
        std::uint8_t* row = page.RowBits(y);
        for (std::uint32_t i = 0; i < page.BytesPerRow(); ++i) row[i] = static_cast<std::uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
      }
      for (double degrees : {0.0, 0.3, -0.3, 3.0, -3.0, 6.5, -10.0, 10.5, 25.0, -60.0, 135.0}) {
        SCOPED_TRACE(::testing::Message() << "kind " << static_cast<int>(kind) << ", " << size.Width << "x" << size.Height
                                          << ", " << degrees << " degrees");
        TRotateTransform turn;
        turn.Degrees = degrees;
        turn.FillColor = 0xE0D0C0;
        TBitmapGraphic fast, plain;
        turn.ApplyOnDest(page, fast);
        turn.PlainCode = true;
        turn.ApplyOnDest(page, plain);
        ASSERT_EQ(fast.ImageSize(), plain.ImageSize());
        const auto differs = std::mismatch(fast.Bits(), fast.Bits() + fast.ImageSize(), plain.Bits());
        EXPECT_EQ(differs.first, fast.Bits() + fast.ImageSize())
            << "first different byte " << differs.first - fast.Bits() << " of " << fast.ImageSize();
      }
    }
  }
}

}  // namespace
