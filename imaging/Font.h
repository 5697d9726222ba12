#pragma once
// Font and brush settings of a canvas, with the platform's conventions: a positive Height is
// the cell height in pixels (ascent + descent), a negative one the character (em) height.
#include <cstdint>
#include <string>

#include "imaging/DibTypes.h"

namespace lumipage {

class TFont {
 public:
  std::string Name = "Arial";
  TColor Color = clBlack;
  std::int32_t Height = -11;

  // Point size at the platform's 96 logical pixels per inch.
  [[nodiscard]] std::int32_t Size() const;
  void SetSize(std::int32_t points);
};

enum TBrushStyle : std::uint8_t { bsSolid = 0, bsClear = 1 };

class TBrush {
 public:
  TColor Color = clWhite;
  TBrushStyle Style = bsSolid;
};

}  // namespace lumipage
