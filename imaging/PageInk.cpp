#include "imaging/PageInk.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>

#include "platform/CpuFeatures.h"
#include "platform/Interrupt.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define LUMIPAGE_INK_SSSE3 1
#endif

namespace lumipage {

namespace {

// Rows read between two looks at an interruption of the job.
constexpr std::int32_t kRowsBetweenChecks = 256;
// Smallest page worth a verdict, in samples along each axis.
constexpr std::int32_t kMinSamples = 16;
// Side of the squares whose paper level is measured, in millimetres: large beside a letter's
// stroke, small beside a shadow's gradient.
constexpr double kPaperBlockMm = 6.0;
// Share of the squares quieter than the page's noise figure: plain paper covers at least this
// much of any page worth judging.
constexpr std::uint32_t kQuietSquares = 10;
// Share of a square's samples at or below its paper level: ink covers less than the rest.
constexpr std::uint32_t kPaperPercentile = 70;
// How far the paper of a square may fall below the page's paper: uneven light and a tint do,
// a picture or a large grey area darker than that is ink, not paper.
constexpr int kMaxShading = 24;

// Brightness as the eye weighs the channels (ITU-R BT.601), in whole levels.
std::uint8_t Luma(unsigned r, unsigned g, unsigned b) {
  return static_cast<std::uint8_t>((77 * r + 150 * g + 29 * b + 128) >> 8);
}

// The chosen measure of each palette entry.
std::array<std::uint8_t, 256> PaletteLevels(const TDibGraphic& page, TInkChannel channel) {
  std::array<std::uint8_t, 256> levels{};
  for (std::size_t i = 0; i < levels.size(); ++i) {
    const TRgbQuad& c = page.BitmapInfo().bmiColors[i];
    levels[i] = channel == TInkChannel::Darkest ? std::min({c.rgbRed, c.rgbGreen, c.rgbBlue})
                                                : Luma(c.rgbRed, c.rgbGreen, c.rgbBlue);
  }
  return levels;
}

void ColourLevelsPlain(const std::uint8_t* p, std::uint8_t* out, std::int32_t w) {
  for (std::int32_t x = 0; x < w; ++x, p += 3) out[x] = std::min({p[0], p[1], p[2]});
}

// Pixels are stored blue, green, red.
void LumaLevels(const std::uint8_t* p, std::uint8_t* out, std::int32_t w) {
  for (std::int32_t x = 0; x < w; ++x, p += 3) out[x] = Luma(p[2], p[1], p[0]);
}

#ifdef LUMIPAGE_INK_SSSE3
// Sixteen pixels (48 bytes) at a time: the minimum of each byte and the two after it, then the
// bytes where pixels start. Reads no byte past the row.
__attribute__((target("ssse3"))) void ColourLevelsSsse3(const std::uint8_t* p, std::uint8_t* out, std::int32_t w) {
  const __m128i fromA = _mm_setr_epi8(0, 3, 6, 9, 12, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i fromB = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, 2, 5, 8, 11, 14, -1, -1, -1, -1, -1);
  const __m128i fromC = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 1, 4, 7, 10, 13);
  std::int32_t x = 0;
  for (; x + 16 <= w; x += 16, p += 48) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
    const __m128i ma = _mm_min_epu8(a, _mm_min_epu8(_mm_alignr_epi8(b, a, 1), _mm_alignr_epi8(b, a, 2)));
    const __m128i mb = _mm_min_epu8(b, _mm_min_epu8(_mm_alignr_epi8(c, b, 1), _mm_alignr_epi8(c, b, 2)));
    const __m128i mc = _mm_min_epu8(c, _mm_min_epu8(_mm_srli_si128(c, 1), _mm_srli_si128(c, 2)));
    const __m128i levels = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(ma, fromA), _mm_shuffle_epi8(mb, fromB)),
                                        _mm_shuffle_epi8(mc, fromC));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), levels);
  }
  ColourLevelsPlain(p, out + x, w - x);
}
#endif

