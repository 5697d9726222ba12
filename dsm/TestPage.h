#pragma once
// Renders the virtual scanner's test pages: an A4 sheet with a header band, the page number in
// large digits, lines of word-like blocks, a grey ramp and colour patches. Every page looks
// different (number, band colour, word pattern), so pages are easy to tell apart in the output.
#include <optional>

#include "dsm/PageImage.h"

namespace lumipage::dsm {

class TTestPage {
 public:
  static constexpr double kWidthInches = 8.27;
  static constexpr double kHeightInches = 11.69;

  // Whether a pixel type and bit depth form a kind the renderer produces: black and white 1,
  // grey 4 or 8, palette 4 or 8, RGB 24.
  [[nodiscard]] static bool Supports(twain::TW_UINT16 pixelType, twain::TW_UINT16 bitDepth);
  // Pixel size of the page at a resolution.
  [[nodiscard]] static int PixelsFor(double inches, twain::TW_FIX32 dpi);

  // Empty when the kind is not supported or memory runs out.
  [[nodiscard]] static std::optional<TPageImage> Render(int pageNo, twain::TW_FIX32 xres, twain::TW_FIX32 yres,
                                                        twain::TW_UINT16 pixelType, twain::TW_UINT16 bitDepth);
};

}  // namespace lumipage::dsm
