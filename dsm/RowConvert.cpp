#include "dsm/RowConvert.h"

#include <algorithm>
#include <cstdint>

#include "platform/CpuFeatures.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define LUMIPAGE_ROW_SSSE3 1
#endif

namespace lumipage::dsm {

void RgbToBgrRowPlain(const std::uint8_t* src, std::uint8_t* dst, std::size_t pixels) {
  for (std::size_t x = 0; x < pixels; ++x) {
    dst[3 * x] = src[3 * x + 2];
    dst[3 * x + 1] = src[3 * x + 1];
    dst[3 * x + 2] = src[3 * x];
  }
}

#ifdef LUMIPAGE_ROW_SSSE3
namespace {

// Byte-shuffle masks for 16 pixels (48 bytes) at a time: output vector o takes its bytes from
// input vectors i through mask [o][i] (a mask byte of -128 gives 0, so the parts are ORed).
struct TSwapMasks {
  alignas(16) std::int8_t Byte[3][3][16];
};
constexpr TSwapMasks MakeSwapMasks() {
  TSwapMasks m{};
  for (int o = 0; o < 3; ++o) {
    for (int i = 0; i < 3; ++i) {
      for (int b = 0; b < 16; ++b) {
        const int out = 16 * o + b;
        const int in = 3 * (out / 3) + 2 - out % 3;  // the same pixel, the other end
        m.Byte[o][i][b] = static_cast<std::int8_t>(in / 16 == i ? in % 16 : -128);
      }
    }
  }
  return m;
}
constexpr TSwapMasks kSwapMasks = MakeSwapMasks();

// A scanned page is far larger than the caches and is read again only when the whole page is
// in, so its rows are written with streaming stores: the processor does not first read every
// line of the fresh page it is about to overwrite. The stores need 16-byte aligned targets: up
// to 15 pixels go one at a time until the target is aligned (12 for a DIB row, which starts on
// 4 bytes).
__attribute__((target("ssse3"))) void RgbToBgrRowSsse3(const std::uint8_t* src, std::uint8_t* dst,
                                                       std::size_t pixels) {
  // 3 * head == -dst (mod 16); 11 is the inverse of 3 modulo 16.
  const std::size_t head =
      std::min<std::size_t>(pixels, ((16 - (reinterpret_cast<std::uintptr_t>(dst) & 15)) * 11) & 15);
  RgbToBgrRowPlain(src, dst, head);
  auto mask = [](int o, int i) { return _mm_load_si128(reinterpret_cast<const __m128i*>(kSwapMasks.Byte[o][i])); };
  const __m128i m00 = mask(0, 0), m01 = mask(0, 1), m10 = mask(1, 0), m11 = mask(1, 1), m12 = mask(1, 2),
                m21 = mask(2, 1), m22 = mask(2, 2);
  std::size_t x = head;
  for (; x + 16 <= pixels; x += 16) {
    const auto* in = reinterpret_cast<const __m128i*>(src + 3 * x);
    const __m128i a = _mm_loadu_si128(in), b = _mm_loadu_si128(in + 1), c = _mm_loadu_si128(in + 2);
    auto* out = reinterpret_cast<__m128i*>(dst + 3 * x);
    _mm_stream_si128(out, _mm_or_si128(_mm_shuffle_epi8(a, m00), _mm_shuffle_epi8(b, m01)));
    _mm_stream_si128(out + 1, _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, m10), _mm_shuffle_epi8(b, m11)),
                                           _mm_shuffle_epi8(c, m12)));
    _mm_stream_si128(out + 2, _mm_or_si128(_mm_shuffle_epi8(b, m21), _mm_shuffle_epi8(c, m22)));
  }
  RgbToBgrRowPlain(src + 3 * x, dst + 3 * x, pixels - x);
  // Streaming stores are ordered with nothing else; the row is complete for every reader after this.
  _mm_sfence();
}

}  // namespace
#endif

void RgbToBgrRow(const std::uint8_t* src, std::uint8_t* dst, std::size_t pixels) {
#ifdef LUMIPAGE_ROW_SSSE3
  if (platform::HasSsse3()) {
    RgbToBgrRowSsse3(src, dst, pixels);
    return;
  }
#endif
  RgbToBgrRowPlain(src, dst, pixels);
}

}  // namespace lumipage::dsm