#ifdef LUMIPAGE_INK_SSSE3
// The luma of sixteen pixels at a time: each channel gathered into its own register, widened to
// 16 bits, weighted and summed exactly as the plain code does (the sum stays below 65,536).
__attribute__((target("ssse3"))) inline __m128i Gather(__m128i a, __m128i b, __m128i c, __m128i fa, __m128i fb,
                                                        __m128i fc) {
  return _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, fa), _mm_shuffle_epi8(b, fb)), _mm_shuffle_epi8(c, fc));
}

__attribute__((target("ssse3"))) void LumaLevelsSsse3(const std::uint8_t* p, std::uint8_t* out, std::int32_t w) {
  const __m128i blueA = _mm_setr_epi8(0, 3, 6, 9, 12, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i blueB = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, 2, 5, 8, 11, 14, -1, -1, -1, -1, -1);
  const __m128i blueC = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 1, 4, 7, 10, 13);
  const __m128i greenA = _mm_setr_epi8(1, 4, 7, 10, 13, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i greenB = _mm_setr_epi8(-1, -1, -1, -1, -1, 0, 3, 6, 9, 12, 15, -1, -1, -1, -1, -1);
  const __m128i greenC = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 2, 5, 8, 11, 14);
  const __m128i redA = _mm_setr_epi8(2, 5, 8, 11, 14, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i redB = _mm_setr_epi8(-1, -1, -1, -1, -1, 1, 4, 7, 10, 13, -1, -1, -1, -1, -1, -1);
  const __m128i redC = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 3, 6, 9, 12, 15);
  const __m128i zero = _mm_setzero_si128();
  const __m128i wr = _mm_set1_epi16(77), wg = _mm_set1_epi16(150), wb = _mm_set1_epi16(29), half = _mm_set1_epi16(128);
  const auto weigh = [&](__m128i r, __m128i g, __m128i b) {
    const __m128i sum = _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(r, wr), _mm_mullo_epi16(g, wg)),
                                      _mm_add_epi16(_mm_mullo_epi16(b, wb), half));
    return _mm_srli_epi16(sum, 8);
  };
  std::int32_t x = 0;
  for (; x + 16 <= w; x += 16, p += 48) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
    const __m128i blue = Gather(a, b, c, blueA, blueB, blueC);
    const __m128i green = Gather(a, b, c, greenA, greenB, greenC);
    const __m128i red = Gather(a, b, c, redA, redB, redC);
    const __m128i low = weigh(_mm_unpacklo_epi8(red, zero), _mm_unpacklo_epi8(green, zero), _mm_unpacklo_epi8(blue, zero));
    const __m128i high = weigh(_mm_unpackhi_epi8(red, zero), _mm_unpackhi_epi8(green, zero), _mm_unpackhi_epi8(blue, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(low, high));
  }
  LumaLevels(p, out + x, w - x);
}
#endif

// A colour row as levels: the chosen measure of each pixel.
void ColourLevels(const std::uint8_t* p, std::uint8_t* out, std::int32_t w, TInkChannel channel) {
  const bool luma = channel == TInkChannel::Luma;
#ifdef LUMIPAGE_INK_SSSE3
  if (platform::HasSsse3()) return (luma ? LumaLevelsSsse3 : ColourLevelsSsse3)(p, out, w);
#endif
  (luma ? LumaLevels : ColourLevelsPlain)(p, out, w);
}

// The levels of the eight pixels of each byte of a black-and-white row, in pixel order.
using TByteLevels = std::array<std::array<std::uint8_t, 8>, 256>;

TByteLevels ByteLevels(const std::array<std::uint8_t, 256>& palette) {
  TByteLevels levels{};
  for (std::size_t b = 0; b < levels.size(); ++b)
    for (std::size_t k = 0; k < 8; ++k) levels[b][k] = palette[(b >> (7 - k)) & 1];
  return levels;
}

