#include "tests/support/DrawnPages.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "imaging/Canvas.h"
#include "imaging/DefaultPalettes.h"

namespace lumipage::testing {

namespace {

constexpr double kPi = std::numbers::pi;

// A small deterministic generator: the same seed draws the same page everywhere.
class TRandom {
 public:
  explicit TRandom(std::uint32_t seed) : state_(0x9E3779B97F4A7C15ull ^ (seed * 0x2545F4914F6CDD1Dull)) {}
  std::uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return static_cast<std::uint32_t>(state_ >> 16);
  }
  double Uniform() { return (Next() & 0xFFFFFF) / 16777216.0; }
  // Roughly normal, unit deviation (three uniforms).
  double Normal() { return (Uniform() + Uniform() + Uniform() - 1.5) * 2.0; }

 private:
  std::uint64_t state_;
};

// Single precision: a page at 600 dpi is tens of millions of pixels.
struct TRgb {
  float R, G, B;
};

TRgb Rgb(double r, double g, double b) { return {static_cast<float>(r), static_cast<float>(g), static_cast<float>(b)}; }
TRgb Darker(const TRgb& p, double d) { return Rgb(p.R - d, p.G - d, p.B - d); }
TRgb RgbOf(std::uint32_t c) { return Rgb((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF); }

// The page while it is drawn: floating-point colour, rows from the top.
class TSheet {
 public:
  TSheet(int w, int h, double dpi, TRgb paper) : W(w), H(h), Dpi(dpi), px_(static_cast<std::size_t>(w) * h, paper) {}
  int W, H;
  double Dpi;
  [[nodiscard]] double Px(double mm) const { return mm * Dpi / 25.4; }
  TRgb& At(int x, int y) { return px_[static_cast<std::size_t>(y) * W + x]; }
  [[nodiscard]] const TRgb& At(int x, int y) const { return px_[static_cast<std::size_t>(y) * W + x]; }
  [[nodiscard]] bool Inside(int x, int y) const { return x >= 0 && y >= 0 && x < W && y < H; }

  // Lays colour over the pixel with the given opacity.
  void Over(int x, int y, TRgb c, double alpha) {
    if (!Inside(x, y) || alpha <= 0) return;
    TRgb& p = At(x, y);
    alpha = std::min(alpha, 1.0);
    p = Rgb(p.R + (c.R - p.R) * alpha, p.G + (c.G - p.G) * alpha, p.B + (c.B - p.B) * alpha);
  }
  // Multiplies like ink on paper: 0 coverage leaves the paper, 1 gives the ink.
  void Ink(int x, int y, TRgb ink, double coverage) {
    if (!Inside(x, y) || coverage <= 0) return;
    coverage = std::min(coverage, 1.0);
    TRgb& p = At(x, y);
    p = Rgb(p.R * (1 - coverage * (1 - ink.R / 255)), p.G * (1 - coverage * (1 - ink.G / 255)),
            p.B * (1 - coverage * (1 - ink.B / 255)));
  }
  // A round pen of radius r (pixels) at (cx, cy), edges anti-aliased.
  void Dot(double cx, double cy, double r, TRgb ink, double strength) {
    const int x0 = static_cast<int>(std::floor(cx - r - 1)), x1 = static_cast<int>(std::ceil(cx + r + 1));
    const int y0 = static_cast<int>(std::floor(cy - r - 1)), y1 = static_cast<int>(std::ceil(cy + r + 1));
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x) {
        const double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
        const double cover = std::clamp(r + 0.5 - d, 0.0, 1.0);
        if (cover > 0) StrokeMax(x, y, ink, cover * strength);
      }
  }
  // A stroke along a path: each pixel takes the strongest coverage any pen position gives it.
  void StrokeMax(int x, int y, TRgb ink, double coverage) {
    if (!Inside(x, y)) return;
    const std::size_t i = static_cast<std::size_t>(y) * W + x;
    if (stroke_.size() != px_.size()) stroke_.assign(px_.size(), 0.0f);
    if (coverage <= stroke_[i]) return;
    // Only the part beyond what this stroke already laid down.
    const double more = (coverage - stroke_[i]) / (1 - stroke_[i] + 1e-9);
    stroke_[i] = static_cast<float>(coverage);
    Ink(x, y, ink, more);
  }
  void EndStroke() { stroke_.clear(); }
  // A path from points, a pen of radius r.
  void Path(const std::vector<std::pair<double, double>>& points, double r, TRgb ink, double strength) {
    for (std::size_t i = 0; i + 1 < points.size(); ++i) {
      const auto [ax, ay] = points[i];
      const auto [bx, by] = points[i + 1];
      const int n = std::max(1, static_cast<int>(std::hypot(bx - ax, by - ay) * 2));
      for (int k = 0; k <= n; ++k) Dot(ax + (bx - ax) * k / n, ay + (by - ay) * k / n, r, ink, strength);
    }
    EndStroke();
  }

 private:
  std::vector<TRgb> px_;
  std::vector<float> stroke_;
};

// Text drawn by the image library's canvas onto white, as coverage 0..1 per pixel.
std::vector<float> TextCoverage(int w, int h, double dpi, const std::vector<std::string>& lines, double points,
                                 double leftMm, double topMm, double lineMm, bool serif) {
  TBitmapGraphic layer;
  layer.NewImage(w, h, ikGray256, nullptr, static_cast<std::uint16_t>(dpi), static_cast<std::uint16_t>(dpi));
  layer.FillColor(0xFFFFFF);
  TCanvas canvas(layer);
  canvas.Font().Name = serif ? "Liberation Serif" : "Liberation Sans";
  canvas.Font().Height = static_cast<std::int32_t>(std::lround(points / 72.0 * dpi * 1.15));
  canvas.Font().Color = clBlack;
  canvas.Brush().Style = bsClear;
  const double px = dpi / 25.4;
  for (std::size_t i = 0; i < lines.size(); ++i)
    canvas.TextOut(static_cast<std::int32_t>(leftMm * px), static_cast<std::int32_t>((topMm + i * lineMm) * px),
                   lines[i]);
  std::vector<float> cover(static_cast<std::size_t>(w) * h);
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* row = layer.RowBits(y);
    for (int x = 0; x < w; ++x) cover[static_cast<std::size_t>(y) * w + x] = static_cast<float>((255 - row[x]) / 255.0);
  }
  return cover;
}

