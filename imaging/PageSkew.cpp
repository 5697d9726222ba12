#include "imaging/PageSkew.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "platform/Interrupt.h"

namespace lumipage {

namespace {

// Darkness of the marks whose lower edges are counted.
constexpr int kMinEdgeDarkness = 40;
// Margins left out, in millimetres: the scan's edges and a sheet's own edge are no lines of text.
constexpr double kMarginMm = 5.0;
// Fewer lower edges than this are no structure to go by (a few words have a few hundred).
constexpr std::size_t kMinPoints = 150;
// More are thinned out evenly: enough for any page, and the time per angle stays bounded.
constexpr std::size_t kMaxPoints = 60'000;
// Angle steps of the sweep and of the last refinement, in degrees.
constexpr double kSweepStep = 0.25;
constexpr double kFinestStep = 0.015625;
// The profile at the page's angle is at least this much sharper than at the typical angle of the
// sweep. Text gave 3 and more, photographs and drawings below 1.5.
constexpr double kMinConfidence = 2.0;

struct TPoint {
  std::int32_t X, Y;
};

// Lower edges of marks: dark samples above a light one.
std::vector<TPoint> LowerEdges(const TPageInk& ink) {
  std::vector<TPoint> points;
  const auto margin = static_cast<std::int32_t>(ink.Samples(kMarginMm));
  const int dark = std::max(kMinEdgeDarkness, ink.Noise * 4);
  for (std::int32_t y = margin; y + 1 < ink.Height - margin; ++y) {
    if (y % 256 == 0) platform::CheckInterrupt();
    for (std::int32_t x = margin; x < ink.Width - margin; ++x) {
      if (ink.DarknessAt(x, y) >= dark && ink.DarknessAt(x, y + 1) < dark) points.push_back({x, y});
    }
  }
  if (points.size() > kMaxPoints) {
    const std::size_t keep = kMaxPoints;
    std::vector<TPoint> thinned;
    thinned.reserve(keep);
    for (std::size_t i = 0; i < keep; ++i) thinned.push_back(points[i * points.size() / keep]);
    points.swap(thinned);
  }
  return points;
}

// Sharpness of the profile of the points along lines at the angle, counted in rows of 1/scale
// sample: the sum of the squared row counts.
class TProfile {
 public:
  TProfile(const std::vector<TPoint>& points, const TPageInk& ink) : points_(points), ink_(ink) {}

  double Score(double degrees, int scale) {
    const double slope = std::tan(degrees * std::numbers::pi / 180.0) * scale;
    const auto reach = static_cast<std::int32_t>(std::ceil(std::abs(slope) * ink_.Width)) + 1;
    shift_.resize(static_cast<std::size_t>(ink_.Width));
    for (std::int32_t x = 0; x < ink_.Width; ++x)
      shift_[static_cast<std::size_t>(x)] = static_cast<std::int32_t>(std::lround(x * slope)) - reach;
    rows_.assign(static_cast<std::size_t>(ink_.Height * scale + 2 * reach + 2), 0);
    for (const TPoint& p : points_) ++rows_[static_cast<std::size_t>(p.Y * scale - shift_[static_cast<std::size_t>(p.X)])];
    double sum = 0;
    for (std::uint32_t n : rows_) sum += static_cast<double>(n) * n;
    return sum;
  }

 private:
  const std::vector<TPoint>& points_;
  const TPageInk& ink_;
  std::vector<std::int32_t> shift_;
  std::vector<std::uint32_t> rows_;
};

}  // namespace

TSkewEstimate FindSkew(const TPageInk& ink) {
  TSkewEstimate estimate;
  if (!ink.Analysed()) return estimate;
  const std::vector<TPoint> points = LowerEdges(ink);
  if (points.size() < kMinPoints) return estimate;
  TProfile profile(points, ink);

  // The sweep: every angle of the range at a coarse step, in whole samples.
  std::vector<double> scores;
  double best = 0, bestScore = -1;
  const int steps = static_cast<int>(std::lround(kMaxSkewDegrees / kSweepStep));
  for (int i = -steps; i <= steps; ++i) {
    if ((i & 7) == 0) platform::CheckInterrupt();
    const double a = i * kSweepStep;
    const double s = profile.Score(a, 1);
    scores.push_back(s);
    if (s > bestScore) {
      bestScore = s;
      best = a;
    }
  }
  std::vector<double> sorted = scores;
  std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2), sorted.end());
  const double typical = sorted[sorted.size() / 2];
  estimate.Confidence = typical > 0 ? bestScore / typical : 0;
  // A best angle at the end of the range is a turn beyond it, or no structure at all.
  if (estimate.Confidence < kMinConfidence || std::abs(best) >= kMaxSkewDegrees) return estimate;

  // The refinement: halving steps around the best angle, in half samples.
  double here = profile.Score(best, 2);
  for (double step = kSweepStep / 2; step >= kFinestStep; step /= 2) {
    const double below = profile.Score(best - step, 2), above = profile.Score(best + step, 2);
    if (below > here && below >= above) {
      best -= step;
      here = below;
    } else if (above > here) {
      best += step;
      here = above;
    }
  }
  estimate.Reliable = true;
  estimate.Degrees = best;
  return estimate;
}

}  // namespace lumipage
