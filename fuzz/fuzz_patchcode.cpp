// The patch code finder on pages of arbitrary shape, kind, resolution and pixels, with solid
// rectangles laid over them so that bars of every size, spacing and tone meet the finder:
// every input gets an answer; nothing may crash, hang or read outside the page.
#include <algorithm>
#include <cstdint>

#include "fuzz/FuzzPage.h"
#include "imaging/PatchCode.h"

namespace {

// After the header (whose eighth byte counts the rectangles), five bytes a rectangle.
constexpr std::size_t kRectangleBytes = 5;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumipage;
  using namespace lumipage::fuzzing;
  if (size <= kPageHeader) return 0;
  TBitmapGraphic page;
  const std::uint16_t dpi = NewPage(page, data, 900);
  const std::int32_t width = page.Width(), height = page.Height();
  const std::size_t rectangles = std::min<std::size_t>(data[7] % 16, (size - kPageHeader) / kRectangleBytes);
  const std::uint8_t* shapes = data + kPageHeader;
  // The pixels repeat the bytes after the rectangles (or are white when there are none).
  const std::uint8_t* pixels = shapes + rectangles * kRectangleBytes;
  FillRepeating(page, pixels, static_cast<std::size_t>(data + size - pixels));
  // Each rectangle: left, top, width and height in 1/256 of the page, and the byte it is filled with.
  for (std::size_t r = 0; r < rectangles; ++r) {
    const std::uint8_t* s = shapes + r * kRectangleBytes;
    const std::int32_t x0 = s[0] * width / 256, y0 = s[1] * height / 256;
    const std::int32_t x1 = std::min(width, x0 + 1 + s[2] * width / 256), y1 = std::min(height, y0 + 1 + s[3] * height / 256);
    const std::uint32_t bytes = page.BytesPerRow();
    for (std::int32_t y = y0; y < y1; ++y) {
      std::uint8_t* row = page.RowBits(y);
      const std::uint32_t b0 = static_cast<std::uint32_t>(x0) * bytes / static_cast<std::uint32_t>(width);
      const std::uint32_t b1 = std::max(b0 + 1, static_cast<std::uint32_t>(x1) * bytes / static_cast<std::uint32_t>(width));
      for (std::uint32_t b = b0; b < std::min(b1, bytes); ++b) row[b] = s[4];
    }
  }
  (void)PatchCodeName(FindPatchCode(page, dpi));
  return 0;
}