void InkText(TSheet& s, const std::vector<float>& cover, TRgb ink, double strength, bool mirror) {
  for (int y = 0; y < s.H; ++y)
    for (int x = 0; x < s.W; ++x) {
      const double c = cover[static_cast<std::size_t>(y) * s.W + (mirror ? s.W - 1 - x : x)];
      if (c > 0) s.Ink(x, y, ink, c * strength);
    }
}

// A box blur of radius r along both axes, in place.
void Blur(std::vector<float>& v, int w, int h, int r) {
  for (int pass = 0; pass < 2; ++pass) {
    const bool across = pass == 0;
    const int n = across ? w : h, lines = across ? h : w;
    for (int l = 0; l < lines; ++l) {
      auto at = [&](int i) -> float& {
        return across ? v[static_cast<std::size_t>(l) * w + i] : v[static_cast<std::size_t>(i) * w + l];
      };
      double sum = 0;
      std::vector<double> line(static_cast<std::size_t>(n));
      for (int i = 0; i < n; ++i) line[static_cast<std::size_t>(i)] = at(i);
      for (int i = -r; i <= r; ++i) sum += line[static_cast<std::size_t>(std::clamp(i, 0, n - 1))];
      for (int i = 0; i < n; ++i) {
        at(i) = static_cast<float>(sum / (2 * r + 1));
        sum += line[static_cast<std::size_t>(std::clamp(i + r + 1, 0, n - 1))] -
               line[static_cast<std::size_t>(std::clamp(i - r, 0, n - 1))];
      }
    }
  }
}

