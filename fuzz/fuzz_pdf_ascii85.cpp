// ASCII85 decoding of arbitrary text, and encoding of arbitrary bytes that must decode back.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "pdf/PDFFilters.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lumipage;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  (void)ASCII85Decode(bytes);
  if (ASCII85Decode(ASCII85Encode(bytes)) != bytes) std::abort();
  return 0;
}
