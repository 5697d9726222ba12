#include "dsm/TestPage.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/PackedDib.h"

namespace lumipage::dsm {

using namespace twain;

namespace {

struct Rgb {
  std::uint8_t r, g, b;
};

constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kBlack{0, 0, 0};

// A filled rectangle in pixels, [x0, x1) x [y0, y1), rows counted from the top.
struct Rect {
  int x0, y0, x1, y1;
  Rgb colour;
};

// Digits 0-9 on a 5 x 7 grid, one row per byte, bit 4 the leftmost column.
constexpr std::array<std::array<std::uint8_t, 7>, 10> kDigits{{
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E},
    {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F},
    {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02},
    {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E},
    {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E},
    {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},
}};

constexpr std::array<Rgb, 6> kPatches{{{220, 30, 30}, {30, 170, 50}, {30, 60, 200}, {0, 190, 200}, {200, 40, 170}, {240, 210, 20}}};
constexpr std::array<Rgb, 7> kBands{{{40, 80, 160}, {160, 50, 50}, {40, 130, 70}, {120, 60, 150}, {200, 120, 20}, {30, 130, 140}, {90, 90, 90}}};

// The 16 colours of the classic VGA palette, used for 4-bit palette pages.
constexpr std::array<Rgb, 16> kVga{{{0, 0, 0},       {128, 0, 0},     {0, 128, 0},   {128, 128, 0},
                                    {0, 0, 128},     {128, 0, 128},   {0, 128, 128}, {192, 192, 192},
                                    {128, 128, 128}, {255, 0, 0},     {0, 255, 0},   {255, 255, 0},
                                    {0, 0, 255},     {255, 0, 255},   {0, 255, 255}, {255, 255, 255}}};

constexpr std::array<std::array<int, 4>, 4> kBayer{{{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}}};

int Luma(Rgb c) { return (c.r * 299 + c.g * 587 + c.b * 114 + 500) / 1000; }

// A small deterministic generator, so the same page number always gives the same page.
class Lcg {
 public:
  explicit Lcg(std::uint32_t seed) : state_(seed * 2654435761u + 12345u) {}
  double Next() {
    state_ = state_ * 1664525u + 1013904223u;
    return (state_ >> 8) / 16777216.0;
  }

 private:
  std::uint32_t state_;
};

class Layout {
 public:
  Layout(double xdpi, double ydpi) : xdpi_(xdpi), ydpi_(ydpi) {}
  void Fill(double x0, double y0, double x1, double y1, Rgb c) {
    rects.push_back({X(x0), Y(y0), std::max(X(x1), X(x0) + 1), std::max(Y(y1), Y(y0) + 1), c});
  }
  int X(double inches) const { return static_cast<int>(std::lround(inches * xdpi_)); }
  int Y(double inches) const { return static_cast<int>(std::lround(inches * ydpi_)); }

  std::vector<Rect> rects;
  // The grey ramp, drawn under nothing else.
  int rampX0 = 0, rampX1 = 0, rampY0 = 0, rampY1 = 0;