const std::vector<std::string>& Paragraph() {
  static const std::vector<std::string> lines = {
      "The quarterly statement lists every payment received",
      "and every invoice still open on the last day of the",
      "period. Amounts are shown in euro and include value",
      "added tax where it applies. Please check the entries",
      "against your own records and tell us of any error",
      "within thirty days of the date of this statement.",
      "Payments made after the closing date appear on the",
      "next statement. Thank you for your continued custom."};
  return lines;
}

// A filled rectangle in millimetres, inked with the given coverage.
void FillMm(TSheet& s, double leftMm, double topMm, double widthMm, double heightMm, TRgb ink, double coverage) {
  const double px = s.Dpi / 25.4;
  const int x0 = static_cast<int>(std::lround(leftMm * px)), x1 = static_cast<int>(std::lround((leftMm + widthMm) * px));
  const int y0 = static_cast<int>(std::lround(topMm * px)), y1 = static_cast<int>(std::lround((topMm + heightMm) * px));
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) s.Ink(x, y, ink, coverage);
}

// Bars 64 mm (2.5 in) long, 15 mm below the top, centred; narrow bars and spaces 2.03 mm, wide
// bars 5.08 mm. A label far enough below them to leave their quiet zone clear.
void DrawPatch(TSheet& s, const std::string& bars, double coverage) {
  const double px = s.Dpi / 25.4, widthMm = s.W / px;
  double top = 15;
  for (std::size_t i = 0; i < bars.size(); ++i) {
    const double thick = bars[i] == 'W' ? 5.08 : 2.03;
    FillMm(s, widthMm / 2 - 32, top, 64, thick, {0, 0, 0}, coverage);
    top += thick + 2.03;
  }
  InkText(s, TextCoverage(s.W, s.H, s.Dpi, {"DOCUMENT SEPARATOR", "Place this sheet before each document"}, 14,
                          widthMm / 2 - 45, top + 20, 8, false),
          {20, 20, 20}, 1.0, false);
}

