#include "imaging/BlankPage.h"

#include <algorithm>
#include <vector>

#include "platform/Interrupt.h"

namespace lumipage {

namespace {

// A mark is at least this long (a full stop is not; the digit 1 of a 9-point page number is)...
constexpr double kMinMarkMm = 1.2;
// ...and covers at least this much paper, in square millimetres.
constexpr double kMinMarkAreaMm2 = 0.12;
// Darkness that may belong to a mark, and darkness that a mark reaches somewhere, at the least;
// both rise with the paper's noise. The faintest marks people make (light pencil, grey print)
// are 40 levels and more below the paper; show-through from the back and paper texture stay
// within about 25.
constexpr int kMinGrowDarkness = 12;
constexpr int kMinPeakDarkness = 34;
// Specks of dust on a side, at most, per square decimetre: a dusty glass leaves tens on a page.
constexpr double kMaxSpecksPerDm2 = 100.0;
// Nothing of the outer band of the scan is read as a mark: feeder edges, a sheet's own edge.
constexpr double kOuterBandMm = 3.0;
// What reaches the edge of the scan is the lid, a shadow or the sheet's edge as long as it stays
// within this band; a picture or a dark area printed to the edge reaches further in.
constexpr double kEdgeBandMm = 20.0;
// Punch holes: round, this wide, their centres this near an edge.
constexpr double kMinHoleMm = 3.5;
constexpr double kMaxHoleMm = 10.0;
constexpr double kHoleEdgeMm = 25.0;
// Shadow strips: near an edge, along it, long and narrow.
constexpr double kStripEdgeMm = 15.0;
constexpr double kMinStripMm = 20.0;
constexpr int kStripElongation = 4;

struct TThresholds {
  int Grow = kMinGrowDarkness;
  int Peak = kMinPeakDarkness;
};

TThresholds ThresholdsFor(const TPageInk& ink) {
  return TThresholds{std::max(kMinGrowDarkness, ink.Noise * 5 / 2), std::max(kMinPeakDarkness, ink.Noise * 4)};
}

// A connected area of samples darker than the grow threshold, and its core: the samples that
// reach the peak threshold. The core is what is measured: a speck of dust inside faint
// show-through is a speck, however far the show-through around it reaches.
struct TSpot {
  std::int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;  // core, inclusive
  std::int64_t Count = 0;                                  // core samples
  std::int64_t Inner = 0;  // core samples beyond the edge band
  // Darkest pair of neighbouring samples, averaged: a single noisy sample counts half.
  int Peak = 0;
  bool Border = false;  // reaches the edge of the scan
};

class TSpotFinder {
 public:
  TSpotFinder(const TPageInk& ink, int grow, int peak)
      : ink_(ink), grow_(grow), peak_(peak), band_(static_cast<std::int32_t>(ink.Samples(kEdgeBandMm))), seen_(static_cast<std::size_t>(ink.Width) * static_cast<std::size_t>(ink.Height)) {}

  [[nodiscard]] bool Unseen(std::int32_t x, std::int32_t y) const {
    const std::size_t i = Index(x, y);
    return seen_[i] == 0 && ink_.Darkness[i] >= grow_;
  }

  // The spot through (x, y), eight-connected.
  TSpot Grow(std::int32_t x0, std::int32_t y0) {
    TSpot s{ink_.Width, ink_.Height, -1, -1, 0, 0, 0, false};
    stack_.clear();
    seen_[Index(x0, y0)] = 1;
    stack_.push_back({x0, y0});
    while (!stack_.empty()) {
      const auto [x, y] = stack_.back();
      stack_.pop_back();
      Add(s, x, y);
      for (std::int32_t dy = -1; dy <= 1; ++dy) {
        for (std::int32_t dx = -1; dx <= 1; ++dx) {
          const std::int32_t nx = x + dx, ny = y + dy;
          if (nx < 0 || ny < 0 || nx >= ink_.Width || ny >= ink_.Height || !Unseen(nx, ny)) continue;
          seen_[Index(nx, ny)] = 1;
          stack_.push_back({nx, ny});
        }
      }
    }
    return s;
  }

 private:
  [[nodiscard]] std::size_t Index(std::int32_t x, std::int32_t y) const {
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(ink_.Width) + static_cast<std::size_t>(x);
  }
  [[nodiscard]] int DarknessAt(std::int32_t x, std::int32_t y) const { return ink_.Darkness[Index(x, y)]; }

  void Add(TSpot& s, std::int32_t x, std::int32_t y) const {
    if (x == 0 || y == 0 || x == ink_.Width - 1 || y == ink_.Height - 1) {
      s.Border = true;
      return;
    }
    const int here = DarknessAt(x, y);
    const int pair = std::max(std::max(DarknessAt(x + 1, y), DarknessAt(x - 1, y)),
                              std::max(DarknessAt(x, y + 1), DarknessAt(x, y - 1)));
    const int darkness = (here + std::min(here, pair) + 1) / 2;
    s.Peak = std::max(s.Peak, darkness);
    if (darkness < peak_) return;
    s.Left = std::min(s.Left, x);
    s.Right = std::max(s.Right, x);
    s.Top = std::min(s.Top, y);
    s.Bottom = std::max(s.Bottom, y);
    ++s.Count;
    if (x >= band_ && y >= band_ && x < ink_.Width - band_ && y < ink_.Height - band_) ++s.Inner;
  }