// One row of the page as levels (the chosen measure per pixel).
void RowLevels(const TDibGraphic& page, std::int32_t y, const std::array<std::uint8_t, 256>& palette,
               const TByteLevels& bytes, TInkChannel channel, std::uint8_t* out) {
  const std::uint8_t* p = page.RowBits(y);
  const std::int32_t w = page.Width();
  switch (page.ImageKind()) {
    case ikTrueColor:
      ColourLevels(p, out, w, channel);
      break;
    case ikGray256:
    case ikColor256:
      for (std::int32_t x = 0; x < w; ++x) out[x] = palette[p[x]];
      break;
    case ikGray16:
    case ikColor16:
      for (std::int32_t x = 0; x < w; ++x) out[x] = palette[(p[x >> 1] >> ((x & 1) != 0 ? 0 : 4)) & 0x0F];
      break;
    default: {
      // Eight pixels at a time: black-and-white pages are read whole for patch codes too.
      std::int32_t x = 0;
      for (; x + 8 <= w; x += 8) std::memcpy(out + x, bytes[p[x >> 3]].data(), 8);
      for (; x < w; ++x) out[x] = palette[(p[x >> 3] >> (7 - (x & 7))) & 1];
      break;
    }
  }
}

// Adds each run of F levels of a row to its sample's sum.
template <int F>
void AddRow(const std::uint8_t* levels, std::uint32_t* sums, std::int32_t samples) {
  for (std::int32_t sx = 0; sx < samples; ++sx, levels += F) {
    std::uint32_t s = 0;
    for (int k = 0; k < F; ++k) s += levels[k];
    sums[sx] += s;
  }
}

void AddRow(const std::uint8_t* levels, std::uint32_t* sums, std::int32_t samples, std::int32_t f) {
  switch (f) {
    case 1: return AddRow<1>(levels, sums, samples);
    case 2: return AddRow<2>(levels, sums, samples);
    case 3: return AddRow<3>(levels, sums, samples);
    case 4: return AddRow<4>(levels, sums, samples);
    default:
      for (std::int32_t sx = 0; sx < samples; ++sx)
        for (std::int32_t k = 0; k < f; ++k) sums[sx] += *levels++;
  }
}

// Averages factor x factor pixels into each sample.
void Reduce(const TDibGraphic& page, TInkChannel channel, TPageInk& ink) {
  const std::int32_t f = ink.Factor;
  const auto palette = PaletteLevels(page, channel);
  const auto bytes = std::make_unique<TByteLevels>(ByteLevels(palette));
  std::vector<std::uint8_t> row(static_cast<std::size_t>(page.Width()));
  std::vector<std::uint32_t> sums(static_cast<std::size_t>(ink.Width));
  const std::uint32_t area = static_cast<std::uint32_t>(f * f);
  // Division by the area as a multiplication: exact for sums up to 255 * 16 * 16.
  const std::uint32_t reciprocal = ((1u << 24) + area - 1) / area;
  ink.Level.resize(static_cast<std::size_t>(ink.Width) * static_cast<std::size_t>(ink.Height));
  for (std::int32_t sy = 0; sy < ink.Height; ++sy) {
    if (sy % std::max(1, kRowsBetweenChecks / f) == 0) platform::CheckInterrupt();
    std::fill(sums.begin(), sums.end(), 0u);
    for (std::int32_t r = 0; r < f; ++r) {
      RowLevels(page, sy * f + r, palette, *bytes, channel, row.data());
      AddRow(row.data(), sums.data(), ink.Width, f);
    }
    std::uint8_t* out = ink.Level.data() + static_cast<std::size_t>(sy) * static_cast<std::size_t>(ink.Width);
    for (std::int32_t sx = 0; sx < ink.Width; ++sx)
      out[sx] = static_cast<std::uint8_t>(((sums[static_cast<std::size_t>(sx)] + area / 2) * std::uint64_t{reciprocal}) >> 24);
  }
}

// Side of the squares the paper is measured in, in samples.
std::int32_t PaperBlock(const TPageInk& ink) {
  return std::max<std::int32_t>(8, static_cast<std::int32_t>(std::lround(ink.Samples(kPaperBlockMm))));
}

