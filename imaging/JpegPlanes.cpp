#include "imaging/JpegPlanes.h"

#include <algorithm>
#include <cstring>

#include "platform/CpuFeatures.h"

namespace lumipage {

namespace {

// The codec's fixed-point colour conversion (16 fraction bits, its rounding offsets included).
constexpr int kScale = 16;
constexpr std::int32_t Fix(double x) { return static_cast<std::int32_t>(x * (1 << kScale) + 0.5); }
constexpr std::int32_t kHalf = std::int32_t{1} << (kScale - 1);
constexpr std::int32_t kCentre = std::int32_t{128} << kScale;

// One image row: luma into luma[0, width), the colour differences stored in the sums (the first
// row of a pair) or added to them (the second). Plain loops over the row, which the compiler
// vectorises; the choice of store or add is made outside the loop, or it would not.
template <bool kFirst>
[[gnu::always_inline]] inline void ConvertRowBody(const std::uint8_t* bgr, std::int32_t width, std::uint8_t* luma,
                                                  std::int32_t* blueSums, std::int32_t* redSums) {
  for (std::int32_t x = 0; x < width; ++x) {
    const std::int32_t b = bgr[3 * x], g = bgr[3 * x + 1], r = bgr[3 * x + 2];
    luma[x] = static_cast<std::uint8_t>((Fix(0.29900) * r + Fix(0.58700) * g + Fix(0.11400) * b + kHalf) >> kScale);
    const std::int32_t cb = (-Fix(0.16874) * r - Fix(0.33126) * g + Fix(0.5) * b + kCentre + kHalf - 1) >> kScale;
    const std::int32_t cr = (Fix(0.5) * r - Fix(0.41869) * g - Fix(0.08131) * b + kCentre + kHalf - 1) >> kScale;
    if constexpr (kFirst) {
      blueSums[x] = cb;
      redSums[x] = cr;
    } else {
      blueSums[x] += cb;
      redSums[x] += cr;
    }
  }
}

template <bool kFirst>
void ConvertRowPlain(const std::uint8_t* bgr, std::int32_t width, std::uint8_t* luma, std::int32_t* blueSums,
                     std::int32_t* redSums) {
  ConvertRowBody<kFirst>(bgr, width, luma, blueSums, redSums);
}

#if defined(__x86_64__) || defined(__i386__)
template <bool kFirst>
__attribute__((target("avx2"))) void ConvertRowAvx2(const std::uint8_t* bgr, std::int32_t width, std::uint8_t* luma,
                                                    std::int32_t* blueSums, std::int32_t* redSums) {
  ConvertRowBody<kFirst>(bgr, width, luma, blueSums, redSums);
}
#endif

template <bool kFirst>
void ConvertRow(const std::uint8_t* bgr, std::int32_t width, std::uint8_t* luma, std::int32_t* blueSums,
                std::int32_t* redSums) {
#if defined(__x86_64__) || defined(__i386__)
  if (platform::HasAvx2()) return ConvertRowAvx2<kFirst>(bgr, width, luma, blueSums, redSums);
#endif
  ConvertRowPlain<kFirst>(bgr, width, luma, blueSums, redSums);
}

// The codec's 2 x 2 average: the rounding bias alternates 1, 2 across the row.
void HalveSums(const std::int32_t* sums, std::size_t outWidth, std::uint8_t* out) {
  for (std::size_t j = 0; j < outWidth; ++j)
    out[j] = static_cast<std::uint8_t>((sums[2 * j] + sums[2 * j + 1] + 1 + static_cast<std::int32_t>(j & 1)) >> 2);
}

}  // namespace

TJpegPlanes::TJpegPlanes(std::int32_t width, std::int32_t height)
    : width_(width),
      height_(height),
      lumaWidth_((static_cast<std::size_t>(width) + 15) / 16 * 16),
      chromaWidth_(lumaWidth_ / 2),
      luma_(lumaWidth_ * kJpegGroupRows),
      blue_(chromaWidth_ * (kJpegGroupRows / 2)),
      red_(chromaWidth_ * (kJpegGroupRows / 2)),
      blueSums_(lumaWidth_),
      redSums_(lumaWidth_) {}

void TJpegPlanes::Fill(std::int32_t group, const TDibGraphic& image) {
  const std::int32_t top = group * kJpegGroupRows;
  const std::size_t w = static_cast<std::size_t>(width_);
  for (std::int32_t pair = 0; pair < kJpegGroupRows / 2; ++pair) {
    const std::int32_t y = top + 2 * pair;
    std::uint8_t* upper = Luma(2 * pair);
    std::uint8_t* lower = Luma(2 * pair + 1);
    if (y >= height_) {
      // Below the image the codec repeats its last rows of samples, luma and colour alike.
      std::memcpy(upper, Luma(2 * pair - 1), lumaWidth_);
      std::memcpy(lower, upper, lumaWidth_);
      std::memcpy(Blue(pair), Blue(pair - 1), chromaWidth_);
      std::memcpy(Red(pair), Red(pair - 1), chromaWidth_);
      continue;
    }
    // An odd last row is paired with itself, as the codec repeats it before halving.
    const std::uint8_t* second = image.RowBits(std::min(y + 1, height_ - 1));
    ConvertRow<true>(image.RowBits(y), width_, upper, blueSums_.data(), redSums_.data());
    ConvertRow<false>(second, width_, lower, blueSums_.data(), redSums_.data());
    // Right of the image the codec repeats the last pixel's samples before halving.
    std::fill(upper + w, upper + lumaWidth_, upper[w - 1]);
    std::fill(lower + w, lower + lumaWidth_, lower[w - 1]);
    std::fill(blueSums_.begin() + width_, blueSums_.end(), blueSums_[w - 1]);
    std::fill(redSums_.begin() + width_, redSums_.end(), redSums_[w - 1]);
    HalveSums(blueSums_.data(), chromaWidth_, Blue(pair));
    HalveSums(redSums_.data(), chromaWidth_, Red(pair));
  }
}

}  // namespace lumipage
