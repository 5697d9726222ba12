// Flate decoding with every predictor on arbitrary bytes; the first four bytes choose the
// predictor parameters. Encoding what was decoded must decode to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "pdf/PDFFilters.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lumipage;
  if (size < 4) return 0;
  static constexpr int kPredictors[] = {1, 2, 10, 11, 12, 13, 14, 15};
  const int predictor = kPredictors[data[0] % 8];
  const int colors = data[1] % 6;
  const int bits = data[2] % 2 == 0 ? 8 : 4;
  const int columns = data[3] % 64 - 2;
  const std::string_view z(reinterpret_cast<const char*>(data + 4), size - 4);
  const std::string plain = FlateDecode(z);
  (void)FlateDecodePredicted(z, predictor, colors, bits, columns);
  if (FlateDecode(FlateEncode(plain)) != plain) std::abort();
  return 0;
}
