#pragma once
// Plain records of the device-independent bitmap: image kinds, the bitmap info with a full
// colour table, the logical palette and the platform colour value. The header and colour entries
// come from the packed-DIB module, so a packed DIB or a BMP file maps onto them byte for byte.
#include <array>
#include <cstdint>

#include "imaging/PackedDib.h"

namespace lumipage {

// Pixel formats; the codes are stored by callers and shared with the scanner's image type.
enum TImageKind : std::uint8_t {
  ikBlackWhite = 0,  // 1 bit, 2-entry palette
  ikGray16 = 1,      // 4 bits, 16 grey levels
  ikGray256 = 2,     // 8 bits, 256 grey levels
  ikColor16 = 3,     // 4 bits, 16 colours
  ikColor256 = 4,    // 8 bits, 256 colours
  ikTrueColor = 5,   // 24 bits, no palette
};

// Header followed by a full 256-entry colour table.
struct TBitmapInfo {
  TBitmapInfoHeader bmiHeader;
  std::array<TRgbQuad, 256> bmiColors{};
};

// Logical palette entry: red, green, blue, flags.
struct TPaletteEntry {
  std::uint8_t peRed = 0;
  std::uint8_t peGreen = 0;
  std::uint8_t peBlue = 0;
  std::uint8_t peFlags = 0;
};

// Logical palette record with room for 256 entries; palNumEntries says how many count.
struct TLogPalette {
  std::uint16_t palVersion = 0;
  std::uint16_t palNumEntries = 0;
  std::array<TPaletteEntry, 256> palPalEntry{};
};
static_assert(sizeof(TLogPalette) == 4 + 4 * 256);

constexpr std::uint16_t kPaletteVersion = 0x300;

// Platform colour value: red in the low byte (0x00BBGGRR), as the drawing layer takes it.
using TColor = std::uint32_t;
constexpr TColor clBlack = 0x000000;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clWhite = 0xFFFFFF;

// Pixel colours at the image's interface are 0x00RRGGBB; these convert to and from TColor.
[[nodiscard]] constexpr std::uint32_t ColorToRgb(TColor c) {
  return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
}
[[nodiscard]] constexpr TColor RgbToColor(std::uint32_t rgb) { return ColorToRgb(rgb); }

}  // namespace lumipage