void DrawMark(TSheet& s, TSideMark mark, TRandom& rnd, const TSideSpec& spec) {
  const double px = s.Dpi / 25.4;
  switch (mark) {
    case TSideMark::None:
      break;
    case TSideMark::FaintText:
      InkText(s, TextCoverage(s.W, s.H, s.Dpi, {"Received with thanks", "ref. 2026-114"}, 7, 25, 40, 4, false),
              {175, 175, 175}, 1.0, false);
      break;
    case TSideMark::PencilNote: {
      // Cursive loops along a line, 30 mm long and 5 mm high.
      std::vector<std::pair<double, double>> points;
      const double x0 = 60 * px, y0 = 90 * px;
      for (int i = 0; i <= 600; ++i) {
        const double t = i / 600.0;
        points.emplace_back(x0 + t * 30 * px + 1.5 * px * std::cos(t * 28 * kPi),
                            y0 + 2.5 * px * std::sin(t * 28 * kPi) * (0.6 + 0.4 * std::sin(t * 5)));
      }
      s.Path(points, 0.12 * px, {120, 120, 125}, 0.6);
      break;
    }
    case TSideMark::PageNumber:
      InkText(s, TextCoverage(s.W, s.H, s.Dpi, {"7"}, 10, s.W / px / 2 - 1.5, s.H / px - 18, 5, true),
              {30, 30, 30}, 1.0, false);
      break;
    case TSideMark::Stamp: {
      std::vector<std::pair<double, double>> ring;
      const double cx = s.W * 0.65, cy = s.H * 0.3, r = 10 * px;
      for (int i = 0; i <= 400; ++i) ring.emplace_back(cx + r * std::cos(i * 2 * kPi / 400), cy + r * std::sin(i * 2 * kPi / 400));
      s.Path(ring, 0.3 * px, {200, 40, 50}, 0.55);
      s.Path({{cx - 7 * px, cy}, {cx + 7 * px, cy}}, 0.5 * px, {200, 40, 50}, 0.55);
      break;
    }
    case TSideMark::SignatureLine: {
      const double length = std::min(60 * px, s.W * 0.5);
      s.Path({{s.W * 0.9 - length, s.H * 0.8}, {s.W * 0.9, s.H * 0.8}}, 0.1 * px, {70, 70, 70}, 1.0);
      break;
    }
    case TSideMark::Tick: {
      const double x = s.W * 0.45, y = s.H * 0.5;
      s.Path({{x, y}, {x + 1 * px, y + 1.2 * px}, {x + 3 * px, y - 1.8 * px}}, 0.1 * px, {40, 60, 160}, 0.8);
      break;
    }
    case TSideMark::TextPage: {
      std::vector<std::string> lines;
      for (int i = 0; i < 3; ++i) lines.insert(lines.end(), Paragraph().begin(), Paragraph().end());
      InkText(s, TextCoverage(s.W, s.H, s.Dpi, lines, 11, 22, 30, 6.5, true), {20, 20, 20}, 1.0, false);
      break;
    }
    case TSideMark::Drawing:
      for (int k = 0; k < 6; ++k) {
        std::vector<std::pair<double, double>> curve;
        const double cx = s.W * (0.25 + 0.5 * rnd.Uniform()), cy = s.H * (0.25 + 0.5 * rnd.Uniform());
        const double r = (15 + 25 * rnd.Uniform()) * px, wobble = rnd.Uniform() * 0.3;
        for (int i = 0; i <= 500; ++i) {
          const double t = i * 2 * kPi / 500;
          const double rr = r * (1 + wobble * std::sin(3 * t + k));
          curve.emplace_back(cx + rr * std::cos(t), cy + rr * 0.8 * std::sin(t));
        }
        s.Path(curve, 0.3 * px, {30, 30, 30}, 1.0);
      }
      break;
    case TSideMark::EdgeToEdgeBand:
      for (int y = static_cast<int>(s.H * 0.3); y < static_cast<int>(s.H * 0.3 + 30 * px); ++y)
        for (int x = 0; x < s.W; ++x) s.Ink(x, y, {120, 140, 160}, 1.0);
      break;
    case TSideMark::PatchCode:
      DrawPatch(s, spec.Patch, spec.PatchInk);
      break;
    case TSideMark::ThickRules: {
      // Heavy rules above and below the header, a 3 mm band under it, thin rules between the rows.
      const double widthMm = s.W / px;
      FillMm(s, 20, 30, widthMm - 40, 1.5, {20, 20, 20}, 1.0);
      FillMm(s, 20, 40, widthMm - 40, 3, {20, 20, 20}, 1.0);
      for (int row = 0; row < 10; ++row) FillMm(s, 20, 50 + row * 7.5, widthMm - 40, 0.5, {20, 20, 20}, 1.0);
      FillMm(s, 20, 127, widthMm - 40, 5, {20, 20, 20}, 1.0);
      InkText(s, TextCoverage(s.W, s.H, s.Dpi, {"Item        Qty     Price", "Paper A4    10      4.20"}, 10, 24, 33, 9.5, false),
              {20, 20, 20}, 1.0, false);
      break;
    }
    case TSideMark::RuledLines:
      for (double y = 25; y < s.H / px - 10; y += 8) FillMm(s, 0, y, s.W / px, 0.3, {90, 110, 160}, 1.0);
      FillMm(s, 25, 0, 0.4, s.H / px, {200, 60, 60}, 1.0);
      break;
    case TSideMark::ThickBorder:
      FillMm(s, 8, 8, s.W / px - 16, 5, {10, 10, 10}, 1.0);
      FillMm(s, 8, s.H / px - 13, s.W / px - 16, 5, {10, 10, 10}, 1.0);
      FillMm(s, 8, 8, 5, s.H / px - 16, {10, 10, 10}, 1.0);
      FillMm(s, s.W / px - 13, 8, 5, s.H / px - 16, {10, 10, 10}, 1.0);
      break;
    case TSideMark::Photo: {
      // A picture that fades into the paper at its edges: it has no straight edge of its own.
      const int x0 = static_cast<int>(s.W * 0.1), x1 = static_cast<int>(s.W * 0.9);
      const int y0 = static_cast<int>(s.H * 0.1), y1 = static_cast<int>(s.H * 0.7);
      for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
          const double u = double(x - x0) / (x1 - x0), v = double(y - y0) / (y1 - y0);
          const double blob = std::exp(-((u - 0.4) * (u - 0.4) + (v - 0.5) * (v - 0.5)) * 12);
          const double fade = std::pow(std::sin(u * kPi) * std::sin(v * kPi), 0.7);
          const TRgb picture = Rgb(60 + 150 * u * (1 - blob), 90 + 120 * v, 140 + 80 * blob + 30 * std::sin(u * 9 + v * 4));
          s.Over(x, y, picture, fade);
        }
      break;
    }
  }
}