  const TPageInk& ink_;
  int grow_;
  int peak_;
  std::int32_t band_;
  std::vector<std::uint8_t> seen_;
  std::vector<std::pair<std::int32_t, std::int32_t>> stack_;
};

bool Between(double v, double low, double high) { return v >= low && v <= high; }

// A round spot of a punch hole's size near an edge.
bool PunchHole(const TSpot& s, const TPageInk& ink, double w, double h) {
  if (!Between(w, ink.Samples(kMinHoleMm), ink.Samples(kMaxHoleMm)) ||
      !Between(h, ink.Samples(kMinHoleMm), ink.Samples(kMaxHoleMm)) || w > 1.6 * h || h > 1.6 * w)
    return false;
  const double cx = (s.Left + s.Right) / 2.0, cy = (s.Top + s.Bottom) / 2.0;
  const double nearest = std::min({cx, cy, ink.Width - 1 - cx, ink.Height - 1 - cy});
  return nearest <= ink.Samples(kHoleEdgeMm);
}

// A long narrow spot near an edge and along it: a shadow or the sheet's own edge.
bool EdgeStrip(const TSpot& s, const TPageInk& ink, double w, double h) {
  const double band = ink.Samples(kStripEdgeMm), longest = ink.Samples(kMinStripMm);
  const bool alongTopOrBottom = (s.Bottom < band || s.Top > ink.Height - 1 - band) && w >= longest &&
                                w >= kStripElongation * h;
  const bool alongSide = (s.Right < band || s.Left > ink.Width - 1 - band) && h >= longest &&
                         h >= kStripElongation * w;
  return alongTopOrBottom || alongSide;
}

bool InOuterBand(const TSpot& s, const TPageInk& ink) {
  const double band = ink.Samples(kOuterBandMm);
  return s.Right < band || s.Bottom < band || s.Left > ink.Width - 1 - band || s.Top > ink.Height - 1 - band;
}

enum class TSpotKind { Faint, Speck, Flaw, Mark };

TSpotKind Classify(const TSpot& s, const TPageInk& ink, const TThresholds& t) {
  if (s.Peak < t.Peak) return TSpotKind::Faint;
  const double minArea = kMinMarkAreaMm2 * ink.Samples(1.0) * ink.Samples(1.0);
  if (s.Border) return static_cast<double>(s.Inner) >= minArea ? TSpotKind::Mark : TSpotKind::Flaw;
  const double w = s.Right - s.Left + 1, h = s.Bottom - s.Top + 1;
  if (std::max(w, h) < ink.Samples(kMinMarkMm) || static_cast<double>(s.Count) < minArea) return TSpotKind::Speck;
  return InOuterBand(s, ink) || PunchHole(s, ink, w, h) || EdgeStrip(s, ink, w, h) ? TSpotKind::Flaw : TSpotKind::Mark;
}

}  // namespace

TBlankVerdict JudgeBlank(const TPageInk& ink) {
  TBlankVerdict verdict;
  if (!ink.Analysed()) return verdict;
  verdict.Analysed = true;
  const TThresholds t = ThresholdsFor(ink);
  TSpotFinder finder(ink, t.Grow, t.Peak);
  // Dust leaves a few specks; a fine pattern or tiny print leaves them everywhere.
  const double maxSpecks = kMaxSpecksPerDm2 * ink.Width * ink.Height / (ink.Samples(100.0) * ink.Samples(100.0));
  std::int64_t specks = 0;
  for (std::int32_t y = 0; y < ink.Height; ++y) {
    if (y % 256 == 0) platform::CheckInterrupt();
    const std::uint8_t* row = ink.Darkness.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(ink.Width);
    for (std::int32_t x = 0; x < ink.Width; ++x) {
      // A spot is grown only from a sample dark enough to be part of a mark: faint
      // show-through and texture, however wide, cost nothing.
      if (row[x] < t.Peak || !finder.Unseen(x, y)) continue;
      const TSpot s = finder.Grow(x, y);
      const TSpotKind kind = Classify(s, ink, t);
      if (kind == TSpotKind::Speck) ++specks;
      if (kind != TSpotKind::Mark && static_cast<double>(specks) <= maxSpecks) continue;
      verdict.MarkLeft = s.Left;
      verdict.MarkTop = s.Top;
      verdict.MarkRight = s.Right;
      verdict.MarkBottom = s.Bottom;
      verdict.MarkDarkness = s.Peak;
      return verdict;
    }
  }
  verdict.Blank = true;
  return verdict;
}

TBlankVerdict JudgeBlank(const TDibGraphic& page, const TPageInk& ink, std::uint16_t dpi) {
  TBlankVerdict verdict = JudgeBlank(ink);
  // Paper is light in every channel. A page whose darkest channel is dark all over is strongly
  // coloured paper or a page filled with saturated colour: black or dark marks, and bands of
  // other colours, barely differ from it there, so it is blank only if its brightness shows no
  // mark either. The quick look of InkChannelFor sends most such pages to luma at once.
  if (verdict.Blank && ink.Channel == TInkChannel::Darkest && ink.PaperLevel < kDarkPaperLevel && HasColour(page)) {
    const TPageInk luma = MeasureInk(page, dpi, TInkChannel::Luma);
    if (luma.Analysed()) verdict = JudgeBlank(luma);
  }
  return verdict;
}

TBlankVerdict JudgeBlank(const TDibGraphic& page, std::uint16_t dpi) {
  return JudgeBlank(page, MeasureInk(page, dpi, InkChannelFor(page)), dpi);
}

}  // namespace lumipage
