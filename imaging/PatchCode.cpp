#include "imaging/PatchCode.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <vector>

#include "imaging/PageInk.h"
#include "platform/Interrupt.h"

namespace lumipage {

namespace {

// The bars are millimetres wide and centimetres long: a coarse ink map sees them well and costs a
// fraction of the one for blank pages.
constexpr int kPatchAnalysisDpi = 75;
// Printed sizes: narrow bars and the spaces 2.03 mm (0.08 in), wide bars 5.08 mm (0.2 in), each
// within 0.25 mm; bars at least 50.8 mm (2 in) long. The ranges accepted add what blur, print gain,
// a faint print and the coarse map do to a width, and a little cut off a bar's length.
constexpr double kMinNarrowMm = 1.1;
constexpr double kMaxNarrowMm = 3.3;
constexpr double kMinWideMm = 3.8;
constexpr double kMaxWideMm = 7.0;
constexpr double kMinSpaceMm = 0.7;
constexpr double kMaxSpaceMm = 3.6;
constexpr double kMinBarMm = 40;
// Paper kept clear of other print beyond the outer bars (the symbol asks for 6 mm).
constexpr double kQuietFromMm = 0.8;
constexpr double kQuietToMm = 6.0;
// No other long parallel bar this near beyond the outer bars: a wide/narrow barcode with long bars
// (Code 39, Code 128) holds runs of four that look like a patch code, between wide spaces.
constexpr double kNeighbourMm = 15.0;
// Share of that zone that may be dark (dust, a speck of noise), in percent.
constexpr int kQuietDarkPercent = 4;
// Largest turn from level or upright, and the largest difference between bars of one symbol.
constexpr double kMaxTiltDegrees = 15;
constexpr double kMaxBarToBarDegrees = 4;
// A sample darker than the paper by this much (or by four times the noise) is ink: a bar printed
// at 40 % black stays well above it on any paper.
constexpr int kMinInkDarkness = 40;
// Below this many samples per inch a narrow bar is less than two samples wide: no reading.
constexpr double kMinSampleDpi = 20;
// More long bars than any separator sheet has (a page of fine stripes, or a claimed resolution far
// below the real one): not a sheet, and pairing them all would take long.
constexpr std::size_t kMaxBars = 1000;
// Rows labelled between two looks at an interruption of the job.
constexpr std::int32_t kRowsBetweenChecks = 256;

// The six symbols, bars listed from the leading edge, true for a wide one.
struct TPattern {
  std::array<bool, 4> Wide;
  TPatchCode Code;
};
constexpr std::array<TPattern, 6> kPatterns = {{
    {{true, true, false, false}, TPatchCode::Patch1},
    {{true, false, false, true}, TPatchCode::Patch2},
    {{true, false, true, false}, TPatchCode::Patch3},
    {{false, true, true, false}, TPatchCode::Patch4},
    {{false, false, true, true}, TPatchCode::Patch6},
    {{false, true, false, true}, TPatchCode::PatchT},
}};

// Sums over the samples of a connected patch of ink, enough for its centre, axis and size.
struct TMoments {
  double N = 0, X = 0, Y = 0, XX = 0, YY = 0, XY = 0;
  void AddRun(std::int32_t x0, std::int32_t x1, std::int32_t y) {
    const double n = x1 - x0 + 1;
    const auto squares = [](double k) { return k * (k + 1) * (2 * k + 1) / 6; };
    const double sx = n * (x0 + x1) / 2.0;
    N += n;
    X += sx;
    Y += n * y;
    XX += squares(x1) - squares(x0 - 1.0);
    YY += n * y * static_cast<double>(y);
    XY += sx * y;
  }
  void Add(const TMoments& o) {
    N += o.N;
    X += o.X;
    Y += o.Y;
    XX += o.XX;
    YY += o.YY;
    XY += o.XY;
  }
};

// A solid straight bar, in samples; Angle is its long axis in radians, within (-pi/2, pi/2].
struct TBar {
  double Cx = 0, Cy = 0, Angle = 0, Length = 0, Width = 0;
  bool Upright = false;  // runs top to bottom rather than across
};

struct TRun {
  std::int32_t X0, X1, Label;
};

std::int32_t Root(std::vector<std::int32_t>& parent, std::int32_t i) {
  while (parent[static_cast<std::size_t>(i)] != i) {
    parent[static_cast<std::size_t>(i)] = parent[static_cast<std::size_t>(parent[static_cast<std::size_t>(i)])];
    i = parent[static_cast<std::size_t>(i)];
  }
  return i;
}

// The connected patches of ink (samples at least threshold dark, neighbours along an axis)
// as their moments.
std::vector<TMoments> InkPatches(const TPageInk& ink, int threshold) {
  std::vector<std::int32_t> parent;
  std::vector<TMoments> moments;
  std::vector<TRun> above, here;
  for (std::int32_t y = 0; y < ink.Height; ++y) {
    if (y % kRowsBetweenChecks == 0) platform::CheckInterrupt();
    const std::uint8_t* row = ink.Darkness.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(ink.Width);
    here.clear();
    std::size_t a = 0;
    for (std::int32_t x = 0; x < ink.Width;) {
      if (row[x] < threshold) {
        ++x;
        continue;
      }
      const std::int32_t x0 = x;
      while (x < ink.Width && row[x] >= threshold) ++x;
      const std::int32_t x1 = x - 1;
      std::int32_t label = -1;
      while (a < above.size() && above[a].X1 < x0) ++a;
      for (std::size_t k = a; k < above.size() && above[k].X0 <= x1; ++k) {
        const std::int32_t r = Root(parent, above[k].Label);
        if (label < 0) {
          label = r;
        } else if (r != label) {
          parent[static_cast<std::size_t>(std::max(r, label))] = std::min(r, label);
          label = std::min(r, label);
        }
      }
      if (label < 0) {
        label = static_cast<std::int32_t>(parent.size());
        parent.push_back(label);
        moments.emplace_back();
      }
      moments[static_cast<std::size_t>(label)].AddRun(x0, x1, y);
      here.push_back({x0, x1, label});
    }
    std::swap(above, here);
  }
  std::vector<TMoments> patches;
  std::vector<std::int32_t> index(parent.size(), -1);
  for (std::size_t i = 0; i < parent.size(); ++i) {
    const auto r = static_cast<std::size_t>(Root(parent, static_cast<std::int32_t>(i)));
    if (index[r] < 0) {
      index[r] = static_cast<std::int32_t>(patches.size());
      patches.emplace_back();
    }
    patches[static_cast<std::size_t>(index[r])].Add(moments[i]);
  }
  return patches;
}

double Mm(const TPageInk& ink, double samples) { return samples * 25.4 / ink.Dpi; }

// The patch as a bar, if it is one: solid, straight, long and no wider than a patch code's bars,
// level or upright within the largest turn. Thinner ones are kept too: they tell a barcode.
bool AsBar(const TPageInk& ink, const TMoments& m, TBar& bar) {
  const double minLength = ink.Samples(kMinBarMm), minWidth = 1;
  if (m.N < minLength * minWidth) return false;
  const double cx = m.X / m.N, cy = m.Y / m.N;
  const double xx = m.XX / m.N - cx * cx, yy = m.YY / m.N - cy * cy, xy = m.XY / m.N - cx * cy;
  const double mean = (xx + yy) / 2, spread = std::sqrt((xx - yy) * (xx - yy) / 4 + xy * xy);
  // A solid rectangle of length l and width w spreads l^2/12 along and w^2/12 across (less
  // 1/12 for whole samples).
  const double length = std::sqrt(12 * (mean + spread) + 1), width = std::sqrt(std::max(0.0, 12 * (mean - spread)) + 1);
  if (length < minLength || width < minWidth || Mm(ink, width) > kMaxWideMm) return false;
  const double fill = m.N / (length * width);
  if (fill < 0.8 || fill > 1.2) return false;
  const double angle = 0.5 * std::atan2(2 * xy, xx - yy);
  const double tilt = std::abs(angle) * 180 / std::numbers::pi;
  if (tilt > kMaxTiltDegrees && tilt < 90 - kMaxTiltDegrees) return false;
  bar = {cx, cy, angle, length, width, tilt > 45};
  return true;
}

// Whether the band beyond a bar's outer edge, on the side of direction (nx, ny), is clear of ink.
bool QuietBeyond(const TPageInk& ink, const TBar& bar, double nx, double ny, int threshold) {
  const double ux = std::cos(bar.Angle), uy = std::sin(bar.Angle);
  const double from = bar.Width / 2 + ink.Samples(kQuietFromMm), to = bar.Width / 2 + ink.Samples(kQuietToMm);
  int dark = 0, total = 0;
  for (double t = -0.4 * bar.Length; t <= 0.4 * bar.Length; t += 2) {
    for (double d = from; d <= to; d += 1) {
      const auto x = static_cast<std::int32_t>(std::lround(bar.Cx + ux * t + nx * d));
      const auto y = static_cast<std::int32_t>(std::lround(bar.Cy + uy * t + ny * d));
      ++total;
      if (x >= 0 && y >= 0 && x < ink.Width && y < ink.Height && ink.DarknessAt(x, y) >= threshold) ++dark;
    }
  }
  return dark * 100 <= total * kQuietDarkPercent;
}

// The direction across a bar: down for level bars, right for upright ones.
void Across(const TBar& a, double& nx, double& ny) {
  nx = -std::sin(a.Angle);
  ny = std::cos(a.Angle);
  if ((a.Upright && nx < 0) || (!a.Upright && ny < 0)) {
    nx = -nx;
    ny = -ny;
  }
}

// Where b lies from a: across a's axis (in the direction given) and along it. False when b is
// not parallel to a, not beside it over most of its length, or not about as long.
bool Beside(const TBar& a, const TBar& b, double nx, double ny, double& across) {
  double turn = std::abs(a.Angle - b.Angle) * 180 / std::numbers::pi;
  turn = std::min(turn, 180 - turn);
  if (turn > kMaxBarToBarDegrees) return false;
  const double dx = b.Cx - a.Cx, dy = b.Cy - a.Cy;
  across = dx * nx + dy * ny;
  const double along = dx * ny - dy * nx;
  return std::abs(along) <= 0.2 * std::min(a.Length, b.Length) &&
         std::min(a.Length, b.Length) >= 0.8 * std::max(a.Length, b.Length);
}

// Whether another bar lies parallel beside the outer bar a, beyond it in direction (nx, ny).
bool NeighbourBeyond(const TPageInk& ink, const std::vector<TBar>& bars, const TBar& a, double nx, double ny) {
  for (const TBar& b : bars) {
    double across = 0;
    if (&b == &a || !Beside(a, b, nx, ny, across) || across <= 0) continue;
    if (Mm(ink, across - (a.Width + b.Width) / 2) < kNeighbourMm) return true;
  }
  return false;
}

struct TFound {
  TPatchCode Code = TPatchCode::None;
  double FromEdge = 0;  // samples from the leading edge
};

// Reads four bars, ordered across, as a symbol.
TFound Read(const TPageInk& ink, const std::array<const TBar*, 4>& bars) {
  std::array<bool, 4> wide{};
  double narrowSum = 0, wideSum = 0;
  int wides = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    const double mm = Mm(ink, bars[i]->Width);
    if (mm >= kMinWideMm && mm <= kMaxWideMm) {
      wide[i] = true;
      wideSum += mm;
      ++wides;
    } else if (mm >= kMinNarrowMm && mm <= kMaxNarrowMm) {
      narrowSum += mm;
    } else {
      return {};
    }
  }
  if (wides != 2 || wideSum < 1.6 * narrowSum) return {};
  // Read from the nearer edge: the sheet may have come in upside down or sideways.
  double cx = 0, cy = 0;
  for (const TBar* b : bars) {
    cx += b->Cx / 4;
    cy += b->Cy / 4;
  }
  const bool upright = bars[0]->Upright;
  const double at = upright ? cx : cy, extent = upright ? ink.Width : ink.Height;
  TFound found;
  found.FromEdge = std::min(at, extent - at);
  if (at > extent / 2) std::reverse(wide.begin(), wide.end());
  for (const TPattern& p : kPatterns)
    if (p.Wide == wide) found.Code = p.Code;
  return found;
}

// Bars in fours: parallel, side by side over their length, a space apart, with clear paper
// beyond the outer two.
TPatchCode FindInBars(const TPageInk& ink, const std::vector<TBar>& bars, int threshold) {
  const std::size_t n = bars.size();
  std::vector<std::int32_t> next(n, -1);
  std::vector<bool> follows(n, false);
  for (std::size_t i = 0; i < n; ++i) {
    const TBar& a = bars[i];
    double nx = 0, ny = 0;
    Across(a, nx, ny);
    double best = 0;
    for (std::size_t j = 0; j < n; ++j) {
      const TBar& b = bars[j];
      double across = 0;
      if (j == i || b.Upright != a.Upright || !Beside(a, b, nx, ny, across) || across <= 0) continue;
      const double space = Mm(ink, across - (a.Width + b.Width) / 2);
      if (space < kMinSpaceMm || space > kMaxSpaceMm) continue;
      if (next[i] < 0 || across < best) {
        next[i] = static_cast<std::int32_t>(j);
        best = across;
      }
    }
    if (next[i] >= 0) follows[static_cast<std::size_t>(next[i])] = true;
  }
  TFound best;
  for (std::size_t i = 0; i < n; ++i) {
    if (follows[i] || next[i] < 0) continue;
    std::array<const TBar*, 4> group{};
    std::size_t count = 0;
    for (std::int32_t k = static_cast<std::int32_t>(i); k >= 0 && count <= 4; k = next[static_cast<std::size_t>(k)]) {
      if (count < 4) group[count] = &bars[static_cast<std::size_t>(k)];
      ++count;
    }
    if (count != 4) continue;
    const double nx = -std::sin(group[0]->Angle), ny = std::cos(group[0]->Angle);
    // The same direction as the one the bars were chained along.
    const double sx = group[3]->Cx - group[0]->Cx, sy = group[3]->Cy - group[0]->Cy;
    const double sign = sx * nx + sy * ny >= 0 ? 1 : -1;
    if (!QuietBeyond(ink, *group[0], -sign * nx, -sign * ny, threshold) ||
        !QuietBeyond(ink, *group[3], sign * nx, sign * ny, threshold) ||
        NeighbourBeyond(ink, bars, *group[0], -sign * nx, -sign * ny) ||
        NeighbourBeyond(ink, bars, *group[3], sign * nx, sign * ny))
      continue;
    const TFound found = Read(ink, group);
    if (found.Code != TPatchCode::None && (best.Code == TPatchCode::None || found.FromEdge < best.FromEdge))
      best = found;
  }
  return best.Code;
}

}  // namespace

