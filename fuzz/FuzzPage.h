#pragma once
// The page the page-analysis fuzz targets try: its size, kind and resolution from the input's
// first bytes, its pixels repeating the bytes that follow. Pages stay small, so that a run tries
// many of them.
#include <cstddef>
#include <cstdint>

#include "imaging/BitmapGraphic.h"
#include "imaging/DefaultPalettes.h"

namespace lumipage::fuzzing {

// Width and height (2 bytes each), kind (1 byte) and resolution (2 bytes); the eighth byte is the
// target's own.
inline constexpr std::size_t kPageHeader = 8;

inline std::uint16_t Word(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

// A new page of 1 to maxSide pixels a side as the header says (size > kPageHeader); returns its
// resolution.
inline std::uint16_t NewPage(TBitmapGraphic& page, const std::uint8_t* data, std::int32_t maxSide) {
  const std::int32_t width = 1 + Word(data) % maxSide, height = 1 + Word(data + 2) % maxSide;
  const auto kind = static_cast<TImageKind>(data[4] % 6);
  const auto dpi = static_cast<std::uint16_t>(Word(data + 5));
  page.NewImage(width, height, kind, DefaultPalette(kind), dpi, dpi);
  return dpi;
}

// Fills the page's rows with the bytes repeated (white when there are none).
inline void FillRepeating(TBitmapGraphic& page, const std::uint8_t* bytes, std::size_t count) {
  std::size_t at = 0;
  for (std::int32_t y = 0; y < page.Height(); ++y) {
    std::uint8_t* row = page.RowBits(y);
    for (std::uint32_t i = 0; i < page.BytesPerRow(); ++i) {
      row[i] = count == 0 ? 0xFF : bytes[at];
      if (count != 0) at = (at + 1) % count;
    }
  }
}

}  // namespace lumipage::fuzzing
