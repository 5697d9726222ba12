#pragma once
// Nearest palette entry for a colour, with a small direct-mapped cache: scanned pages repeat
// colours, so most lookups cost one division and a comparison.
#include <array>
#include <cstdint>

#include "imaging/DibTypes.h"

namespace lumipage {

class TRgbToPaletteConverter {
 public:
  static constexpr std::uint32_t kCacheSlots = 1020;

  // Keeps a pointer to the palette; the owner keeps it alive and calls Reset after changing it.
  explicit TRgbToPaletteConverter(const TLogPalette* palette);

  // Index of the nearest entry by squared RGB distance; the first of equally near entries.
  // Color is 0x00RRGGBB.
  [[nodiscard]] std::uint8_t ColorToIndex(std::uint32_t color);
  // Forgets every cached colour.
  void Reset();

  [[nodiscard]] std::uint32_t Hits() const { return hits_; }
  [[nodiscard]] std::uint32_t Misses() const { return misses_; }

 private:
  struct Slot {
    std::uint32_t color = 0;
    std::int16_t index = -1;
  };
  const TLogPalette* palette_;
  std::array<Slot, kCacheSlots> cache_{};
  std::uint32_t hits_ = 0;
  std::uint32_t misses_ = 0;
};

}  // namespace lumipage
