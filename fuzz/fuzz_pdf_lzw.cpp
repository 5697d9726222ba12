// LZW decoding of arbitrary code streams in both fill orders, with and without early change.
#include <cstdint>
#include <string_view>

#include "pdf/PDFLZWDecompressor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lumipage;
  if (size < 1) return 0;
  const std::string_view codes(reinterpret_cast<const char*>(data + 1), size - 1);
  TPDFLZWDecompressor lzw;
  lzw.FillOrder = data[0] & 1;
  lzw.EarlyChange = (data[0] & 2) != 0;
  if ((data[0] & 4) != 0) lzw.InitialCodeSize = data[0] >> 3;
  (void)lzw.Decompress(codes);
  return 0;
}