// The step between places of a grid of about 4,000 over width x height.
std::int32_t SampleStep(std::int32_t width, std::int32_t height) {
  return std::max<std::int32_t>(1, static_cast<std::int32_t>(std::sqrt(static_cast<double>(width) * height / 4096.0)));
}

// The value below which share percent of a histogram's counts lie.
int Percentile(const std::array<std::uint32_t, 256>& histogram, std::uint32_t total, std::uint32_t share) {
  std::uint32_t seen = 0;
  for (int d = 0; d < 256; ++d) {
    seen += histogram[static_cast<std::size_t>(d)];
    if (seen * 100 >= total * share) return d;
  }
  return 255;
}

// The typical step between neighbouring samples on a line of plain paper. Each square's upper
// quartile of steps is its noise (ink covers less of a square than paper); the page's noise is
// the quieter squares' figure, which paper sets even where the rest of the page is filled with
// pictures or fine patterns.
int MeasureNoise(const TPageInk& ink) {
  const std::int32_t block = PaperBlock(ink);
  const std::int32_t bw = (ink.Width + block - 1) / block, bh = (ink.Height + block - 1) / block;
  std::vector<std::array<std::uint32_t, 256>> histograms(static_cast<std::size_t>(bw));
  std::array<std::uint32_t, 256> squares{};
  for (std::int32_t by = 0; by < bh; ++by) {
    for (auto& h : histograms) h.fill(0);
    const std::int32_t y1 = std::min(ink.Height, (by + 1) * block);
    for (std::int32_t y = by * block; y < y1; y += 2) {
      const std::uint8_t* p = ink.Level.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(ink.Width);
      for (std::int32_t bx = 0; bx < bw; ++bx) {
        auto& h = histograms[static_cast<std::size_t>(bx)];
        const std::int32_t x1 = std::min(ink.Width - 1, (bx + 1) * block);
        for (std::int32_t x = bx * block; x < x1; ++x) ++h[static_cast<std::size_t>(std::abs(p[x + 1] - p[x]))];
      }
    }
    const std::uint32_t rows = static_cast<std::uint32_t>((y1 - by * block + 1) / 2);
    for (std::int32_t bx = 0; bx < bw; ++bx) {
      const std::int32_t x1 = std::min(ink.Width - 1, (bx + 1) * block);
      const std::uint32_t steps = rows * static_cast<std::uint32_t>(std::max(0, x1 - bx * block));
      if (steps == 0) continue;
      ++squares[static_cast<std::size_t>(Percentile(histograms[static_cast<std::size_t>(bx)], steps, 75))];
    }
  }
  std::uint32_t total = 0;
  for (std::uint32_t c : squares) total += c;
  return total == 0 ? 0 : Percentile(squares, total, kQuietSquares);
}

// Paper level of each square of side block, then each square's value replaced by the median of
// it and its neighbours, so that a large dark area (a stamp, a photograph) does not pass for
// paper.
std::vector<int> PaperBlocks(const TPageInk& ink, std::int32_t block, std::int32_t bw, std::int32_t bh) {
  std::vector<int> levels(static_cast<std::size_t>(bw) * static_cast<std::size_t>(bh));
  std::vector<std::array<std::uint32_t, 256>> histograms(static_cast<std::size_t>(bw));
  for (std::int32_t by = 0; by < bh; ++by) {
    for (auto& h : histograms) h.fill(0);
    const std::int32_t y1 = std::min(ink.Height, (by + 1) * block);
    for (std::int32_t y = by * block; y < y1; ++y) {
      const std::uint8_t* p = ink.Level.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(ink.Width);
      for (std::int32_t bx = 0; bx < bw; ++bx) {
        auto& h = histograms[static_cast<std::size_t>(bx)];
        const std::int32_t x1 = std::min(ink.Width, (bx + 1) * block);
        for (std::int32_t x = bx * block; x < x1; ++x) ++h[p[x]];
      }
    }
    for (std::int32_t bx = 0; bx < bw; ++bx) {
      const auto& h = histograms[static_cast<std::size_t>(bx)];
      std::uint32_t total = 0;
      for (std::uint32_t c : h) total += c;
      levels[static_cast<std::size_t>(by) * static_cast<std::size_t>(bw) + static_cast<std::size_t>(bx)] =
          Percentile(h, total, kPaperPercentile);
    }
  }
  std::vector<int> smoothed(levels.size());
  for (std::int32_t by = 0; by < bh; ++by) {
    for (std::int32_t bx = 0; bx < bw; ++bx) {
      int around[9];
      int n = 0;
      for (std::int32_t j = std::max(0, by - 1); j <= std::min(bh - 1, by + 1); ++j)
        for (std::int32_t i = std::max(0, bx - 1); i <= std::min(bw - 1, bx + 1); ++i)
          around[n++] = levels[static_cast<std::size_t>(j) * static_cast<std::size_t>(bw) + static_cast<std::size_t>(i)];
      std::nth_element(around, around + n / 2, around + n);
      smoothed[static_cast<std::size_t>(by) * static_cast<std::size_t>(bw) + static_cast<std::size_t>(bx)] = around[n / 2];
    }
  }
  return smoothed;
}

