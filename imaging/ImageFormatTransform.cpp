#include "imaging/DefaultPalettes.h"
#include "imaging/ImageFormatTransform.h"
#include "imaging/RowDither.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "platform/Interrupt.h"

namespace lumipage {

namespace {

constexpr std::int64_t kScoreLimit = std::int64_t{1} << 30;

inline int Clamp255(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

inline std::uint32_t Rgb(int r, int g, int b) {
  return (static_cast<std::uint32_t>(r) << 16) | (static_cast<std::uint32_t>(g) << 8) | static_cast<std::uint32_t>(b);
}

int SquaredDistance(int r1, int g1, int b1, int r2, int g2, int b2) {
  return (r1 - r2) * (r1 - r2) + (g1 - g2) * (g1 - g2) + (b1 - b2) * (b1 - b2);
}

bool HasDefaultPalette(const TDibGraphic& image) {
  const TLogPalette* def = DefaultPalette(image.ImageKind());
  if (!def) return false;
  const TLogPalette& p = image.LogPalette();
  return p.palNumEntries == def->palNumEntries &&
         std::memcmp(p.palPalEntry.data(), def->palPalEntry.data(), 4 * std::size_t{p.palNumEntries}) == 0;
}

bool SamePaletteOfDistinctColours(const TLogPalette& a, const TLogPalette& b) {
  if (a.palNumEntries != b.palNumEntries) return false;
  std::vector<std::uint32_t> colours;
  for (std::size_t i = 0; i < a.palNumEntries; ++i) {
    const TPaletteEntry& x = a.palPalEntry[i];
    const TPaletteEntry& y = b.palPalEntry[i];
    if (x.peRed != y.peRed || x.peGreen != y.peGreen || x.peBlue != y.peBlue) return false;
    colours.push_back(Rgb(x.peRed, x.peGreen, x.peBlue));
  }
  std::sort(colours.begin(), colours.end());
  return std::adjacent_find(colours.begin(), colours.end()) == colours.end();
}

// Every pixel of source has a colour of dest's palette (a black-and-white scan kept black and
// white): dithering into it carries no error anywhere, so it gives the nearest-colour copy.
bool EveryColourInPalette(const TDibGraphic& source, const TDibGraphic& dest) {
  if (source.ImageKind() == ikTrueColor || dest.ImageKind() == ikTrueColor) return false;
  const TLogPalette& from = source.LogPalette();
  // A shorter palette leaves indices whose colour is not an entry.
  if (from.palNumEntries < (1u << BitsPerPixelOf(source.ImageKind()))) return false;
  const TLogPalette& to = dest.LogPalette();
  for (std::size_t i = 0; i < from.palNumEntries; ++i) {
    const TPaletteEntry& c = from.palPalEntry[i];
    bool found = false;
    for (std::size_t j = 0; j < to.palNumEntries && !found; ++j) {
      const TPaletteEntry& e = to.palPalEntry[j];
      found = e.peRed == c.peRed && e.peGreen == c.peGreen && e.peBlue == c.peBlue;
    }
    if (!found) return false;
  }
  return true;
}

// The error-diffusion accumulators of one row: current and next, three channels interleaved.
struct DitherRows {
  explicit DitherRows(std::int32_t width)
      : cur(3 * static_cast<std::size_t>(width), 0), next(3 * static_cast<std::size_t>(width), 0) {}
  std::vector<int> cur;
  std::vector<int> next;
};

// Floyd-Steinberg weights, each result clamped to 0..255 (so negative error never reaches the
// row below). e * k / 16 truncates toward zero, as C++ integer division does.
inline void Diffuse(int* cur, int* next, std::size_t i, int e) {
  cur[i + 3] = Clamp255(cur[i + 3] + e * 7 / 16);
  next[i - 3] = Clamp255(next[i - 3] + e * 3 / 16);
  next[i] = Clamp255(next[i] + e * 5 / 16);
  next[i + 3] = Clamp255(next[i + 3] + e / 16);
}

}  // namespace

void TImageFormatTransform::Apply(TDibGraphic& image) {
  if (image.ImageKind() == TargetKind) return;
  TImageTransform::Apply(image);
}

void TImageFormatTransform::ApplyOnDest(const TDibGraphic& source, TDibGraphic& dest) {
  if (&source == &dest) {
    TDibGraphic result;
    ApplyOnDest(source, result);
    dest.Assign(&result);
    return;
  }
  ResetProgress();
  Progress(0, 0, 100);
  const bool dither = DitherEnabled && TargetKind != ikTrueColor;
  const TLogPalette* palette = nullptr;
  if (TargetKind == ikColor16 || TargetKind == ikColor256) {
    const unsigned count = TargetKind == ikColor16 ? 16 : 256;
    if (QuantizeEnabled) {
      Quantize(source, count, dither);
    } else if (CustomPalette.palNumEntries == 0) {
      CustomPalette = *DefaultPalette(TargetKind);
    }
    palette = &CustomPalette;
  }
  // Every path below writes every pixel.
  dest.NewImageForOverwrite(source.Width(), source.Height(), TargetKind, palette, source.DpiX(), source.DpiY());
  if (dither) {
    if (UseFastPaths && EveryColourInPalette(source, dest)) {
      Copy(source, dest);
    } else if (UseFastPaths) {
      Dither(source, dest);
    } else {
      DitherReference(source, dest);
    }
  } else {
    Copy(source, dest);
  }
  Progress(100, 0, 100);
}

void TImageFormatTransform::DitherReference(const TDibGraphic& source, TDibGraphic& dest) {
  const std::int32_t width = source.Width();
  const std::int32_t height = source.Height();
  DitherRows rows(width);
  int* cur = rows.cur.data();
  int* next = rows.next.data();
  auto colorAt = [&](std::int32_t x) {
    const std::size_t i = 3 * static_cast<std::size_t>(x);
    return Rgb(cur[i], cur[i + 1], cur[i + 2]);
  };
  for (std::int32_t y = 0; y < height; ++y) {
    for (std::int32_t x = 0; x < width; ++x) {
      const std::uint32_t c = source.GetRgbPixel(x, y);
      const std::size_t i = 3 * static_cast<std::size_t>(x);
      cur[i] = Clamp255(next[i] + static_cast<int>((c >> 16) & 0xFF));
      cur[i + 1] = Clamp255(next[i + 1] + static_cast<int>((c >> 8) & 0xFF));
      cur[i + 2] = Clamp255(next[i + 2] + static_cast<int>(c & 0xFF));
      next[i] = next[i + 1] = next[i + 2] = 0;
    }
    dest.SetRgbPixel(0, y, colorAt(0));
    for (std::int32_t x = 1; x + 1 < width; ++x) {
      dest.SetRgbPixel(x, y, colorAt(x));
      const std::uint32_t a = dest.GetRgbPixel(x, y);
      const std::size_t i = 3 * static_cast<std::size_t>(x);
      Diffuse(cur, next, i, cur[i] - static_cast<int>((a >> 16) & 0xFF));
      Diffuse(cur, next, i + 1, cur[i + 1] - static_cast<int>((a >> 8) & 0xFF));
      Diffuse(cur, next, i + 2, cur[i + 2] - static_cast<int>(a & 0xFF));
    }
    dest.SetRgbPixel(width - 1, y, colorAt(width - 1));
    ReportDitherRow(y, height);
  }
}

void TImageFormatTransform::ReportDitherRow(std::int32_t y, std::int32_t height) {
  if (QuantizeEnabled) {
    Progress(y + (height - 1 - y) / 2, 0, height - 1);
  } else {
    Progress(y, 0, height - 1);
  }
}

// Row-wise dither for the hot cases: a true-colour source into black and white or 256 grey
// levels with their default palettes, where the nearest entry has a closed form (white exactly
// when R + G + B >= 383; grey level round((R + G + B) / 3)). Every other case goes through the
// pixel routines. Output is byte-identical to DitherReference.
void TImageFormatTransform::Dither(const TDibGraphic& source, TDibGraphic& dest) {
  const TImageKind target = dest.ImageKind();
  const bool fast = source.ImageKind() == ikTrueColor && (target == ikBlackWhite || target == ikGray256) &&
                    HasDefaultPalette(dest);
  if (!fast) {
    DitherReference(source, dest);
    return;
  }
  const std::int32_t height = source.Height();
  const auto rowDone = [&](std::int32_t y) { ReportDitherRow(y, height); };
  if (TwoDitherThreadsPay(source))
    DitherRowsTwoThreads(source, dest, target == ikBlackWhite, rowDone);
  else
    DitherRowsOneThread(source, dest, target == ikBlackWhite, rowDone);
}

// Plain copy by nearest palette colour, no dithering; exact for a true-colour target. Rows are
// copied as they are when nothing can change: true colour to true colour, or the same bit
// depth with the same palette of distinct colours (each pixel's colour is then nearest to its
// own entry and to no earlier one).
void TImageFormatTransform::Copy(const TDibGraphic& source, TDibGraphic& dest) {
  const std::int32_t width = source.Width();
  const std::int32_t height = source.Height();
  bool rowCopy = false;
  if (UseFastPaths) {
    const unsigned bits = BitsPerPixelOf(source.ImageKind());
    if (source.ImageKind() == ikTrueColor) {
      rowCopy = dest.ImageKind() == ikTrueColor;
    } else if (dest.ImageKind() != ikTrueColor && BitsPerPixelOf(dest.ImageKind()) == bits) {
      rowCopy = SamePaletteOfDistinctColours(source.LogPalette(), dest.LogPalette());
    }
  }
  if (!rowCopy && UseFastPaths && source.ImageKind() != ikTrueColor) {
    CopyByIndex(source, dest);
    return;
  }
  for (std::int32_t y = 0; y < height; ++y) {
    // A safe point on huge pages: the copy reports no progress of its own.
    if ((y & 255) == 255) platform::CheckInterrupt();
    if (rowCopy) {
      // Only the pixels' bits: the fill bits of a source row may be set (a negative inverts
      // them), while a new image has them clear.
      const std::size_t bitCount = static_cast<std::size_t>(width) * BitsPerPixelOf(dest.ImageKind());
      std::uint8_t* out = dest.RowBits(y);
      const std::uint8_t* in = source.RowBits(y);
      std::memcpy(out, in, bitCount / 8);
      if (bitCount % 8) out[bitCount / 8] = static_cast<std::uint8_t>(in[bitCount / 8] & (0xFF00u >> (bitCount % 8)));
    } else {
      for (std::int32_t x = 0; x < width; ++x) dest.SetRgbPixel(x, y, source.GetRgbPixel(x, y));
    }
  }
}

// The copy of a palette image: what the pixel routines make of each of its indices is worked
// out once, on a one-pixel image of each side, and then written for every pixel (a line-art or
// grey page stored in colour or as grey levels).
void TImageFormatTransform::CopyByIndex(const TDibGraphic& source, TDibGraphic& dest) {
  const unsigned inBits = BitsPerPixelOf(source.ImageKind());
  const unsigned outBits = BitsPerPixelOf(dest.ImageKind());
  const unsigned indices = 1u << inBits;
  const bool trueColour = dest.ImageKind() == ikTrueColor;
  std::array<std::array<std::uint8_t, 3>, 256> table{};
  {
    TDibGraphic from, to;
    from.NewImage(1, 1, source.ImageKind(), &source.LogPalette(), 0, 0);
    to.NewImage(1, 1, dest.ImageKind(), trueColour ? nullptr : &dest.LogPalette(), 0, 0);
    for (unsigned i = 0; i < indices; ++i) {
      from.SetPixelIndex(0, 0, i);
      to.SetRgbPixel(0, 0, from.GetRgbPixel(0, 0));
      if (trueColour)
        std::memcpy(table[i].data(), to.RowBits(0), 3);
      else
        table[i][0] = to.GetPixelIndex(0, 0);
    }
  }
  const std::int32_t width = source.Width();
  for (std::int32_t y = 0; y < source.Height(); ++y) {
    if ((y & 255) == 255) platform::CheckInterrupt();
    const std::uint8_t* in = source.RowBits(y);
    std::uint8_t* out = dest.RowBits(y);
    for (std::int32_t x = 0; x < width; ++x) {
      const unsigned index = inBits == 1   ? (in[x >> 3] >> (7 - (x & 7))) & 1u
                             : inBits == 4 ? (in[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xFu
                                           : in[x];
      const auto& entry = table[index];
      if (trueColour)
        std::memcpy(out + 3 * static_cast<std::size_t>(x), entry.data(), 3);
      else if (outBits == 8)
        out[x] = entry[0];
      else
        dest.SetPixelIndex(x, y, entry[0]);
    }
  }
}

void TImageFormatTransform::Quantize(const TDibGraphic& source, unsigned count, bool ditherFollows) {
  // 1. Histogram of 5-bit-per-channel buckets, counters saturating at 65535.
  std::vector<std::uint16_t> histogram(32768, 0);
  std::size_t distinct = 0;
  for (std::int32_t y = 0; y < source.Height(); ++y) {
    if ((y & 255) == 255) platform::CheckInterrupt();
    for (std::int32_t x = 0; x < source.Width(); ++x) {
      const std::uint32_t c = source.GetRgbPixel(x, y);
      const std::size_t index = ((c >> 16) & 0xFF) / 8 + (((c >> 8) & 0xFF) / 8) * 32 + ((c & 0xFF) / 8) * 1024;
      std::uint16_t& counter = histogram[index];
      if (counter == 0) ++distinct;
      if (counter < 65535) ++counter;
    }
  }
  // 2. Threshold by the number of distinct buckets.
  unsigned threshold = 20;
  if (distinct < 1250) threshold = 2;
  else if (distinct < 2500) threshold = 5;
  else if (distinct <= 4999) threshold = 10;
  else if (distinct <= 9999) threshold = 15;

  // 3. Candidates in bucket order, low three bits of each component 0.
  struct Candidate {
    int r, g, b;
  };
  std::vector<Candidate> candidates;
  for (std::size_t index = 0; index < histogram.size(); ++index) {
    if (histogram[index] > threshold)
      candidates.push_back(Candidate{static_cast<int>(index % 32) * 8, static_cast<int>((index / 32) % 32) * 8,
                                     static_cast<int>(index / 1024) * 8});
  }
  const std::size_t m = candidates.size();

  // 4. Spread the choice: start nearest to white, then repeatedly take the candidate least
  // attracted by those already chosen (score = sum of 2^30 div squared distance).
  if (m > count) {
    auto progress = [&](std::size_t i) { Progress(static_cast<std::int64_t>(i), 0, ditherFollows ? 2 * count : count); };
    std::size_t first = 0;
    int bestDistance = 0x7FFFFFFF;
    for (std::size_t j = 0; j < m; ++j) {
      const int d = SquaredDistance(candidates[j].r, candidates[j].g, candidates[j].b, 255, 255, 255);
      if (d < bestDistance) {
        bestDistance = d;
        first = j;
      }
    }
    std::swap(candidates[0], candidates[first]);
    progress(1);
    // Scores are kept per candidate and grow by one term per chosen colour; a zero distance to
    // any chosen colour pins the score at exactly 2^30.
    std::vector<std::int64_t> score(m, 0);
    std::vector<std::uint8_t> pinned(m, 0);
    for (std::size_t i = 1; i < count; ++i) {
      const Candidate& last = candidates[i - 1];
      std::int64_t best = kScoreLimit;
      std::size_t chosen = i;
      for (std::size_t j = i; j < m; ++j) {
        const int d = SquaredDistance(candidates[j].r, candidates[j].g, candidates[j].b, last.r, last.g, last.b);
        if (d == 0) {
          pinned[j] = 1;
        } else {
          score[j] += kScoreLimit / d;
        }
        const std::int64_t s = pinned[j] ? kScoreLimit : score[j];
        if (s < best) {
          best = s;
          chosen = j;
        }
      }
      std::swap(candidates[i], candidates[chosen]);
      std::swap(score[i], score[chosen]);
      std::swap(pinned[i], pinned[chosen]);
      progress(i + 1);
    }
  }

  // 5. The palette: the first candidates, black beyond them.
  CustomPalette = TLogPalette{};
  CustomPalette.palVersion = kPaletteVersion;
  CustomPalette.palNumEntries = static_cast<std::uint16_t>(count);
  for (std::size_t k = 0; k < count && k < m; ++k) {
    CustomPalette.palPalEntry[k] = TPaletteEntry{static_cast<std::uint8_t>(candidates[k].r),
                                                 static_cast<std::uint8_t>(candidates[k].g),
                                                 static_cast<std::uint8_t>(candidates[k].b), 0};
  }
}

}  // namespace lumipage
