#pragma once
// Plain records of the device-independent bitmap: image kinds, the 40-byte bitmap header, colour
// table entries, the logical palette and the platform colour value. Layouts are those of the
// Windows DIB format, so a packed DIB or a BMP file maps onto them byte for byte.
#include <array>
#include <cstdint>

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

// Natural alignment already gives the Windows layouts (checked below), so no packing is needed.
struct TBitmapInfoHeader {
  std::uint32_t biSize = 0;
  std::int32_t biWidth = 0;
  std::int32_t biHeight = 0;
  std::uint16_t biPlanes = 0;
  std::uint16_t biBitCount = 0;
  std::uint32_t biCompression = 0;
  std::uint32_t biSizeImage = 0;
  std::int32_t biXPelsPerMeter = 0;
  std::int32_t biYPelsPerMeter = 0;
  std::uint32_t biClrUsed = 0;
  std::uint32_t biClrImportant = 0;
};
static_assert(sizeof(TBitmapInfoHeader) == 40);

// Colour table entry in DIBs and BMP files: blue, green, red, 0.
struct TRgbQuad {
  std::uint8_t rgbBlue = 0;
  std::uint8_t rgbGreen = 0;
  std::uint8_t rgbRed = 0;
  std::uint8_t rgbReserved = 0;
};
static_assert(sizeof(TRgbQuad) == 4);

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
constexpr std::uint32_t BI_RGB = 0;
constexpr std::uint32_t BI_RLE8 = 1;
constexpr std::uint32_t BI_RLE4 = 2;
constexpr std::uint32_t BI_BITFIELDS = 3;

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
