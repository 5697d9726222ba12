// TIFF files from arbitrary bytes through the structure reader and, for every page, the pixel
// path (uncompressed, LZW, PackBits) with both compression settings.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "pdf/PDFImageDecoded.h"
#include "pdf/PDFImageTIFF.h"
#include "pdf/PDFImageTIFFPixels.h"
#include "pdf/PDFStructure.h"

namespace {
// Pages tried per input: enough to reach chained directories without slowing the run.
constexpr int kMaxPagesTried = 8;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  lumipage::TPDFTIFF tiff;
  if (!tiff.Read(bytes)) return 0;
  for (int i = 0; i < std::min(tiff.PageCount(), kMaxPagesTried); ++i) {
    lumipage::TPDFStructure store;
    lumipage::TBuiltImage built;
    (void)lumipage::BuildTiffPixelsImage(store, tiff.Page(i), i % 2 == 0, built);
  }
  return 0;
}
