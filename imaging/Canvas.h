#pragma once
// Drawing surface on an image's own pixels: text in a font found through fontconfig and drawn
// with FreeType, and rectangle fills. Text is drawn without anti-aliasing so that every pixel
// it touches gets exactly the font colour (mapped to the nearest palette colour for palette
// images). With a solid brush the text's cell box is filled with the brush colour first.
#include <cstdint>
#include <memory>
#include <string>

#include "imaging/Font.h"

namespace lumipage {

class TDibGraphic;

class TCanvas {
 public:
  explicit TCanvas(TDibGraphic& image);
  TCanvas(const TCanvas&) = delete;
  TCanvas& operator=(const TCanvas&) = delete;
  ~TCanvas();

  [[nodiscard]] TFont& Font() { return font_; }
  [[nodiscard]] TBrush& Brush() { return brush_; }

  // Advance width of the UTF-8 text in the current font, in pixels.
  [[nodiscard]] std::int32_t TextWidth(const std::string& text);
  // Cell height of the current font, in pixels.
  [[nodiscard]] std::int32_t TextHeight(const std::string& text);
  // Draws the text with its cell's top-left corner at (x, y); parts outside the image are
  // clipped. Raises Exception when no font can be loaded (also from TextWidth and TextHeight).
  void TextOut(std::int32_t x, std::int32_t y, const std::string& text);
  // Fills [left, right) x [top, bottom) with the brush colour (clipped).
  void FillRect(std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom);

 private:
  class FontFace;
  FontFace& Face();

  TDibGraphic& image_;
  TFont font_;
  TBrush brush_;
  std::unique_ptr<FontFace> face_;
};

}  // namespace lumipage