// The sheet turned clockwise by a quarter: the left edge becomes the top.
TSheet QuarterTurned(const TSheet& s, TRgb paper) {
  TSheet out(s.H, s.W, s.Dpi, paper);
  for (int y = 0; y < s.H; ++y)
    for (int x = 0; x < s.W; ++x) out.At(s.H - 1 - y, x) = s.At(x, y);
  return out;
}

// The sheet turned about its centre by degrees (lines falling to the right), bilinear in floating
// point; what comes into view is paper.
TSheet Turned(const TSheet& s, double degrees, TRgb paper) {
  TSheet out(s.W, s.H, s.Dpi, paper);
  const double a = degrees * kPi / 180, c = std::cos(a), sn = std::sin(a);
  const double cx = (s.W - 1) / 2.0, cy = (s.H - 1) / 2.0;
  for (int y = 0; y < s.H; ++y)
    for (int x = 0; x < s.W; ++x) {
      // The straight sheet's point that lands here: turn back by -a.
      const double dx = x - cx, dy = y - cy;
      const double sx = cx + dx * c + dy * sn, sy = cy - dx * sn + dy * c;
      const int ix = static_cast<int>(std::floor(sx)), iy = static_cast<int>(std::floor(sy));
      if (ix < 0 || iy < 0 || ix + 1 >= s.W || iy + 1 >= s.H) continue;
      const double fx = sx - ix, fy = sy - iy;
      const TRgb &p00 = s.At(ix, iy), &p01 = s.At(ix + 1, iy), &p10 = s.At(ix, iy + 1), &p11 = s.At(ix + 1, iy + 1);
      auto mix = [&](float TRgb::*ch) {
        return (p00.*ch * (1 - fx) + p01.*ch * fx) * (1 - fy) + (p10.*ch * (1 - fx) + p11.*ch * fx) * fy;
      };
      out.At(x, y) = Rgb(mix(&TRgb::R), mix(&TRgb::G), mix(&TRgb::B));
    }
  return out;
}

