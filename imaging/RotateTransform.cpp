#include "imaging/RotateTransform.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "platform/CpuFeatures.h"
#include "platform/Interrupt.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define LUMIPAGE_ROTATE_AVX2 1
#endif

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

// The rows of the source picture and where a destination pixel's four neighbours lie in them.
struct TSource {
  const std::uint8_t* Bits;
  std::size_t Stride;
  std::int32_t Width, Height;

  // Rows are stored bottom-up: picture row y, and the row below it one stride lower.
  [[nodiscard]] const std::uint8_t* Row(std::int64_t y) const {
    return Bits + static_cast<std::size_t>(Height - 1 - y) * Stride;
  }
  // Whether the source pixel (ix, iy) has its right and lower neighbours inside the picture.
  [[nodiscard]] bool Inside(std::int64_t ix, std::int64_t iy) const {
    return static_cast<std::uint64_t>(ix) < static_cast<std::uint64_t>(Width - 1) &&
           static_cast<std::uint64_t>(iy) < static_cast<std::uint64_t>(Height - 1);
  }
};

// The four weights of a pixel's neighbours from its fractions in 1/256. They sum to 256, so that
// no 16-bit sum passes 255 * 256 + 128. Halves are rounded down: rounded up, three weights of
// x.5 (fx * fy = 128) summed to 257 and left -1 for the fourth.
constexpr std::uint32_t kWeightRounding = 127;
struct TWeights {
  std::uint32_t W00, W01, W10, W11;
  TWeights(std::int64_t sx, std::int64_t sy) {
    const auto fx = static_cast<std::uint32_t>((sx >> 8) & 0xFF), fy = static_cast<std::uint32_t>((sy >> 8) & 0xFF);
    W00 = ((256 - fx) * (256 - fy) + kWeightRounding) >> 8;
    W01 = (fx * (256 - fy) + kWeightRounding) >> 8;
    W10 = ((256 - fx) * fy + kWeightRounding) >> 8;
    W11 = 256 - W00 - W01 - W10;
  }
};

// The three colour bytes spread into 16-bit lanes, so that one multiplication weighs all three.
inline std::uint64_t Spread(const std::uint8_t* p) {
  return std::uint64_t{p[0]} | (std::uint64_t{p[1]} << 16) | (std::uint64_t{p[2]} << 32);
}
constexpr std::uint64_t kLaneMask = 0x000000FF00FF00FFull;
constexpr std::uint64_t kLaneHalf = 0x0000008000800080ull;

// count destination pixels of a row from source position (sx, sy) on, one by one: the
// measure of the vectorised rows, and their part where those do not apply.
void ColourPixels(const TSource& s, const TMapping& m, std::int64_t& sx, std::int64_t& sy, std::int32_t count,
                  std::uint8_t* out, const std::uint8_t* fill) {
  for (std::int32_t x = 0; x < count; ++x, sx += m.StepX, sy += m.StepY, out += 3) {
    const std::int64_t ix = sx >> kFractionBits, iy = sy >> kFractionBits;
    if (!s.Inside(ix, iy)) {
      std::memcpy(out, fill, 3);
      continue;
    }
    const TWeights w(sx, sy);
    const std::uint8_t* upper = s.Row(iy) + static_cast<std::size_t>(ix) * 3;
    const std::uint8_t* lower = upper - s.Stride;
    const std::uint64_t v = ((Spread(upper) * w.W00 + Spread(upper + 3) * w.W01 + Spread(lower) * w.W10 +
                              Spread(lower + 3) * w.W11 + kLaneHalf) >> 8) & kLaneMask;
    out[0] = static_cast<std::uint8_t>(v);
    out[1] = static_cast<std::uint8_t>(v >> 16);
    out[2] = static_cast<std::uint8_t>(v >> 32);
  }
}

void GreyPixels(const TSource& s, const TMapping& m, std::int64_t& sx, std::int64_t& sy, std::int32_t count,
                std::uint8_t* out, std::uint8_t fill) {
  for (std::int32_t x = 0; x < count; ++x, sx += m.StepX, sy += m.StepY) {
    const std::int64_t ix = sx >> kFractionBits, iy = sy >> kFractionBits;
    if (!s.Inside(ix, iy)) {
      out[x] = fill;
      continue;
    }
    const TWeights w(sx, sy);
    const std::uint8_t* upper = s.Row(iy) + static_cast<std::size_t>(ix);
    const std::uint8_t* lower = upper - s.Stride;
    out[x] = static_cast<std::uint8_t>((upper[0] * w.W00 + upper[1] * w.W01 + lower[0] * w.W10 + lower[1] * w.W11 + 128) >> 8);
  }
}

