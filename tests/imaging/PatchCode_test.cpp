// Patch code sheets: each symbol found however the sheet came through the scanner, and no
// symbol reported on ordinary pages, on bars that only look like one, or on other barcodes.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "imaging/BitmapGraphic.h"
#include "imaging/JpegGraphic.h"
#include "imaging/PatchCode.h"
#include "platform/Interrupt.h"
#include "tests/support/DrawnPages.h"

using namespace lumipage;
using namespace lumipage::testing;

namespace {

// A5 sheets keep the table quick; bars of 64 mm fit across them.
constexpr double kSheetWidthMm = 148;
constexpr double kSheetHeightMm = 210;

enum class TKind { Colour, Grey, BlackWhite };

struct TPatchCase {
  std::string Name;
  std::string Bars;  // from the leading edge
  TPatchCode Expected;
  int QuarterTurns = 0;
  double Skew = 0;
  int Dpi = 200;
  TKind Kind = TKind::Colour;
  double Ink = 1.0;
  std::uint32_t Paper = 0xFFFFFF;
  int Noise = 3;
  int Texture = 0;
  double WidthMm = kSheetWidthMm, HeightMm = kSheetHeightMm;
};

void PrintTo(const TPatchCase& c, std::ostream* os) { *os << c.Name; }

std::unique_ptr<TBitmapGraphic> DrawPatchSheet(const TPatchCase& c) {
  TSideSpec spec;
  spec.Dpi = c.Dpi;
  spec.WidthMm = c.WidthMm;
  spec.HeightMm = c.HeightMm;
  spec.Paper = c.Paper;
  spec.Flaws.Noise = c.Noise;
  spec.Flaws.Texture = c.Texture;
  spec.Mark = TSideMark::PatchCode;
  spec.Patch = c.Bars;
  spec.PatchInk = c.Ink;
  spec.QuarterTurns = c.QuarterTurns;
  spec.SkewDegrees = c.Skew;
  spec.Grey = c.Kind == TKind::Grey;
  auto page = DrawSide(spec);
  return c.Kind == TKind::BlackWhite ? AsBlackWhite(*page) : std::move(page);
}

class PatchSheet : public ::testing::TestWithParam<TPatchCase> {};

TEST_P(PatchSheet, IsRead) {
  const auto page = DrawPatchSheet(GetParam());
  EXPECT_EQ(PatchCodeName(FindPatchCode(*page)), std::string(PatchCodeName(GetParam().Expected)));
}

// Each symbol at least once; each way in (upside down swaps 1 with 6 and 3 with T unless the
// bars are read from the edge they lie against); both ends of the turn; every resolution and
// kind of page; faint print on off-white, noisy, textured paper.
INSTANTIATE_TEST_SUITE_P(
    Drawn, PatchSheet,
    ::testing::Values(
        TPatchCase{"patch1_upright_200_colour", "WWNN", TPatchCode::Patch1},
        TPatchCase{"patch2_upright_300_grey", "WNNW", TPatchCode::Patch2, 0, 0, 300, TKind::Grey},
        TPatchCase{"patch3_upside_down_200_colour", "WNWN", TPatchCode::Patch3, 2, 0, 200},
        TPatchCase{"patch4_sideways_200_black_white", "NWWN", TPatchCode::Patch4, 1, 0, 200, TKind::BlackWhite},
        TPatchCase{"patch6_sideways_left_300_turned_minus10", "NNWW", TPatchCode::Patch6, 3, -10, 300},
        TPatchCase{"patchT_turned_10_grey_faint40_offwhite", "NWNW", TPatchCode::PatchT, 0, 10, 200, TKind::Grey,
                   0.4, 0xF2ECDD, 6, 3},
        TPatchCase{"patch1_upside_down_turned_7_faint50_noisy", "WWNN", TPatchCode::Patch1, 2, 7, 200,
                   TKind::Colour, 0.5, 0xFFFFFF, 10},
        TPatchCase{"patch3_sideways_300_turned_minus8_black_white", "WNWN", TPatchCode::Patch3, 1, -8, 300,
                   TKind::BlackWhite},
        TPatchCase{"patchT_upside_down_600_faint60_tinted", "NWNW", TPatchCode::PatchT, 2, 3, 600, TKind::Colour,
                   0.6, 0xEEF4FB, 5, 2, 105, 148},
        // Not a symbol: three or five bars, all narrow, three wide.
        TPatchCase{"three_bars", "WNW", TPatchCode::None},
        TPatchCase{"five_bars", "NWNWN", TPatchCode::None},
        TPatchCase{"all_narrow", "NNNN", TPatchCode::None},
        TPatchCase{"three_wide", "WWNW", TPatchCode::None}),
    [](const auto& info) { return info.param.Name; });

// Ordinary pages, some with heavy straight bars of their own.
class OrdinaryPage : public ::testing::TestWithParam<TSideMark> {};

TEST_P(OrdinaryPage, HasNoPatchCode) {
  for (const int dpi : {200, 300}) {
    TSideSpec spec;
    spec.Dpi = dpi;
    spec.WidthMm = kSheetWidthMm;
    spec.HeightMm = kSheetHeightMm;
    spec.Mark = GetParam();
    spec.Flaws.Noise = 4;
    spec.SkewDegrees = dpi == 300 ? 2 : 0;
    const auto page = DrawSide(spec);
    EXPECT_EQ(FindPatchCode(*page), TPatchCode::None) << dpi << " dpi";
    EXPECT_EQ(FindPatchCode(*AsBlackWhite(*page)), TPatchCode::None) << dpi << " dpi, black and white";
  }
}

INSTANTIATE_TEST_SUITE_P(Drawn, OrdinaryPage,
                         ::testing::Values(TSideMark::None, TSideMark::TextPage, TSideMark::ThickRules,
                                           TSideMark::RuledLines, TSideMark::ThickBorder, TSideMark::Photo,
                                           TSideMark::Drawing, TSideMark::EdgeToEdgeBand, TSideMark::Stamp));

std::string TestData(const std::string& name) { return std::string(LUMIPAGE_TEST_DATA) + "/" + name; }

// Barcodes made by zint and a real scan from another project, read at resolutions that make their
// bars as wide as a patch code's and wider (at 50 dpi the Code 128 fills a page).
TEST(PatchCode, OtherBarcodesAndRealScansHaveNone) {
  const struct {
    const char* File;
    std::uint16_t Dpi;
  } pages[] = {
      {"separators/code128-inv2291.bmp", 200}, {"separators/code128-inv2291.bmp", 100},
      {"separators/code128-inv2291.bmp", 50},  {"separators/code39-patcht.bmp", 200},
      {"separators/code39-patcht.bmp", 100},   {"separators/code39-patcht.bmp", 60},
  };
  for (const auto& p : pages) {
    TBitmapGraphic page;
    page.LoadFromFile(TestData(p.File));
    EXPECT_EQ(FindPatchCode(page, p.Dpi), TPatchCode::None) << p.File << " at " << p.Dpi;
  }
  // Code 39 "PATCHT" symbols bent, blurred and greyed by others, read at their own 72 dpi and
  // at resolutions that make their bars 2 to 6 mm wide.
  for (const char* name : {"code39-patcht-distorted.jpg", "code39-patcht-fuzzy.jpg", "code39-patcht-unreadable.jpg"})
    for (const std::uint16_t dpi : {72, 40, 25}) {
      TJpegGraphic page;
      page.LoadFromFile(TestData(std::string("separators/") + name));
      EXPECT_EQ(FindPatchCode(page, dpi), TPatchCode::None) << name << " at " << dpi;
    }
  // An 1871 print with a dark sheet edge, about 150 dpi.
  TJpegGraphic congress;
  congress.LoadFromFile(TestData("cleanpages/congress.jpg"));
  EXPECT_EQ(FindPatchCode(congress, 150), TPatchCode::None);
}

TEST(PatchCode, PagesOfAnyShapeAreAnsweredQuietly) {
  const struct {
    std::int32_t Width, Height;
    TImageKind Kind;
  } shapes[] = {{1, 1, ikTrueColor}, {5, 4000, ikGray256}, {4000, 3, ikBlackWhite}, {20, 20, ikColor16}};
  for (const auto& s : shapes) {
    TBitmapGraphic page;
    page.NewImage(s.Width, s.Height, s.Kind, nullptr, 200, 200);
    EXPECT_EQ(FindPatchCode(page), TPatchCode::None) << s.Width << "x" << s.Height;
  }
  EXPECT_EQ(FindPatchCode(TBitmapGraphic()), TPatchCode::None);
  // Fine stripes said to be scanned at 20 dpi: some 1,500 bars of a patch code's size, more than
  // any sheet has.
  TBitmapGraphic stripes;
  stripes.NewImage(3000, 2000, ikGray256, nullptr, 20, 20);
  for (std::int32_t y = 0; y < stripes.Height(); ++y)
    for (std::int32_t x = 0; x < stripes.Width(); ++x) stripes.RowBits(y)[x] = (x / 2) % 2 == 0 ? 0 : 255;
  EXPECT_EQ(FindPatchCode(stripes), TPatchCode::None);
}

TEST(PatchCode, NamesTheSymbols) {
  const std::pair<TPatchCode, const char*> names[] = {
      {TPatchCode::None, ""},         {TPatchCode::Patch1, "Patch 1"}, {TPatchCode::Patch2, "Patch 2"},
      {TPatchCode::Patch3, "Patch 3"}, {TPatchCode::Patch4, "Patch 4"}, {TPatchCode::Patch6, "Patch 6"},
      {TPatchCode::PatchT, "Patch T"}};
  for (const auto& [code, name] : names) EXPECT_STREQ(PatchCodeName(code), name);
}

TEST(PatchCode, AnInterruptedJobStopsTheSearch) {
  const auto page = DrawPatchSheet({"t", "NWNW", TPatchCode::PatchT});
  platform::RequestInterrupt();
  EXPECT_THROW((void)FindPatchCode(*page), platform::EJobInterrupted);
  platform::ClearInterrupt();
  EXPECT_EQ(FindPatchCode(*page), TPatchCode::PatchT);
}

}  // namespace