void DrawFlawsOnSheet(TSheet& s, const TSideFlaws& f, TRandom& rnd) {
  const double px = s.Dpi / 25.4;
  if (f.Texture > 0) {
    // Blotches of about 3 mm: random values on a grid, interpolated.
    const double cell = 3 * px;
    const int gw = static_cast<int>(s.W / cell) + 2, gh = static_cast<int>(s.H / cell) + 2;
    std::vector<double> grid(static_cast<std::size_t>(gw) * gh);
    for (double& g : grid) g = rnd.Normal() * f.Texture;
    for (int y = 0; y < s.H; ++y)
      for (int x = 0; x < s.W; ++x) {
        const double u = x / cell, v = y / cell;
        const int i = static_cast<int>(u), j = static_cast<int>(v);
        const double fu = u - i, fv = v - j;
        auto g = [&](int a, int b) { return grid[static_cast<std::size_t>(b) * gw + a]; };
        const double t = (g(i, j) * (1 - fu) + g(i + 1, j) * fu) * (1 - fv) + (g(i, j + 1) * (1 - fu) + g(i + 1, j + 1) * fu) * fv;
        s.At(x, y) = Darker(s.At(x, y), -t);
      }
  }
  if (f.ShowThrough > 0) {
    std::vector<float> cover = TextCoverage(s.W, s.H, s.Dpi, Paragraph(), 12, 20, 35, 7, true);
    Blur(cover, s.W, s.H, std::max(1, static_cast<int>(0.35 * px)));
    for (int y = 0; y < s.H; ++y)
      for (int x = 0; x < s.W; ++x) {
        const double d = f.ShowThrough * std::min(1.0, cover[static_cast<std::size_t>(y) * s.W + (s.W - 1 - x)] * 1.6);
        s.At(x, y) = Darker(s.At(x, y), d);
      }
  }
  if (f.PunchHoles || f.HoleShadows) {
    for (double yMm : {s.H / px / 2 - 40, s.H / px / 2 + 40}) {
      const double cx = 12 * px, cy = yMm * px, r = 3 * px;
      if (f.PunchHoles) {
        for (int y = static_cast<int>(cy - r - 2); y <= cy + r + 2; ++y)
          for (int x = static_cast<int>(cx - r - 2); x <= cx + r + 2; ++x)
            s.Over(x, y, {25, 25, 28}, std::clamp(r + 0.5 - std::hypot(x + 0.5 - cx, y + 0.5 - cy), 0.0, 1.0));
      } else {
        std::vector<std::pair<double, double>> ring;
        for (int i = 0; i <= 300; ++i) ring.emplace_back(cx + r * std::cos(i * 2 * kPi / 300), cy + r * std::sin(i * 2 * kPi / 300));
        s.Path(ring, 0.3 * px, {150, 150, 150}, 0.7);
      }
    }
  }
}

void DrawScannerFlaws(TSheet& s, const TSideFlaws& f, TRandom& rnd) {
  const double px = s.Dpi / 25.4;
  if (f.ShadowStrip) {
    const double band = 8 * px;
    for (int y = 0; y < std::min<int>(s.H, static_cast<int>(band)); ++y) {
      const double d = 110 * std::pow(1 - y / band, 2);
      for (int x = 0; x < s.W; ++x) {
        s.At(x, y) = Darker(s.At(x, y), d);
      }
    }
  }
  if (f.DarkFrame) {
    const int edge = static_cast<int>(4 * px);
    for (int y = 0; y < s.H; ++y)
      for (int x = 0; x < s.W; ++x)
        if (x < edge || y < edge || x >= s.W - edge || y >= s.H - edge) s.At(x, y) = {35, 35, 38};
  }
  for (int i = 0; i < f.Dust; ++i) {
    const double r = (0.05 + 0.15 * rnd.Uniform()) * px;
    s.Dot(s.W * (0.05 + 0.9 * rnd.Uniform()), s.H * (0.05 + 0.9 * rnd.Uniform()), r, {50, 50, 50}, 0.9);
    s.EndStroke();
  }
}

std::unique_ptr<TBitmapGraphic> ToImage(const TSheet& s, const TSideSpec& spec, TRandom& rnd) {
  auto page = std::make_unique<TBitmapGraphic>();
  const auto dpi = static_cast<std::uint16_t>(spec.Dpi);
  page->NewImage(s.W, s.H, spec.Grey ? ikGray256 : ikTrueColor, nullptr, dpi, dpi);
  const double noise = spec.Flaws.Noise;
  auto level = [&](double v) {
    return static_cast<std::uint8_t>(std::clamp(std::lround(v + (noise > 0 ? rnd.Normal() * noise : 0)), 0L, 255L));
  };
  for (int y = 0; y < s.H; ++y) {
    std::uint8_t* row = page->RowBits(y);
    for (int x = 0; x < s.W; ++x) {
      const TRgb& p = s.At(x, y);
      if (spec.Grey) {
        row[x] = level(0.299 * p.R + 0.587 * p.G + 0.114 * p.B);
      } else {
        row[3 * x] = level(p.B);
        row[3 * x + 1] = level(p.G);
        row[3 * x + 2] = level(p.R);
      }
    }
  }
  return page;
}

}  // namespace