#ifdef LUMIPAGE_ROTATE_AVX2
// Eight colour or sixteen grey pixels at a time. A turn of a few degrees takes the neighbours of
// a run of destination pixels from consecutive source pixels of two, three or four source
// rows: each row is read with plain loads and each pixel picks its pair of rows, so that no
// gather is needed. The integer arithmetic is that of the plain code, and so is every byte.
// Runs that do not fit (the edges, a skipped source column, a steeper turn) go the plain way.

// A block of pixels taken from consecutive source columns ix0.., rows top..top+span+1.
struct TBlock {
  std::int64_t Ix0 = 0, Top = 0, Span = 0;
};

// Whether `count` pixels from (sx, sy) on form such a block, reading `reach` pixels from ix0 on.
inline bool FindBlock(const TSource& s, const TMapping& m, std::int64_t sx, std::int64_t sy, std::int32_t count,
                      std::int32_t reach, TBlock& b) {
  const std::int64_t ix0 = sx >> kFractionBits, ixn = (sx + (count - 1) * m.StepX) >> kFractionBits;
  const std::int64_t iy0 = sy >> kFractionBits, iyn = (sy + (count - 1) * m.StepY) >> kFractionBits;
  b.Ix0 = ix0;
  b.Top = std::min(iy0, iyn);
  b.Span = std::max(iy0, iyn) - b.Top;
  // Steps of at most one column each that add up to count - 1 are steps of exactly one.
  return ixn - ix0 == count - 1 && ix0 >= 0 && ix0 + reach <= s.Width && b.Top >= 0 && b.Span <= 2 &&
         b.Top + b.Span + 1 < s.Height;
}

// Per pixel lane: its weights and its row (0 to Span) below the block's top row, from the
// 32-bit offsets of its position from the block's first column and top row.
struct TLaneWeights {
  __m256i W00, W01, W10, W11, Row;
};

__attribute__((target("avx2"))) inline TLaneWeights LaneWeights(__m256i relX, __m256i relY) {
  const __m256i byte = _mm256_set1_epi32(0xFF), full = _mm256_set1_epi32(256);
  const __m256i half = _mm256_set1_epi32(static_cast<std::int32_t>(kWeightRounding));
  const __m256i fx = _mm256_and_si256(_mm256_srli_epi32(relX, 8), byte);
  const __m256i fy = _mm256_and_si256(_mm256_srli_epi32(relY, 8), byte);
  const __m256i gx = _mm256_sub_epi32(full, fx), gy = _mm256_sub_epi32(full, fy);
  TLaneWeights w;
  w.W00 = _mm256_srli_epi32(_mm256_add_epi32(_mm256_mullo_epi32(gx, gy), half), 8);
  w.W01 = _mm256_srli_epi32(_mm256_add_epi32(_mm256_mullo_epi32(fx, gy), half), 8);
  w.W10 = _mm256_srli_epi32(_mm256_add_epi32(_mm256_mullo_epi32(gx, fy), half), 8);
  w.W11 = _mm256_sub_epi32(_mm256_sub_epi32(_mm256_sub_epi32(full, w.W00), w.W01), w.W10);
  w.Row = _mm256_srli_epi32(relY, kFractionBits);
  return w;
}

// Of the rows' vectors from row on, the one of each lane's row (row[0] where Row is 0, and so on).
template <int Span>
__attribute__((target("avx2"))) inline __m256i Pick(const __m256i* rows, __m256i second, __m256i third) {
  __m256i v = rows[0];
  if constexpr (Span >= 1) v = _mm256_blendv_epi8(v, rows[1], second);
  if constexpr (Span >= 2) v = _mm256_blendv_epi8(v, rows[2], third);
  return v;
}

// Eight colour pixels in 32-bit lanes (blue, green, red, 0) from p on.
__attribute__((target("avx2"))) inline __m256i LoadColour8(const std::uint8_t* p, __m256i expand) {
  const __m256i v = _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12)), 1);
  return _mm256_shuffle_epi8(v, expand);
}

