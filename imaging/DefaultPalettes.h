#pragma once
// The palettes of the palette kinds (black and white, 16 and 256 grey levels, 16 colours, the
// VGA 256 colours) and the small helpers that build a logical palette.
#include <cstddef>
#include <cstdint>

#include "imaging/DibTypes.h"

namespace lumipage {

// Default palette of a palette kind; null for ikTrueColor and unknown codes.
[[nodiscard]] const TLogPalette* DefaultPalette(TImageKind kind);
// An empty logical palette of count entries (all black).
[[nodiscard]] TLogPalette MakePalette(std::uint16_t count);
// Sets entry i to the colour red, green, blue.
void SetPaletteEntry(TLogPalette& palette, std::size_t i, int red, int green, int blue);

}  // namespace lumipage
