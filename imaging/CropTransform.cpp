#include "imaging/CropTransform.h"

#include <cstring>

namespace lumipage {

TCropTransform::Rect TCropTransform::Validate(const TDibGraphic& source) const {
  std::int64_t left = Left;
  std::int64_t top = Top;
  std::int64_t right = Right;
  std::int64_t bottom = Bottom;
  if (CropMode == cmMargins) {
    right = static_cast<std::int64_t>(source.Width()) - Right;
    bottom = static_cast<std::int64_t>(source.Height()) - Bottom;
  }
  // A left or top edge outside the image would read outside the pixel memory.
  if (bottom <= top || right <= left || left < 0 || top < 0 || left >= source.Width() || top >= source.Height())
    throw EOvinexError("Invalid crop parameters");
  std::int64_t w = right - left;
  std::int64_t h = bottom - top;
  if (w > source.Width() - left) w = source.Width() - left;
  if (h > source.Height() - top) h = source.Height() - top;
  return Rect{static_cast<std::int32_t>(left), static_cast<std::int32_t>(top), static_cast<std::int32_t>(w),
              static_cast<std::int32_t>(h)};
}

void TCropTransform::ApplyOnDestReference(const TDibGraphic& source, TDibGraphic& dest) {
  const Rect r = Validate(source);
  ResetProgress();
  Progress(0, 0, 100);
  dest.NewImage(r.width, r.height, source.ImageKind(), &source.LogPalette(), source.DpiX(), source.DpiY());
  const bool trueColor = source.ImageKind() == ikTrueColor;
  for (std::int32_t y = 0; y < r.height; ++y) {
    Progress(y, 0, r.height - 1);
    for (std::int32_t x = 0; x < r.width; ++x) {
      if (trueColor) {
        dest.SetRgbPixel(x, y, source.GetRgbPixel(x + r.left, y + r.top));
      } else {
        dest.SetPixelIndex(x, y, source.GetPixelIndex(x + r.left, y + r.top));
      }
    }
  }
  Progress(100, 0, 100);
}

void TCropTransform::ApplyOnDest(const TDibGraphic& source, TDibGraphic& dest) {
  const Rect r = Validate(source);
  ResetProgress();
  Progress(0, 0, 100);
  // Every pixel is written below, so the buffer need not be cleared first.
  dest.NewImageForOverwrite(r.width, r.height, source.ImageKind(), &source.LogPalette(), source.DpiX(),
                            source.DpiY());
  const unsigned bits = BitsPerPixelOf(source.ImageKind());
  for (std::int32_t y = 0; y < r.height; ++y) {
    Progress(y, 0, r.height - 1);
    const std::uint8_t* in = source.RowBits(y + r.top);
    std::uint8_t* out = dest.RowBits(y);
    if (bits >= 8) {
      const std::size_t bpp = bits / 8;
      std::memcpy(out, in + static_cast<std::size_t>(r.left) * bpp, static_cast<std::size_t>(r.width) * bpp);
    } else if (bits == 1) {
      for (std::int32_t x = 0; x < r.width; ++x) {
        const std::int32_t sx = x + r.left;
        const auto mask = static_cast<std::uint8_t>(0x80u >> (x & 7));
        if ((in[sx >> 3] >> (7 - (sx & 7))) & 1) {
          out[x >> 3] |= mask;
        } else {
          out[x >> 3] &= static_cast<std::uint8_t>(~mask);
        }
      }
    } else {
      for (std::int32_t x = 0; x < r.width; ++x) {
        const std::int32_t sx = x + r.left;
        const unsigned v = (sx & 1) ? (in[sx >> 1] & 0x0F) : (in[sx >> 1] >> 4);
        std::uint8_t& b = out[x >> 1];
        b = (x & 1) ? static_cast<std::uint8_t>((b & 0xF0) | v) : static_cast<std::uint8_t>((b & 0x0F) | (v << 4));
      }
    }
  }
  Progress(100, 0, 100);
}

}  // namespace lumipage
