#include "imaging/RgbToPaletteConverter.h"

namespace lumipage {

TRgbToPaletteConverter::TRgbToPaletteConverter(const TLogPalette* palette) : palette_(palette) {}

void TRgbToPaletteConverter::Reset() {
  cache_.fill(Slot{});
  hits_ = 0;
  misses_ = 0;
}

std::uint8_t TRgbToPaletteConverter::ColorToIndex(std::uint32_t color) {
  Slot& slot = cache_[color % kCacheSlots];
  if (slot.index >= 0 && slot.color == color) {
    ++hits_;
    return static_cast<std::uint8_t>(slot.index);
  }
  ++misses_;
  const int r = static_cast<int>((color >> 16) & 0xFF);
  const int g = static_cast<int>((color >> 8) & 0xFF);
  const int b = static_cast<int>(color & 0xFF);
  int best = 0;
  int bestDistance = 0x7FFFFFFF;
  const int count = palette_->palNumEntries > 256 ? 256 : palette_->palNumEntries;
  for (int i = 0; i < count; ++i) {
    const TPaletteEntry& e = palette_->palPalEntry[static_cast<std::size_t>(i)];
    const int dr = r - e.peRed;
    const int dg = g - e.peGreen;
    const int db = b - e.peBlue;
    const int d = dr * dr + dg * dg + db * db;
    if (d < bestDistance) {
      bestDistance = d;
      best = i;
      if (d == 0) break;
    }
  }
  slot.color = color;
  slot.index = static_cast<std::int16_t>(best);
  return static_cast<std::uint8_t>(best);
}

}  // namespace lumipage