 private:
  double xdpi_, ydpi_;
};

Layout BuildLayout(int pageNo, double xdpi, double ydpi) {
  Layout l(xdpi, ydpi);
  const double w = TTestPage::kWidthInches;
  const double h = TTestPage::kHeightInches;
  // Frame.
  const double m = 0.5, t = 0.03;
  l.Fill(m, m, w - m, m + t, kBlack);
  l.Fill(m, h - m - t, w - m, h - m, kBlack);
  l.Fill(m, m, m + t, h - m, kBlack);
  l.Fill(w - m - t, m, w - m, h - m, kBlack);
  // Header band in a colour of the page.
  l.Fill(0.8, 0.8, w - 0.8, 1.3, kBands[static_cast<std::size_t>(pageNo - 1) % kBands.size()]);
  // Heading: two heavy word blocks.
  l.Fill(1.0, 1.7, 3.2, 2.05, kBlack);
  l.Fill(3.4, 1.7, 4.6, 2.05, kBlack);
  // Page number in large digits, right-aligned.
  std::string digits = std::to_string(pageNo);
  const double cell = 0.2, digitWidth = 6 * cell;
  double x = w - 1.0 - digits.size() * digitWidth + cell;
  for (char ch : digits) {
    const auto& glyph = kDigits[static_cast<std::size_t>(ch - '0')];
    for (int row = 0; row < 7; ++row) {
      for (int col = 0; col < 5; ++col) {
        if (glyph[row] & (0x10 >> col)) {
          l.Fill(x + col * cell, 1.6 + row * cell, x + (col + 1) * cell, 1.6 + (row + 1) * cell, kBlack);
        }
      }
    }
    x += digitWidth;
  }
  // Lines of words.
  Lcg rng(static_cast<std::uint32_t>(pageNo));
  for (double y = 3.4; y < 7.6; y += 0.28) {
    double end = w - 1.0 - rng.Next() * 1.8;
    for (double wx = 1.0; wx < end;) {
      double ww = 0.15 + rng.Next() * 0.75;
      l.Fill(wx, y, std::min(wx + ww, end), y + 0.12, kBlack);
      wx += ww + 0.1;
    }
  }
  // Grey ramp, black to white.
  l.rampX0 = l.X(1.0);
  l.rampX1 = l.X(w - 1.0);
  l.rampY0 = l.Y(8.0);
  l.rampY1 = l.Y(8.8);
  // Colour patches.
  for (std::size_t i = 0; i < kPatches.size(); ++i) {
    double px = 1.0 + i * 1.05;
    l.Fill(px, 9.2, px + 0.9, 10.2, kPatches[i]);
  }
  return l;
}

class PaletteMapper {
 public:
  PaletteMapper(TW_UINT16 pixelType, unsigned bits) : pixelType_(pixelType), bits_(bits) {
    if (pixelType == TWPT_BW) {
      table_ = {kBlack, kWhite};
    } else if (pixelType == TWPT_GRAY) {
      unsigned n = 1u << bits;
      for (unsigned i = 0; i < n; ++i) {
        auto v = static_cast<std::uint8_t>(i * 255 / (n - 1));
        table_.push_back({v, v, v});
      }
    } else if (pixelType == TWPT_PALETTE && bits == 4) {
      table_.assign(kVga.begin(), kVga.end());
    } else if (pixelType == TWPT_PALETTE) {
      // A 6 x 6 x 6 colour cube and 40 further greys.
      for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
          for (int b = 0; b < 6; ++b)
            table_.push_back({static_cast<std::uint8_t>(r * 51), static_cast<std::uint8_t>(g * 51),
                              static_cast<std::uint8_t>(b * 51)});
      for (int i = 0; i < 40; ++i) {
        auto v = static_cast<std::uint8_t>((i + 1) * 255 / 41);
        table_.push_back({v, v, v});
      }
    }
  }

  const std::vector<Rgb>& Table() const { return table_; }

  // Palette index of a colour at pixel (x, y).
  unsigned Index(Rgb c, int x, int y) {
    if (pixelType_ == TWPT_BW) return Luma(c) * 16 > (kBayer[y & 3][x & 3] * 2 + 1) * 255 / 2 ? 1 : 0;
    if (pixelType_ == TWPT_GRAY) return (Luma(c) * ((1u << bits_) - 1) + 127) / 255;
    if (c.r == lastColour_.r && c.g == lastColour_.g && c.b == lastColour_.b && haveLast_) return lastIndex_;
    unsigned best = 0;
    long bestDist = -1;
    for (unsigned i = 0; i < table_.size(); ++i) {
      long dr = c.r - table_[i].r, dg = c.g - table_[i].g, db = c.b - table_[i].b;
      long d = dr * dr + dg * dg + db * db;
      if (bestDist < 0 || d < bestDist) {
        bestDist = d;
        best = i;
      }
    }
    lastColour_ = c;
    lastIndex_ = best;
    haveLast_ = true;
    return best;
  }

 private:
  TW_UINT16 pixelType_;
  unsigned bits_;
  std::vector<Rgb> table_;
  Rgb lastColour_{};
  unsigned lastIndex_ = 0;
  bool haveLast_ = false;
};

}  // namespace

