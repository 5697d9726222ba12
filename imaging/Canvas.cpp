#include "imaging/Canvas.h"

#include <algorithm>

#include "imaging/DibGraphic.h"

namespace lumipage {

class TCanvas::FontFace {};

TCanvas::TCanvas(TDibGraphic& image) : image_(image) {}
TCanvas::~TCanvas() = default;

std::int32_t TCanvas::TextWidth(const std::string&) { return 0; }
std::int32_t TCanvas::TextHeight(const std::string&) { return 0; }
void TCanvas::TextOut(std::int32_t, std::int32_t, const std::string&) {}

void TCanvas::FillRect(std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom) {
  left = std::max(left, 0);
  top = std::max(top, 0);
  right = std::min(right, image_.Width());
  bottom = std::min(bottom, image_.Height());
  const std::uint32_t rgb = ColorToRgb(brush_.Color);
  for (std::int32_t y = top; y < bottom; ++y)
    for (std::int32_t x = left; x < right; ++x) image_.SetRgbPixel(x, y, rgb);
}

}  // namespace lumipage
