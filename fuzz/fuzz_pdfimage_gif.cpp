// GIF files from arbitrary bytes: decoded onto their canvas or refused; LZW codes beyond the
// table, rectangles off the screen and truncated blocks must all be harmless.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "pdf/PDFImageGIFDecoder.h"
#include "pdf/PDFStructure.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  lumipage::TPDFStructure store;
  lumipage::TBuiltImage built;
  (void)lumipage::BuildGifImage(store, bytes, built);
  return 0;
}