// A weight per 32-bit lane, as four 16-bit lanes for each of the pixels that unpacklo/hi_epi8
// put there.
__attribute__((target("avx2"))) inline void Spread16(__m256i w, __m256i& lo, __m256i& hi) {
  const __m256i both = _mm256_or_si256(w, _mm256_slli_epi32(w, 16));
  lo = _mm256_unpacklo_epi32(both, both);
  hi = _mm256_unpackhi_epi32(both, both);
}

// The eight pixels of a colour block, packed into the first 12 bytes of each 128-bit half.
template <int Span>
__attribute__((target("avx2"))) inline __m256i ColourBlock(const TSource& s, const TBlock& b, const TLaneWeights& lw) {
  const __m256i expand = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 0, 1, 2, -1, 3, 4,
                                          5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  const __m256i pack = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0, 1, 2, 4, 5, 6, 8,
                                        9, 10, 12, 13, 14, -1, -1, -1, -1);
  const __m256i zero = _mm256_setzero_si256(), half = _mm256_set1_epi16(128);
  const __m256i second = _mm256_cmpgt_epi32(lw.Row, _mm256_setzero_si256());
  const __m256i third = _mm256_cmpgt_epi32(lw.Row, _mm256_set1_epi32(1));
  __m256i left[Span + 2], right[Span + 2];
  const std::uint8_t* row = s.Row(b.Top) + static_cast<std::size_t>(b.Ix0) * 3;
  for (int r = 0; r < Span + 2; ++r, row -= s.Stride) {
    left[r] = LoadColour8(row, expand);
    right[r] = LoadColour8(row + 3, expand);
  }
  const __m256i ul = Pick<Span>(left, second, third), ur = Pick<Span>(right, second, third);
  const __m256i ll = Pick<Span>(left + 1, second, third), lr = Pick<Span>(right + 1, second, third);
  __m256i w00l, w00h, w01l, w01h, w10l, w10h, w11l, w11h;
  Spread16(lw.W00, w00l, w00h);
  Spread16(lw.W01, w01l, w01h);
  Spread16(lw.W10, w10l, w10h);
  Spread16(lw.W11, w11l, w11h);
  __m256i lo = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpacklo_epi8(ul, zero), w00l),
                                _mm256_mullo_epi16(_mm256_unpacklo_epi8(ur, zero), w01l));
  lo = _mm256_add_epi16(lo, _mm256_mullo_epi16(_mm256_unpacklo_epi8(ll, zero), w10l));
  lo = _mm256_add_epi16(lo, _mm256_mullo_epi16(_mm256_unpacklo_epi8(lr, zero), w11l));
  __m256i hi = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpackhi_epi8(ul, zero), w00h),
                                _mm256_mullo_epi16(_mm256_unpackhi_epi8(ur, zero), w01h));
  hi = _mm256_add_epi16(hi, _mm256_mullo_epi16(_mm256_unpackhi_epi8(ll, zero), w10h));
  hi = _mm256_add_epi16(hi, _mm256_mullo_epi16(_mm256_unpackhi_epi8(lr, zero), w11h));
  lo = _mm256_srli_epi16(_mm256_add_epi16(lo, half), 8);
  hi = _mm256_srli_epi16(_mm256_add_epi16(hi, half), 8);
  return _mm256_shuffle_epi8(_mm256_packus_epi16(lo, hi), pack);
}