// Darkness of every sample against the paper level, interpolated between the squares' centres.
void MeasureDarkness(TPageInk& ink) {
  const std::int32_t block = PaperBlock(ink);
  const std::int32_t bw = (ink.Width + block - 1) / block, bh = (ink.Height + block - 1) / block;
  std::vector<int> paper = PaperBlocks(ink, block, bw, bh);
  {
    std::vector<int> sorted = paper;
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2), sorted.end());
    ink.PaperLevel = sorted[sorted.size() / 2];
  }
  for (int& level : paper) level = std::max(level, ink.PaperLevel - kMaxShading);
  // Where a row lies between two squares' centres, in 1/256.
  auto place = [block](std::int32_t v, std::int32_t count, std::int32_t& lower, std::int32_t& w256) {
    const double u = std::clamp((v + 0.5) / block - 0.5, 0.0, static_cast<double>(count - 1));
    lower = std::min(static_cast<std::int32_t>(u), std::max(0, count - 2));
    w256 = count > 1 ? static_cast<std::int32_t>(std::lround((u - lower) * 256)) : 0;
  };
  ink.Darkness.resize(ink.Level.size());
  std::vector<std::int32_t> across(static_cast<std::size_t>(bw));  // paper at the centres, in 1/256
  std::vector<std::int32_t> background(static_cast<std::size_t>(ink.Width));
  for (std::int32_t y = 0; y < ink.Height; ++y) {
    if (y % kRowsBetweenChecks == 0) platform::CheckInterrupt();
    std::int32_t top = 0, wy = 0;
    place(y, bh, top, wy);
    const std::int32_t bottom = std::min(top + 1, bh - 1);
    for (std::int32_t bx = 0; bx < bw; ++bx)
      across[static_cast<std::size_t>(bx)] =
          paper[static_cast<std::size_t>(top) * static_cast<std::size_t>(bw) + static_cast<std::size_t>(bx)] * (256 - wy) +
          paper[static_cast<std::size_t>(bottom) * static_cast<std::size_t>(bw) + static_cast<std::size_t>(bx)] * wy;
    // Flat before the first centre and after the last, straight lines between them.
    const std::int32_t half = block / 2;
    for (std::int32_t x = 0; x < ink.Width; ++x) {
      const std::int32_t u = x - half;
      std::int32_t i = u < 0 ? 0 : u / block;
      if (u < 0 || i >= bw - 1) {
        background[static_cast<std::size_t>(x)] = across[static_cast<std::size_t>(u < 0 ? 0 : bw - 1)];
        continue;
      }
      // One division per square, then steps (in 1/65536).
      const std::int32_t end = std::min(ink.Width, half + (i + 1) * block);
      const std::int32_t a = across[static_cast<std::size_t>(i)], b = across[static_cast<std::size_t>(i + 1)];
      const std::int32_t step = (b - a) * 256 / block;
      std::int32_t v = a * 256 + step * (u - i * block);
      for (; x < end; ++x, v += step) background[static_cast<std::size_t>(x)] = v >> 8;
      --x;
    }
    const std::size_t at = static_cast<std::size_t>(y) * static_cast<std::size_t>(ink.Width);
    const std::uint8_t* level = ink.Level.data() + at;
    std::uint8_t* dark = ink.Darkness.data() + at;
    for (std::int32_t x = 0; x < ink.Width; ++x) {
      const std::int32_t d = ((background[static_cast<std::size_t>(x)] + 128) >> 8) - level[x];
      dark[x] = static_cast<std::uint8_t>(d < 0 ? 0 : (d > 255 ? 255 : d));
    }
  }
}

}  // namespace