bool TTestPage::Supports(TW_UINT16 pixelType, TW_UINT16 bitDepth) {
  switch (pixelType) {
    case TWPT_BW:
      return bitDepth == 1;
    case TWPT_GRAY:
    case TWPT_PALETTE:
      return bitDepth == 4 || bitDepth == 8;
    case TWPT_RGB:
      return bitDepth == 24;
    default:
      return false;
  }
}

int TTestPage::PixelsFor(double inches, TW_FIX32 dpi) {
  return std::max(1, static_cast<int>(std::lround(inches * Fix32Value(dpi))));
}

std::optional<TPageImage> TTestPage::Render(int pageNo, TW_FIX32 xres, TW_FIX32 yres, TW_UINT16 pixelType,
                                            TW_UINT16 bitDepth) {
  if (!Supports(pixelType, bitDepth) || Fix32Value(xres) <= 0 || Fix32Value(yres) <= 0) return std::nullopt;
  const int width = PixelsFor(kWidthInches, xres);
  const int height = PixelsFor(kHeightInches, yres);
  const unsigned bits = bitDepth;
  const std::uint64_t stride = DibStride(static_cast<std::uint64_t>(width), bits);
  PaletteMapper mapper(pixelType, bits);
  std::vector<TRgbQuad> table;
  for (const Rgb& c : mapper.Table()) table.push_back(TRgbQuad{c.b, c.g, c.r, 0});
  const TBitmapInfoHeader header =
      PackedDibHeader(width, height, bits, static_cast<std::uint32_t>(table.size()), Fix32Value(xres), Fix32Value(yres));
  const auto total = static_cast<std::size_t>(PackedDibSize(header));

  TPageImage page;
  page.Dib = platform::GlobalBlock(platform::GHND, total);
  if (!page.Dib) return std::nullopt;
  {
    platform::GlobalLockGuard lock(page.Dib.get());
    auto* base = lock.as<std::uint8_t>();
    if (!base) return std::nullopt;
    std::uint8_t* pixels = WritePackedDibHead(base, header, table.data());

    Layout layout = BuildLayout(pageNo, Fix32Value(xres), Fix32Value(yres));
    std::vector<Rgb> row(static_cast<std::size_t>(width));
    for (int y = 0; y < height; ++y) {
      std::fill(row.begin(), row.end(), kWhite);
      if (y >= layout.rampY0 && y < layout.rampY1) {
        int span = std::max(1, layout.rampX1 - layout.rampX0 - 1);
        for (int x = std::max(0, layout.rampX0); x < std::min(width, layout.rampX1); ++x) {
          auto v = static_cast<std::uint8_t>((x - layout.rampX0) * 255 / span);
          row[static_cast<std::size_t>(x)] = {v, v, v};
        }
      }
      for (const Rect& r : layout.rects) {
        if (y < r.y0 || y >= r.y1) continue;
        for (int x = std::max(0, r.x0); x < std::min(width, r.x1); ++x) row[static_cast<std::size_t>(x)] = r.colour;
      }
      // Bottom-up rows.
      std::uint8_t* out = pixels + stride * static_cast<std::uint64_t>(height - 1 - y);
      if (bits == 24) {
        for (int x = 0; x < width; ++x) {
          const Rgb& c = row[static_cast<std::size_t>(x)];
          out[x * 3 + 0] = c.b;
          out[x * 3 + 1] = c.g;
          out[x * 3 + 2] = c.r;
        }
      } else if (bits == 8) {
        for (int x = 0; x < width; ++x) out[x] = static_cast<std::uint8_t>(mapper.Index(row[static_cast<std::size_t>(x)], x, y));
      } else if (bits == 4) {
        for (int x = 0; x < width; ++x) {
          unsigned v = mapper.Index(row[static_cast<std::size_t>(x)], x, y);
          out[x / 2] = static_cast<std::uint8_t>(out[x / 2] | (x % 2 ? v : v << 4));
        }
      } else {
        for (int x = 0; x < width; ++x) {
          if (mapper.Index(row[static_cast<std::size_t>(x)], x, y)) out[x / 8] = static_cast<std::uint8_t>(out[x / 8] | (0x80 >> (x % 8)));
        }
      }
    }
  }
  DescribeDib(page, pixelType, xres, yres);
  return page;
}

}  // namespace lumipage::dsm