__attribute__((target("avx2"))) void ColourRowAvx2(const TSource& s, const TMapping& m, std::int64_t sx,
                                                   std::int64_t sy, std::uint8_t* out, const std::uint8_t* fill) {
  constexpr std::int32_t kBlock = 8;
  // Two loads of 16 bytes at pixels ix0 + 1 and ix0 + 5 end at byte 3 * ix0 + 30.
  constexpr std::int32_t kReach = 11;
  const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  const __m256i stepsX = _mm256_mullo_epi32(lane, _mm256_set1_epi32(static_cast<std::int32_t>(m.StepX)));
  const __m256i stepsY = _mm256_mullo_epi32(lane, _mm256_set1_epi32(static_cast<std::int32_t>(m.StepY)));
  const std::int32_t w = s.Width;
  std::int32_t x = 0;
  for (; x + kBlock <= w; x += kBlock, out += 3 * kBlock) {
    TBlock b;
    if (!FindBlock(s, m, sx, sy, kBlock, kReach, b)) {
      ColourPixels(s, m, sx, sy, kBlock, out, fill);
      continue;
    }
    const __m256i relX = _mm256_add_epi32(_mm256_set1_epi32(static_cast<std::int32_t>(sx - (b.Ix0 << kFractionBits))), stepsX);
    const __m256i relY = _mm256_add_epi32(_mm256_set1_epi32(static_cast<std::int32_t>(sy - (b.Top << kFractionBits))), stepsY);
    sx += kBlock * m.StepX;
    sy += kBlock * m.StepY;
    const TLaneWeights lw = LaneWeights(relX, relY);
    __m256i bytes;
    switch (b.Span) {
      case 0: bytes = ColourBlock<0>(s, b, lw); break;
      case 1: bytes = ColourBlock<1>(s, b, lw); break;
      default: bytes = ColourBlock<2>(s, b, lw); break;
    }
    // Pixels 0 to 3, then 4 to 7 over the four spare bytes: exactly 24 bytes written.
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(bytes));
    const __m128i upper = _mm256_extracti128_si256(bytes, 1);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 12), upper);
    const auto last = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(upper, 8)));
    std::memcpy(out + 20, &last, 4);
  }
  ColourPixels(s, m, sx, sy, w - x, out, fill);
}

// Sixteen 32-bit lanes (two vectors) as sixteen 16-bit lanes in order.
__attribute__((target("avx2"))) inline __m256i Narrow(__m256i a, __m256i b) {
  return _mm256_permute4x64_epi64(_mm256_packus_epi32(a, b), 0xD8);
}

// The sixteen pixels of a grey block.
template <int Span>
__attribute__((target("avx2"))) inline __m128i GreyBlock(const TSource& s, const TBlock& b, const TLaneWeights& a,
                                                         const TLaneWeights& c) {
  const __m256i w00 = Narrow(a.W00, c.W00), w01 = Narrow(a.W01, c.W01);
  const __m256i w10 = Narrow(a.W10, c.W10), w11 = Narrow(a.W11, c.W11);
  const __m256i half = _mm256_set1_epi16(128);
  const __m256i rows = Narrow(a.Row, c.Row);
  const __m256i second = _mm256_cmpgt_epi16(rows, _mm256_setzero_si256());
  const __m256i third = _mm256_cmpgt_epi16(rows, _mm256_set1_epi16(1));
  __m256i left[Span + 2], right[Span + 2];
  const std::uint8_t* row = s.Row(b.Top) + static_cast<std::size_t>(b.Ix0);
  for (int r = 0; r < Span + 2; ++r, row -= s.Stride) {
    left[r] = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row)));
    right[r] = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 1)));
  }
  __m256i sum = _mm256_add_epi16(_mm256_mullo_epi16(Pick<Span>(left, second, third), w00),
                                 _mm256_mullo_epi16(Pick<Span>(right, second, third), w01));
  sum = _mm256_add_epi16(sum, _mm256_mullo_epi16(Pick<Span>(left + 1, second, third), w10));
  sum = _mm256_add_epi16(sum, _mm256_mullo_epi16(Pick<Span>(right + 1, second, third), w11));
  sum = _mm256_srli_epi16(_mm256_add_epi16(sum, half), 8);
  return _mm_packus_epi16(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
}

