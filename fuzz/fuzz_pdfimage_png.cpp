// PNG files from arbitrary bytes become an image stream or are refused; nothing may crash, hang,
// read outside a buffer or allocate on a header's word alone.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "pdf/PDFImagePNGReader.h"
#include "pdf/PDFStructure.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  lumipage::TPDFStructure store;
  lumipage::TBuiltImage built;
  if (lumipage::BuildPngImage(store, bytes, built)) (void)built.Stream->Decode();
  return 0;
}
