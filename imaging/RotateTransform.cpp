#include "imaging/RotateTransform.h"

#include <cmath>
#include <cstring>
#include <numbers>

#include "platform/Interrupt.h"

namespace lumipage {

namespace {

// Rows written between two looks at an interruption of the job.
constexpr std::int32_t kRowsBetweenChecks = 64;
constexpr int kFractionBits = 16;
constexpr std::int64_t kOne = std::int64_t{1} << kFractionBits;

// Where the source pixel of each destination pixel lies, in 16.16 fixed point: row by row, a
// start and a step along the row.
struct TMapping {
  std::int64_t StepX = 0, StepY = 0;  // per pixel along a destination row
  double Cos = 1, Sin = 0, Cx = 0, Cy = 0;

  TMapping(double degrees, std::int32_t width, std::int32_t height)
      : Cos(std::cos(degrees * std::numbers::pi / 180.0)),
        Sin(std::sin(degrees * std::numbers::pi / 180.0)),
        Cx((width - 1) / 2.0),
        Cy((height - 1) / 2.0) {
    StepX = std::llround(Cos * kOne);
    StepY = std::llround(Sin * kOne);
  }
  // The source position of the first pixel of destination row y.
  void RowStart(std::int32_t y, std::int64_t& sx, std::int64_t& sy) const {
    const double dy = y - Cy;
    sx = std::llround((Cx - Cx * Cos - dy * Sin) * kOne);
    sy = std::llround((Cy - Cx * Sin + dy * Cos) * kOne);
  }
};

// The three colour bytes spread into 16-bit lanes, so that one multiplication weighs all three.
inline std::uint64_t Spread(const std::uint8_t* p) {
  return std::uint64_t{p[0]} | (std::uint64_t{p[1]} << 16) | (std::uint64_t{p[2]} << 32);
}
constexpr std::uint64_t kLaneMask = 0x000000FF00FF00FFull;
constexpr std::uint64_t kLaneHalf = 0x0000008000800080ull;

void RotateTrueColor(const TDibGraphic& src, TDibGraphic& dst, const TMapping& m, std::uint32_t fill) {
  const std::int32_t w = src.Width(), h = src.Height();
  const std::uint8_t fb = fill & 0xFF, fg = (fill >> 8) & 0xFF, fr = (fill >> 16) & 0xFF;
  const std::uint8_t* bits = src.Bits();
  const std::size_t stride = src.BytesPerRow();
  for (std::int32_t y = 0; y < h; ++y) {
    if (y % kRowsBetweenChecks == 0) platform::CheckInterrupt();
    std::int64_t sx, sy;
    m.RowStart(y, sx, sy);
    std::uint8_t* out = dst.RowBits(y);
    for (std::int32_t x = 0; x < w; ++x, sx += m.StepX, sy += m.StepY, out += 3) {
      const std::int64_t ix = sx >> kFractionBits, iy = sy >> kFractionBits;
      if (static_cast<std::uint64_t>(ix) >= static_cast<std::uint64_t>(w - 1) ||
          static_cast<std::uint64_t>(iy) >= static_cast<std::uint64_t>(h - 1)) {
        out[0] = fb;
        out[1] = fg;
        out[2] = fr;
        continue;
      }
      const auto fx = static_cast<std::uint32_t>((sx >> 8) & 0xFF), fy = static_cast<std::uint32_t>((sy >> 8) & 0xFF);
      // Rows are stored bottom-up: the row below in the picture lies one stride lower.
      const std::uint8_t* upper = bits + static_cast<std::size_t>(h - 1 - iy) * stride + static_cast<std::size_t>(ix) * 3;
      const std::uint8_t* lower = upper - stride;
      // The four weights sum to 256, so that no lane passes 255 * 256.
      const std::uint32_t w00 = ((256 - fx) * (256 - fy) + 128) >> 8, w01 = (fx * (256 - fy) + 128) >> 8;
      const std::uint32_t w10 = ((256 - fx) * fy + 128) >> 8, w11 = 256 - w00 - w01 - w10;
      const std::uint64_t v = ((Spread(upper) * w00 + Spread(upper + 3) * w01 + Spread(lower) * w10 +
                                Spread(lower + 3) * w11 + kLaneHalf) >> 8) & kLaneMask;
      out[0] = static_cast<std::uint8_t>(v);
      out[1] = static_cast<std::uint8_t>(v >> 16);
      out[2] = static_cast<std::uint8_t>(v >> 32);
    }
  }
}

// 256 grey levels in palette order 0..255: the indices are the levels and can be interpolated.
bool GreyRamp(const TDibGraphic& image) {
  if (image.ImageKind() != ikGray256) return false;
  for (int i = 0; i < 256; ++i) {
    const TRgbQuad& c = image.BitmapInfo().bmiColors[static_cast<std::size_t>(i)];
    if (c.rgbRed != i || c.rgbGreen != i || c.rgbBlue != i) return false;
  }
  return true;
}

void RotateGrey(const TDibGraphic& src, TDibGraphic& dst, const TMapping& m, std::uint8_t fill) {
  const std::int32_t w = src.Width(), h = src.Height();
  const std::uint8_t* bits = src.Bits();
  const std::size_t stride = src.BytesPerRow();
  for (std::int32_t y = 0; y < h; ++y) {
    if (y % kRowsBetweenChecks == 0) platform::CheckInterrupt();
    std::int64_t sx, sy;
    m.RowStart(y, sx, sy);
    std::uint8_t* out = dst.RowBits(y);
    for (std::int32_t x = 0; x < w; ++x, sx += m.StepX, sy += m.StepY) {
      const std::int64_t ix = sx >> kFractionBits, iy = sy >> kFractionBits;
      if (static_cast<std::uint64_t>(ix) >= static_cast<std::uint64_t>(w - 1) ||
          static_cast<std::uint64_t>(iy) >= static_cast<std::uint64_t>(h - 1)) {
        out[x] = fill;
        continue;
      }
      const auto fx = static_cast<std::uint32_t>((sx >> 8) & 0xFF), fy = static_cast<std::uint32_t>((sy >> 8) & 0xFF);
      const std::uint8_t* upper = bits + static_cast<std::size_t>(h - 1 - iy) * stride + static_cast<std::size_t>(ix);
      const std::uint8_t* lower = upper - stride;
      const std::uint32_t w00 = ((256 - fx) * (256 - fy) + 128) >> 8, w01 = (fx * (256 - fy) + 128) >> 8;
      const std::uint32_t w10 = ((256 - fx) * fy + 128) >> 8, w11 = 256 - w00 - w01 - w10;
      out[x] = static_cast<std::uint8_t>((upper[0] * w00 + upper[1] * w01 + lower[0] * w10 + lower[1] * w11 + 128) >> 8);
    }
  }
}

void RotateBlackWhite(const TDibGraphic& src, TDibGraphic& dst, const TMapping& m, std::uint8_t fill) {
  const std::int32_t w = src.Width(), h = src.Height();
  const std::uint8_t* bits = src.Bits();
  const std::size_t stride = src.BytesPerRow();
  const std::int64_t half = kOne / 2;
  for (std::int32_t y = 0; y < h; ++y) {
    if (y % kRowsBetweenChecks == 0) platform::CheckInterrupt();
    std::int64_t sx, sy;
    m.RowStart(y, sx, sy);
    sx += half;
    sy += half;
    std::uint8_t* out = dst.RowBits(y);
    std::memset(out, 0, (static_cast<std::size_t>(w) + 7) / 8);
    for (std::int32_t x = 0; x < w; ++x, sx += m.StepX, sy += m.StepY) {
      const std::int64_t ix = sx >> kFractionBits, iy = sy >> kFractionBits;
      std::uint8_t bit = fill;
      if (static_cast<std::uint64_t>(ix) < static_cast<std::uint64_t>(w) &&
          static_cast<std::uint64_t>(iy) < static_cast<std::uint64_t>(h)) {
        const std::uint8_t* row = bits + static_cast<std::size_t>(h - 1 - iy) * stride;
        bit = (row[ix >> 3] >> (7 - (ix & 7))) & 1;
      }
      out[x >> 3] = static_cast<std::uint8_t>(out[x >> 3] | (bit << (7 - (x & 7))));
    }
  }
}

// Any other palette image, pixel by pixel: rare, and kept exact in its indices.
void RotateNearest(const TDibGraphic& src, TDibGraphic& dst, const TMapping& m, std::uint8_t fill) {
  const std::int32_t w = src.Width(), h = src.Height();
  const std::int64_t half = kOne / 2;
  for (std::int32_t y = 0; y < h; ++y) {
    if (y % kRowsBetweenChecks == 0) platform::CheckInterrupt();
    std::int64_t sx, sy;
    m.RowStart(y, sx, sy);
    sx += half;
    sy += half;
    for (std::int32_t x = 0; x < w; ++x, sx += m.StepX, sy += m.StepY) {
      const std::int64_t ix = sx >> kFractionBits, iy = sy >> kFractionBits;
      const bool inside = static_cast<std::uint64_t>(ix) < static_cast<std::uint64_t>(w) &&
                          static_cast<std::uint64_t>(iy) < static_cast<std::uint64_t>(h);
      dst.SetPixelIndex(x, y, inside ? src.GetPixelIndex(static_cast<std::int32_t>(ix), static_cast<std::int32_t>(iy)) : fill);
    }
  }
}

}  // namespace

void TRotateTransform::ApplyOnDest(const TDibGraphic& source, TDibGraphic& dest) {
  if (source.Empty()) {
    dest.Assign(&source);
    return;
  }
  const TImageKind kind = source.ImageKind();
  dest.NewImageForOverwrite(source.Width(), source.Height(), kind, &source.LogPalette(), source.DpiX(), source.DpiY());
  const TMapping mapping(Degrees, source.Width(), source.Height());
  if (kind == ikTrueColor) {
    RotateTrueColor(source, dest, mapping, FillColor);
    return;
  }
  const std::uint8_t fillIndex = dest.ColorToIndex(FillColor);
  if (GreyRamp(source))
    RotateGrey(source, dest, mapping, fillIndex);
  else if (kind == ikBlackWhite)
    RotateBlackWhite(source, dest, mapping, fillIndex);
  else
    RotateNearest(source, dest, mapping, fillIndex);
}

}  // namespace lumipage