std::unique_ptr<TBitmapGraphic> DrawSide(const TSideSpec& spec) {
  const double px = spec.Dpi / 25.4;
  const TRgb paper = RgbOf(spec.Paper);
  TSheet sheet(static_cast<int>(std::lround(spec.WidthMm * px)), static_cast<int>(std::lround(spec.HeightMm * px)),
               spec.Dpi, paper);
  TRandom rnd(spec.Seed);
  DrawFlawsOnSheet(sheet, spec.Flaws, rnd);
  DrawMark(sheet, spec.Mark, rnd, spec);
  for (int k = 0; k < ((spec.QuarterTurns % 4) + 4) % 4; ++k) sheet = QuarterTurned(sheet, paper);
  if (spec.SkewDegrees != 0) sheet = Turned(sheet, spec.SkewDegrees, paper);
  DrawScannerFlaws(sheet, spec.Flaws, rnd);
  return ToImage(sheet, spec, rnd);
}

namespace {

std::string DpiName(int dpi, bool grey) { return std::to_string(dpi) + (grey ? "grey" : "colour"); }

}  // namespace

std::vector<TSideSpec> ContentSides(const std::vector<int>& dpis, double widthMm, double heightMm) {
  static const struct {
    TSideMark Mark;
    const char* Name;
    std::uint32_t Paper;
    TSideFlaws Flaws;
  } kinds[] = {
      {TSideMark::FaintText, "faint_text", 0xFFFFFF, {4, 0, false, false, false, false, 0, 0}},
      {TSideMark::PencilNote, "pencil_note", 0xF6F1E4, {5, 3, false, false, false, false, 0, 6}},
      {TSideMark::PageNumber, "page_number", 0xFFFFFF, {3, 0, true, false, false, false, 0, 0}},
      {TSideMark::Stamp, "stamp", 0xFDFCF8, {4, 2, false, false, true, false, 0, 0}},
      {TSideMark::SignatureLine, "signature_line", 0xFFFFFF, {6, 0, false, false, false, false, 12, 0}},
      {TSideMark::Tick, "tick", 0xEEF4FB, {4, 2, false, false, false, false, 0, 10}},
      {TSideMark::PencilNote, "pencil_on_noise", 0xFFFFFF, {9, 0, false, false, false, false, 0, 20}},
      {TSideMark::PageNumber, "number_framed", 0xF8F8F4, {4, 0, false, true, false, true, 0, 0}},
      {TSideMark::Photo, "soft_photo", 0xFFFFFF, {4, 0, false, false, false, false, 0, 0}},
      {TSideMark::EdgeToEdgeBand, "edge_to_edge_band", 0xFFFFFF, {4, 0, false, false, false, false, 0, 0}},
      // Strongly coloured paper is dark in its weakest channel: marks count in the others.
      {TSideMark::PencilNote, "pencil_on_neon_yellow", 0xFFEA2E, {4, 2, false, false, false, false, 0, 0}},
      {TSideMark::PageNumber, "number_on_red_card", 0xD8342E, {4, 2, false, false, false, false, 0, 0}},
  };
  std::vector<TSideSpec> sides;
  std::uint32_t seed = 100;
  for (int dpi : dpis)
    for (bool grey : {false, true})
      for (const auto& k : kinds)
        sides.push_back(TSideSpec{dpi, widthMm, heightMm, k.Paper, k.Flaws, k.Mark, grey, 0, ++seed,
                                  std::string(k.Name) + "_" + DpiName(dpi, grey)});
  return sides;
}

