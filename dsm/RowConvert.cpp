#include "dsm/RowConvert.h"

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

// Four pixels per 16-byte load and store. The last 4 bytes of each store are rewritten by the
// next step (or the plain tail), so no byte past the row is read or written: the loop stops
// while 6 pixels (18 bytes) are still left.
__attribute__((target("ssse3"))) void RgbToBgrRowSsse3(const std::uint8_t* src, std::uint8_t* dst,
                                                       std::size_t pixels) {
  const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 12, 13, 14, 15);
  std::size_t x = 0;
  for (; x + 6 <= pixels; x += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 3 * x));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 3 * x), _mm_shuffle_epi8(v, order));
  }
  RgbToBgrRowPlain(src + 3 * x, dst + 3 * x, pixels - x);
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