__attribute__((target("avx2"))) void GreyRowAvx2(const TSource& s, const TMapping& m, std::int64_t sx,
                                                 std::int64_t sy, std::uint8_t* out, std::uint8_t fill) {
  constexpr std::int32_t kBlock = 16;
  // Loads of 16 bytes at pixels ix0 and ix0 + 1.
  constexpr std::int32_t kReach = 17;
  const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  const __m256i stepX = _mm256_set1_epi32(static_cast<std::int32_t>(m.StepX));
  const __m256i stepY = _mm256_set1_epi32(static_cast<std::int32_t>(m.StepY));
  const __m256i stepsX = _mm256_mullo_epi32(lane, stepX), stepsY = _mm256_mullo_epi32(lane, stepY);
  const __m256i eightX = _mm256_slli_epi32(stepX, 3), eightY = _mm256_slli_epi32(stepY, 3);
  const std::int32_t w = s.Width;
  std::int32_t x = 0;
  for (; x + kBlock <= w; x += kBlock) {
    TBlock b;
    if (!FindBlock(s, m, sx, sy, kBlock, kReach, b)) {
      GreyPixels(s, m, sx, sy, kBlock, out + x, fill);
      continue;
    }
    const __m256i relX = _mm256_add_epi32(_mm256_set1_epi32(static_cast<std::int32_t>(sx - (b.Ix0 << kFractionBits))), stepsX);
    const __m256i relY = _mm256_add_epi32(_mm256_set1_epi32(static_cast<std::int32_t>(sy - (b.Top << kFractionBits))), stepsY);
    sx += kBlock * m.StepX;
    sy += kBlock * m.StepY;
    const TLaneWeights a = LaneWeights(relX, relY);
    const TLaneWeights c = LaneWeights(_mm256_add_epi32(relX, eightX), _mm256_add_epi32(relY, eightY));
    __m128i bytes;
    switch (b.Span) {
      case 0: bytes = GreyBlock<0>(s, b, a, c); break;
      case 1: bytes = GreyBlock<1>(s, b, a, c); break;
      default: bytes = GreyBlock<2>(s, b, a, c); break;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), bytes);
  }
  GreyPixels(s, m, sx, sy, w - x, out + x, fill);
}

#endif

// How one destination row is made from where it starts in the source, and the page turned row
// by row with it.
template <typename Fill>
using TRowMaker = void (*)(const TSource&, const TMapping&, std::int64_t, std::int64_t, std::uint8_t*, Fill);

template <typename Fill>
void RotateRows(const TSource& s, TDibGraphic& dst, const TMapping& m, TRowMaker<Fill> row, Fill fill) {
  for (std::int32_t y = 0; y < s.Height; ++y) {
    if (y % kRowsBetweenChecks == 0) platform::CheckInterrupt();
    std::int64_t sx, sy;
    m.RowStart(y, sx, sy);
    row(s, m, sx, sy, dst.RowBits(y), fill);
  }
}

void ColourRowPlain(const TSource& s, const TMapping& m, std::int64_t sx, std::int64_t sy, std::uint8_t* out,
                    const std::uint8_t* fill) {
  ColourPixels(s, m, sx, sy, s.Width, out, fill);
}

void GreyRowPlain(const TSource& s, const TMapping& m, std::int64_t sx, std::int64_t sy, std::uint8_t* out,
                  std::uint8_t fill) {
  GreyPixels(s, m, sx, sy, s.Width, out, fill);
}

void RotateTrueColor(const TDibGraphic& src, TDibGraphic& dst, const TMapping& m, std::uint32_t fill, [[maybe_unused]] bool plain) {
  const std::uint8_t fillBytes[3] = {static_cast<std::uint8_t>(fill & 0xFF), static_cast<std::uint8_t>((fill >> 8) & 0xFF),
                                     static_cast<std::uint8_t>((fill >> 16) & 0xFF)};
  TRowMaker<const std::uint8_t*> row = ColourRowPlain;
#ifdef LUMIPAGE_ROTATE_AVX2
  if (!plain && platform::HasAvx2()) row = ColourRowAvx2;
#endif
  RotateRows<const std::uint8_t*>({src.Bits(), src.BytesPerRow(), src.Width(), src.Height()}, dst, m, row, fillBytes);
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

void RotateGrey(const TDibGraphic& src, TDibGraphic& dst, const TMapping& m, std::uint8_t fill, [[maybe_unused]] bool plain) {
  TRowMaker<std::uint8_t> row = GreyRowPlain;
#ifdef LUMIPAGE_ROTATE_AVX2
  if (!plain && platform::HasAvx2()) row = GreyRowAvx2;
#endif
  RotateRows<std::uint8_t>({src.Bits(), src.BytesPerRow(), src.Width(), src.Height()}, dst, m, row, fill);
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
    RotateTrueColor(source, dest, mapping, FillColor, PlainCode);
    return;
  }
  const std::uint8_t fillIndex = dest.ColorToIndex(FillColor);
  if (GreyRamp(source))
    RotateGrey(source, dest, mapping, fillIndex, PlainCode);
  else if (kind == ikBlackWhite)
    RotateBlackWhite(source, dest, mapping, fillIndex);
  else
    RotateNearest(source, dest, mapping, fillIndex);
}

}  // namespace lumipage
