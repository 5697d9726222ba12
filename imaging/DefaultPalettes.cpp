#include "imaging/DefaultPalettes.h"

namespace lumipage {

TLogPalette MakePalette(std::uint16_t count) {
  TLogPalette p{};
  p.palVersion = kPaletteVersion;
  p.palNumEntries = count;
  return p;
}

void SetPaletteEntry(TLogPalette& p, std::size_t i, int r, int g, int b) {
  p.palPalEntry[i] = TPaletteEntry{static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(g),
                                   static_cast<std::uint8_t>(b), 0};
}

namespace {

constexpr int kColor16[16][3] = {
    {0, 0, 0},       {0, 0, 170},    {0, 170, 0},     {0, 170, 170},  {170, 0, 0},    {170, 0, 170},
    {170, 85, 0},    {170, 170, 170}, {85, 85, 85},   {85, 85, 255},  {85, 255, 85},  {85, 255, 255},
    {255, 85, 85},   {255, 85, 255}, {255, 255, 85},  {255, 255, 255}};

// VGA DAC values are 6 bits; this widens them to 8 bits the way the VGA default palette is
// usually quoted (63 -> 255, 50 -> 203).
int Vga8(int v6) { return (v6 << 2) | (v6 >> 4); }

TLogPalette BuildColor256() {
  TLogPalette p = MakePalette(256);
  for (std::size_t i = 0; i < 16; ++i) SetPaletteEntry(p, i, kColor16[i][0], kColor16[i][1], kColor16[i][2]);
  constexpr int kGrey[16] = {0, 5, 8, 11, 14, 17, 20, 24, 28, 32, 36, 40, 45, 50, 56, 63};
  for (std::size_t i = 0; i < 16; ++i) {
    const int v = Vga8(kGrey[i]);
    SetPaletteEntry(p, 16 + i, v, v, v);
  }
  // Nine rings of 24 hues: three intensities, each in three saturations; each ring runs from
  // blue through magenta, red, yellow, green and cyan. Levels lo..hi in five steps.
  constexpr int kRings[9][5] = {{0, 16, 31, 47, 63},  {31, 39, 47, 55, 63}, {45, 49, 54, 58, 63},
                                {0, 7, 14, 21, 28},   {14, 17, 21, 24, 28}, {20, 22, 24, 26, 28},
                                {0, 4, 8, 12, 16},    {8, 10, 12, 14, 16},  {11, 12, 13, 15, 16}};
  std::size_t k = 32;
  for (const auto& ring : kRings) {
    int v[5];
    for (int j = 0; j < 5; ++j) v[j] = Vga8(ring[j]);
    const int lo = v[0];
    const int hi = v[4];
    for (int j = 0; j < 4; ++j) SetPaletteEntry(p, k++, v[j], lo, hi);       // blue -> magenta
    for (int j = 4; j > 0; --j) SetPaletteEntry(p, k++, hi, lo, v[j]);       // magenta -> red
    for (int j = 0; j < 4; ++j) SetPaletteEntry(p, k++, hi, v[j], lo);       // red -> yellow
    for (int j = 4; j > 0; --j) SetPaletteEntry(p, k++, v[j], hi, lo);       // yellow -> green
    for (int j = 0; j < 4; ++j) SetPaletteEntry(p, k++, lo, hi, v[j]);       // green -> cyan
    for (int j = 4; j > 0; --j) SetPaletteEntry(p, k++, lo, v[j], hi);       // cyan -> blue
  }
  for (; k < 256; ++k) SetPaletteEntry(p, k, 0, 0, 0);
  return p;
}

struct DefaultPalettes {
  TLogPalette blackWhite = MakePalette(2);
  TLogPalette gray16 = MakePalette(16);
  TLogPalette gray256 = MakePalette(256);
  TLogPalette color16 = MakePalette(16);
  TLogPalette color256 = BuildColor256();

  DefaultPalettes() {
    SetPaletteEntry(blackWhite, 1, 255, 255, 255);
    for (int i = 0; i < 16; ++i) SetPaletteEntry(gray16, static_cast<std::size_t>(i), 17 * i, 17 * i, 17 * i);
    for (int i = 0; i < 256; ++i) SetPaletteEntry(gray256, static_cast<std::size_t>(i), i, i, i);
    for (std::size_t i = 0; i < 16; ++i) SetPaletteEntry(color16, i, kColor16[i][0], kColor16[i][1], kColor16[i][2]);
  }
};

const DefaultPalettes& Palettes() {
  static const DefaultPalettes palettes;
  return palettes;
}

}  // namespace

const TLogPalette* DefaultPalette(TImageKind kind) {
  const DefaultPalettes& p = Palettes();
  switch (kind) {
    case ikBlackWhite: return &p.blackWhite;
    case ikGray16: return &p.gray16;
    case ikGray256: return &p.gray256;
    case ikColor16: return &p.color16;
    case ikColor256: return &p.color256;
    default: return nullptr;
  }
}

}  // namespace lumipage
