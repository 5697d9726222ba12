// Blank sides and turned pages on A4: the time of the blank verdict and of finding and
// straightening a turn at 300 dpi, and how the verdict fares on the whole drawn set (counters
// content_dropped and blank_dropped of BM_BlankVerdictOnTheSet).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "bench/PageBuffers.h"
#include "imaging/BitmapGraphic.h"
#include "imaging/BlankPage.h"
#include "imaging/DefaultPalettes.h"
#include "imaging/PageCleaning.h"
#include "imaging/PageInk.h"
#include "imaging/PageSkew.h"
#include "imaging/RotateTransform.h"
#include "tests/support/DrawnPages.h"

using namespace lumipage;
using namespace lumipage::testing;

namespace {

TSideSpec A4(TSideMark mark, bool grey, double skew, std::uint32_t paper = 0xF7F3E8) {
  TSideSpec s;
  s.Dpi = 300;
  s.Paper = paper;
  s.Flaws.Noise = 5;
  s.Flaws.Texture = 3;
  s.Mark = mark;
  s.Grey = grey;
  s.SkewDegrees = skew;
  return s;
}

// The verdict alone (measuring the ink and judging it), on a text page, on a blank side and on a
// blank side of strongly coloured paper (judged twice: its darkest channel, then its luma).
void BM_BlankVerdict(benchmark::State& state) {
  const int kind = static_cast<int>(state.range(0));
  TSideSpec spec = A4(kind == 1 ? TSideMark::TextPage : TSideMark::None, false, 0, kind == 2 ? 0xFFEA2E : 0xF7F3E8);
  spec.Flaws.ShowThrough = kind == 0 ? 20 : 0;
  spec.Flaws.Dust = 30;
  const auto page = DrawSide(spec);
  for (auto _ : state) benchmark::DoNotOptimize(JudgeBlank(*page, 300).Blank);
}
BENCHMARK(BM_BlankVerdict)->Arg(1)->Arg(0)->Arg(2)->ArgName("text1_blank0_neon2")->Unit(benchmark::kMillisecond);

// Finding the turn and straightening the page: colour, grey and black and white.
void BM_Deskew(benchmark::State& state) {
  const int kind = static_cast<int>(state.range(0));
  auto drawn = DrawSide(A4(TSideMark::TextPage, kind == 1, static_cast<double>(state.range(1))));
  if (kind == 2) drawn = AsBlackWhite(*drawn);
  TBitmapGraphic page;
  for (auto _ : state) {
    state.PauseTiming();
    page.Assign(drawn.get());
    state.ResumeTiming();
    if (CleanPage(page, 300, false, true) != TCleaning::Straightened) state.SkipWithError("not straightened");
  }
}
// At 3 degrees and at the largest turn straightened, where fewer runs of pixels share their
// source rows.
BENCHMARK(BM_Deskew)
    ->ArgsProduct({{0, 1, 2}, {3, 10}})
    ->ArgNames({"colour0_grey1_bw2", "degrees"})
    ->Unit(benchmark::kMillisecond);

// The steps apart: measuring the ink, finding the angle, turning the page (colour, grey, black
// and white).
void BM_MeasureInk(benchmark::State& state) {
  const auto page = DrawSide(A4(TSideMark::TextPage, state.range(0) == 1, 3.0));
  for (auto _ : state) benchmark::DoNotOptimize(MeasureInk(*page, 300).Width);
}
BENCHMARK(BM_MeasureInk)->Arg(0)->Arg(1)->ArgName("grey")->Unit(benchmark::kMillisecond);

void BM_FindSkew(benchmark::State& state) {
  const auto page = DrawSide(A4(TSideMark::TextPage, false, 3.0));
  const TPageInk ink = MeasureInk(*page, 300);
  for (auto _ : state) benchmark::DoNotOptimize(FindSkew(ink).Degrees);
}
BENCHMARK(BM_FindSkew)->Unit(benchmark::kMillisecond);

void BM_Rotate(benchmark::State& state) {
  const int kind = static_cast<int>(state.range(0));
  auto page = DrawSide(A4(TSideMark::TextPage, kind == 1, 3.0));
  if (kind == 2) page = AsBlackWhite(*page);
  TRotateTransform turn;
  turn.Degrees = 3;
  TBitmapGraphic out;
  for (auto _ : state) turn.ApplyOnDest(*page, out);
}
BENCHMARK(BM_Rotate)->Arg(0)->Arg(1)->Arg(2)->ArgName("colour0_grey1_bw2")->Unit(benchmark::kMillisecond);

// The whole drawn set, colour and grey: on A4 at 200 and 300 dpi and on A5 at 600 dpi (the same
// marks and flaws, half the drawing time): content sides dropped (must be 0) and blank sides
// dropped (at least 95 %).
void BM_BlankVerdictOnTheSet(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<TSideSpec> content = ContentSides({200, 300}, 210, 297), blank = BlankSides({200, 300}, 210, 297);
    for (const TSideSpec& s : ContentSides({600}, 148, 210)) content.push_back(s);
    for (const TSideSpec& s : BlankSides({600}, 148, 210)) blank.push_back(s);
    int contentDropped = 0, blankDropped = 0;
    for (const TSideSpec& spec : content) {
      if (!JudgeBlank(*DrawSide(spec)).Blank) continue;
      ++contentDropped;
      std::fprintf(stderr, "content side dropped: %s\n", spec.Name.c_str());
    }
    for (const TSideSpec& spec : blank) {
      if (JudgeBlank(*DrawSide(spec)).Blank)
        ++blankDropped;
      else
        std::fprintf(stderr, "blank side kept: %s\n", spec.Name.c_str());
    }
    state.counters["content_sides"] = static_cast<double>(content.size());
    state.counters["content_dropped"] = contentDropped;
    state.counters["blank_sides"] = static_cast<double>(blank.size());
    state.counters["blank_dropped"] = blankDropped;
  }
}
BENCHMARK(BM_BlankVerdictOnTheSet)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