TPageInk MeasureInk(const TDibGraphic& page, std::uint16_t dpi, TInkChannel channel, int analysisDpi) {
  TPageInk ink;
  if (page.Empty()) return ink;
  const std::uint64_t pixels = static_cast<std::uint64_t>(page.Width()) * static_cast<std::uint64_t>(page.Height());
  if (pixels > kMaxAnalysedPixels) return ink;
  if (dpi == 0) dpi = page.DpiX();
  if (dpi == 0) dpi = 200;
  ink.Factor = std::clamp(static_cast<std::int32_t>(std::lround(dpi / static_cast<double>(std::max(1, analysisDpi)))), 1, 16);
  const std::int32_t w = page.Width() / ink.Factor, h = page.Height() / ink.Factor;
  if (w < kMinSamples || h < kMinSamples) return ink;
  ink.Width = w;
  ink.Height = h;
  ink.Dpi = static_cast<double>(dpi) / ink.Factor;
  ink.Channel = channel;
  Reduce(page, channel, ink);
  ink.Noise = MeasureNoise(ink);
  MeasureDarkness(ink);
  return ink;
}

bool HasColour(const TDibGraphic& page) {
  const TImageKind kind = page.ImageKind();
  return kind == ikTrueColor || kind == ikColor256 || kind == ikColor16;
}

TInkChannel InkChannelFor(const TDibGraphic& page) {
  if (page.Empty() || !HasColour(page)) return TInkChannel::Darkest;
  // The median of the darkest channel over a grid of about 4,000 pixels: most of a page is paper.
  const std::int32_t step = SampleStep(page.Width(), page.Height());
  std::array<std::uint32_t, 256> histogram{};
  std::uint32_t total = 0;
  for (std::int32_t y = step / 2; y < page.Height(); y += step)
    for (std::int32_t x = step / 2; x < page.Width(); x += step) {
      const std::uint32_t c = page.GetRgbPixel(x, y);
      ++histogram[std::min({(c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF})];
      ++total;
    }
  return Percentile(histogram, total, 50) < kDarkPaperLevel ? TInkChannel::Luma : TInkChannel::Darkest;
}

std::uint32_t PaperColor(const TDibGraphic& page, const TPageInk& ink) {
  if (page.Empty()) return 0xFFFFFF;
  if (!ink.Analysed()) return page.GetRgbPixel(0, 0);
  // About 4,000 places spread over the page.
  const std::int32_t step = SampleStep(ink.Width, ink.Height);
  std::uint64_t r = 0, g = 0, b = 0, n = 0;
  for (std::int32_t y = step / 2; y < ink.Height; y += step) {
    for (std::int32_t x = step / 2; x < ink.Width; x += step) {
      if (ink.DarknessAt(x, y) != 0) continue;
      const std::uint32_t c = page.GetRgbPixel(x * ink.Factor + ink.Factor / 2, y * ink.Factor + ink.Factor / 2);
      r += (c >> 16) & 0xFF;
      g += (c >> 8) & 0xFF;
      b += c & 0xFF;
      ++n;
    }
  }
  if (n == 0) return page.GetRgbPixel(0, 0);
  return static_cast<std::uint32_t>(((r + n / 2) / n) << 16 | ((g + n / 2) / n) << 8 | ((b + n / 2) / n));
}

}  // namespace lumipage
