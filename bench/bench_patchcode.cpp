// Patch code sheets on A4: the time of looking for a patch code on a 300 dpi page that has none
// and on one that has one, and how the finder fares on a drawn set of 20 separator sheets and 20
// other pages (counters sheets_found and others_found of BM_PatchCodeOnTheSet).
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "bench/PageBuffers.h"
#include "imaging/BitmapGraphic.h"
#include "imaging/PatchCode.h"
#include "tests/support/DrawnPages.h"

using namespace lumipage;
using namespace lumipage::testing;

namespace {

TSideSpec A4(TSideMark mark, int dpi = 300) {
  TSideSpec s;
  s.Dpi = dpi;
  s.Paper = 0xF7F3E8;
  s.Flaws.Noise = 5;
  s.Flaws.Texture = 3;
  s.Mark = mark;
  return s;
}

// Colour, grey and black and white; a text page (nothing to find) and a Patch T sheet turned by 3°.
void BM_FindPatchCode(benchmark::State& state) {
  const bool sheet = state.range(0) == 1;
  const int kind = static_cast<int>(state.range(1));
  TSideSpec spec = A4(sheet ? TSideMark::PatchCode : TSideMark::TextPage);
  spec.SkewDegrees = 3;
  spec.Grey = kind == 1;
  auto page = DrawSide(spec);
  if (kind == 2) page = AsBlackWhite(*page);
  const TPatchCode expected = sheet ? TPatchCode::PatchT : TPatchCode::None;
  for (auto _ : state)
    if (FindPatchCode(*page, 300) != expected) state.SkipWithError("wrong verdict");
}
BENCHMARK(BM_FindPatchCode)
    ->ArgsProduct({{0, 1}, {0, 1, 2}})
    ->ArgNames({"text0_sheet1", "colour0_grey1_bw2"})
    ->Unit(benchmark::kMillisecond);

struct TSheetCase {
  const char* Bars;
  int QuarterTurns;
  double Skew;
  int Dpi;
  bool Grey;
  double Ink;
};

// Each symbol, every way in, both ends of the turn, 200 and 300 dpi, faint print.
const TSheetCase kSheets[] = {
    {"WWNN", 0, 0, 200, false, 1.0},   {"WWNN", 2, 10, 300, true, 0.5},  {"WWNN", 1, -10, 200, false, 0.4},
    {"WNNW", 0, 10, 300, false, 1.0},  {"WNNW", 3, 0, 200, true, 0.6},   {"WNNW", 2, -6, 200, false, 0.4},
    {"WNWN", 1, 0, 300, false, 0.5},   {"WNWN", 0, -10, 200, true, 1.0}, {"WNWN", 2, 4, 300, false, 1.0},
    {"NWWN", 3, 10, 300, false, 1.0},  {"NWWN", 0, 0, 200, false, 0.4},  {"NWWN", 1, 7, 200, true, 1.0},
    {"NNWW", 2, 0, 200, false, 1.0},   {"NNWW", 0, 5, 300, true, 0.4},   {"NNWW", 3, -10, 200, false, 0.6},
    {"NWNW", 0, 0, 300, false, 0.4},   {"NWNW", 1, -3, 300, true, 1.0},  {"NWNW", 2, 10, 200, false, 0.5},
    {"NWNW", 3, 0, 200, false, 1.0},   {"NWNW", 0, -10, 300, false, 1.0},
};

TPatchCode CodeOf(const std::string& bars) {
  if (bars == "WWNN") return TPatchCode::Patch1;
  if (bars == "WNNW") return TPatchCode::Patch2;
  if (bars == "WNWN") return TPatchCode::Patch3;
  if (bars == "NWWN") return TPatchCode::Patch4;
  if (bars == "NNWW") return TPatchCode::Patch6;
  return TPatchCode::PatchT;
}

// Other pages: ten kinds at 200 and 300 dpi, some turned, two of them in black and white; the
// Code 39 and Code 128 symbols made by zint at resolutions that give bars of 1 to 3 mm.
std::vector<std::unique_ptr<TBitmapGraphic>> OtherPages(std::vector<std::uint16_t>& dpis) {
  std::vector<std::unique_ptr<TBitmapGraphic>> pages;
  const TSideMark marks[] = {TSideMark::TextPage, TSideMark::ThickRules, TSideMark::RuledLines, TSideMark::ThickBorder,
                             TSideMark::Photo,    TSideMark::Drawing,    TSideMark::None,       TSideMark::EdgeToEdgeBand};
  int i = 0;
  for (const TSideMark mark : marks)
    for (const int dpi : {200, 300}) {
      TSideSpec spec = A4(mark, dpi);
      spec.SkewDegrees = (i % 3) * 4 - 4;
      spec.Grey = i % 4 == 1;
      auto page = DrawSide(spec);
      if (i % 5 == 4) page = AsBlackWhite(*page);
      pages.push_back(std::move(page));
      dpis.push_back(static_cast<std::uint16_t>(dpi));
      ++i;
    }
  for (const char* file : {"code128-inv2291.bmp", "code39-patcht.bmp"})
    for (const std::uint16_t dpi : {200, 80}) {
      auto page = std::make_unique<TBitmapGraphic>();
      page->LoadFromFile(std::string(LUMIPAGE_SOURCE_DIR) + "/tests/data/separators/" + file);
      pages.push_back(std::move(page));
      dpis.push_back(dpi);
    }
  return pages;
}

void BM_PatchCodeOnTheSet(benchmark::State& state) {
  for (auto _ : state) {
    int found = 0, others = 0;
    for (const TSheetCase& c : kSheets) {
      TSideSpec spec = A4(TSideMark::PatchCode, c.Dpi);
      spec.Patch = c.Bars;
      spec.QuarterTurns = c.QuarterTurns;
      spec.SkewDegrees = c.Skew;
      spec.Grey = c.Grey;
      spec.PatchInk = c.Ink;
      if (FindPatchCode(*DrawSide(spec)) == CodeOf(c.Bars)) ++found;
    }
    std::vector<std::uint16_t> dpis;
    const auto pages = OtherPages(dpis);
    for (std::size_t i = 0; i < pages.size(); ++i)
      if (FindPatchCode(*pages[i], dpis[i]) != TPatchCode::None) ++others;
    state.counters["sheets"] = static_cast<double>(std::size(kSheets));
    state.counters["sheets_found"] = found;
    state.counters["others"] = static_cast<double>(pages.size());
    state.counters["others_found"] = others;
  }
}
BENCHMARK(BM_PatchCodeOnTheSet)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
