#pragma once
// Small helpers shared by the image library tests: synthetic pages and packed DIBs.
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "imaging/DibGraphic.h"
#include "platform/GlobalMemory.h"

namespace lumipage::testing {

// A true-colour page of the three kinds the hot paths meet: text-like strokes on noisy
// off-white, a smooth photo-like gradient, and pure noise.
enum class PageKind { Text, Gradient, Noise };

inline void FillPage(TDibGraphic& image, std::int32_t w, std::int32_t h, PageKind kind, std::uint32_t seed = 1) {
  image.NewImage(w, h, ikTrueColor, nullptr, 300, 300);
  std::mt19937 rng(seed);
  for (std::int32_t y = 0; y < h; ++y) {
    for (std::int32_t x = 0; x < w; ++x) {
      int r = 0, g = 0, b = 0;
      switch (kind) {
        case PageKind::Text: {
          const int n = static_cast<int>(rng() % 24);
          r = 232 + n / 2;
          g = 230 + n / 2;
          b = 220 + n / 2;
          // Strokes: short horizontal and vertical bars like glyphs on lines of text.
          const bool line = (y % 40) >= 10 && (y % 40) < 30;
          const bool stroke = line && ((x % 13) < 2 || (y % 40) == 12 || (y % 40) == 27) && (x / 13) % 7 != 6;
          if (stroke) r = g = b = 20 + n;
          break;
        }
        case PageKind::Gradient:
          r = (x * 255) / (w > 1 ? w - 1 : 1);
          g = (y * 255) / (h > 1 ? h - 1 : 1);
          b = ((x + y) * 127) / (w + h) + 64;
          break;
        case PageKind::Noise:
          r = static_cast<int>(rng() & 255);
          g = static_cast<int>(rng() & 255);
          b = static_cast<int>(rng() & 255);
          break;
      }
      image.SetRgbPixel(x, y, (static_cast<std::uint32_t>(r) << 16) | (static_cast<std::uint32_t>(g) << 8) |
                                  static_cast<std::uint32_t>(b));
    }
  }
}

// A packed DIB: 40-byte header, colour table (blue, green, red, 0 per entry), pixel bytes.
inline platform::HGLOBAL MakeDib(const TBitmapInfoHeader& header, const std::vector<TRgbQuad>& table,
                                 const std::vector<std::uint8_t>& pixels) {
  const std::size_t size = sizeof header + 4 * table.size() + pixels.size();
  const platform::HGLOBAL h = platform::GlobalAlloc(platform::GHND, size);
  auto* p = static_cast<std::uint8_t*>(platform::GlobalLock(h));
  std::memcpy(p, &header, sizeof header);
  if (!table.empty()) std::memcpy(p + sizeof header, table.data(), 4 * table.size());
  if (!pixels.empty()) std::memcpy(p + sizeof header + 4 * table.size(), pixels.data(), pixels.size());
  platform::GlobalUnlock(h);
  return h;
}

inline TBitmapInfoHeader DibHeader(std::int32_t w, std::int32_t h, std::uint16_t bits, std::int32_t pels = 0,
                                   std::uint32_t clrUsed = 0) {
  TBitmapInfoHeader hd;
  hd.biSize = 40;
  hd.biWidth = w;
  hd.biHeight = h;
  hd.biPlanes = 1;
  hd.biBitCount = bits;
  hd.biXPelsPerMeter = pels;
  hd.biYPelsPerMeter = pels;
  hd.biClrUsed = clrUsed;
  return hd;
}

inline std::vector<std::uint8_t> PixelBytes(const TDibGraphic& image) {
  return std::vector<std::uint8_t>(image.Bits(), image.Bits() + image.ImageSize());
}

}  // namespace lumipage::testing
