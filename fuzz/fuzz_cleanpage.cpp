// Blank verdict, skew finder and turn on pages of arbitrary shape, kind, resolution and pixels:
// every input gets a verdict or is kept as it is; nothing may crash, hang or read outside the
// page.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "imaging/BitmapGraphic.h"
#include "imaging/DefaultPalettes.h"
#include "imaging/PageCleaning.h"
#include "imaging/RotateTransform.h"

namespace {

// Pages stay small, so that a run tries many of them.
constexpr std::int32_t kMaxSide = 700;
constexpr std::size_t kHeader = 8;

std::uint16_t Word(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumipage;
  if (size <= kHeader) return 0;
  const std::int32_t width = 1 + Word(data) % kMaxSide, height = 1 + Word(data + 2) % kMaxSide;
  const auto kind = static_cast<TImageKind>(data[4] % 6);
  const auto dpi = static_cast<std::uint16_t>(Word(data + 5));
  const double degrees = (static_cast<int>(data[7]) - 128) / 12.0;
  TBitmapGraphic page;
  page.NewImage(width, height, kind, DefaultPalette(kind), dpi, dpi);
  // The pixels repeat the input's remaining bytes.
  const std::uint8_t* pixels = data + kHeader;
  const std::size_t count = size - kHeader;
  std::size_t at = 0;
  for (std::int32_t y = 0; y < height; ++y) {
    std::uint8_t* row = page.RowBits(y);
    for (std::uint32_t i = 0; i < page.BytesPerRow(); ++i, at = (at + 1) % count) row[i] = pixels[at];
  }
  (void)CleanPage(page, dpi, true, true);
  TRotateTransform turn;
  turn.Degrees = degrees;
  turn.FillColor = 0x808080;
  TBitmapGraphic turned;
  turn.ApplyOnDest(page, turned);
  return 0;
}