const char* PatchCodeName(TPatchCode code) {
  switch (code) {
    case TPatchCode::None: return "";
    case TPatchCode::Patch1: return "Patch 1";
    case TPatchCode::Patch2: return "Patch 2";
    case TPatchCode::Patch3: return "Patch 3";
    case TPatchCode::Patch4: return "Patch 4";
    case TPatchCode::Patch6: return "Patch 6";
    case TPatchCode::PatchT: return "Patch T";
  }
  return "";
}

TPatchCode FindPatchCode(const TDibGraphic& page, std::uint16_t dpi) {
  const TPageInk ink = MeasureInk(page, dpi, InkChannelFor(page), kPatchAnalysisDpi);
  if (!ink.Analysed() || ink.Dpi < kMinSampleDpi) return TPatchCode::None;
  const int threshold = std::max(kMinInkDarkness, 4 * ink.Noise);
  std::vector<TBar> bars;
  for (const TMoments& m : InkPatches(ink, threshold)) {
    TBar bar;
    if (AsBar(ink, m, bar)) bars.push_back(bar);
    if (bars.size() > kMaxBars) return TPatchCode::None;
  }
  if (bars.size() < 4) return TPatchCode::None;
  return FindInBars(ink, bars, threshold);
}

}  // namespace lumipage