std::vector<TSideSpec> BlankSides(const std::vector<int>& dpis, double widthMm, double heightMm) {
  static const struct {
    const char* Name;
    std::uint32_t Paper;
    TSideFlaws Flaws;
  } kinds[] = {
      {"clean", 0xFFFFFF, {}},
      {"noisy", 0xFCFCFC, {10, 0, false, false, false, false, 0, 0}},
      {"off_white_texture", 0xF3ECD8, {4, 6, false, false, false, false, 0, 0}},
      {"coloured", 0xF9E7A0, {4, 3, false, false, false, false, 0, 0}},
      {"blue_paper", 0xCFE3F5, {5, 2, false, false, false, false, 0, 0}},
      {"shadow_strip", 0xFFFFFF, {4, 0, true, false, false, false, 0, 0}},
      {"dark_frame", 0xFBFBF8, {4, 0, false, true, false, false, 0, 0}},
      {"punch_holes", 0xFFFFFF, {4, 0, false, false, true, false, 0, 0}},
      {"hole_shadows", 0xFFFFFF, {4, 0, false, false, false, true, 0, 0}},
      {"show_through", 0xFAFAFA, {4, 2, false, false, false, false, 22, 0}},
      {"dust", 0xFFFFFF, {4, 0, false, false, false, false, 0, 40}},
      {"everything", 0xF4EEDC, {6, 4, true, false, true, false, 18, 25}},
      {"neon_yellow", 0xFFEA2E, {5, 3, false, false, false, false, 0, 0}},
      {"red_card_dust", 0xD8342E, {4, 2, false, false, false, false, 0, 30}},
  };
  std::vector<TSideSpec> sides;
  std::uint32_t seed = 500;
  for (int dpi : dpis)
    for (bool grey : {false, true})
      for (const auto& k : kinds)
        sides.push_back(TSideSpec{dpi, widthMm, heightMm, k.Paper, k.Flaws, TSideMark::None, grey, 0, ++seed,
                                  std::string(k.Name) + "_" + DpiName(dpi, grey)});
  return sides;
}

double MeasuredSkew(const TDibGraphic& page, double range, double step) {
  std::vector<std::pair<int, int>> dark;
  for (int y = 0; y < page.Height(); ++y)
    for (int x = 0; x < page.Width(); ++x) {
      const std::uint32_t c = page.GetRgbPixel(x, y);
      if (std::min({(c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF}) < 128) dark.emplace_back(x, y);
    }
  double best = 0, bestScore = -1;
  const int n = static_cast<int>(std::lround(range / step));
  std::vector<double> rows;
  for (int i = -n; i <= n; ++i) {
    const double a = i * step, t = std::tan(a * kPi / 180);
    const double reach = std::abs(t) * page.Width() + 2;
    rows.assign(static_cast<std::size_t>(page.Height() + 2 * reach + 2), 0.0);
    for (const auto& [x, y] : dark) {
      // Split between the two nearest rows, so that the score changes smoothly with the angle.
      const double r = y - x * t + reach;
      const auto lower = static_cast<std::size_t>(r);
      const double f = r - lower;
      rows[lower] += 1 - f;
      rows[lower + 1] += f;
    }
    double score = 0;
    for (double v : rows) score += v * v;
    if (score > bestScore) {
      bestScore = score;
      best = a;
    }
  }
  return best;
}

std::unique_ptr<TBitmapGraphic> AsBlackWhite(const TBitmapGraphic& page) {
  auto out = std::make_unique<TBitmapGraphic>();
  out->NewImage(page.Width(), page.Height(), ikBlackWhite, DefaultPalette(ikBlackWhite), page.DpiX(), page.DpiY());
  const std::uint8_t black = out->ColorToIndex(0), white = out->ColorToIndex(0xFFFFFF);
  for (int y = 0; y < page.Height(); ++y)
    for (int x = 0; x < page.Width(); ++x) out->SetPixelIndex(x, y, (page.GetRgbPixel(x, y) & 0xFF) < 128 ? black : white);
  return out;
}

}  // namespace lumipage::testing
