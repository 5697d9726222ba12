// Barcode reading on pages of arbitrary shape, kind, resolution and pixels, the seeds carrying
// real symbols: every page gets an answer that holds together, whatever the decoder makes of
// it.
#include <chrono>
#include <cstdint>
#include <cstdlib>

#include "app/BarcodeReader.h"
#include "fuzz/FuzzPage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumipage;
  using namespace lumipage::fuzzing;
  if (size <= kPageHeader) return 0;
  TBitmapGraphic page;
  const std::uint16_t dpi = NewPage(page, data, 700);
  FillRepeating(page, data + kPageHeader, size - kPageHeader);
  const TBarcodeRead read = ReadBarcodes(page, data[7] % 2 == 0 ? 0 : dpi, std::chrono::milliseconds(5000));
  std::size_t total = 0;
  for (const std::string& text : read.Texts) total += text.size();
  const bool consistent = read.Status == TBarcodeRead::TStatus::Read     ? !read.Texts.empty() && read.Error.empty()
                          : read.Status == TBarcodeRead::TStatus::NoCode ? read.Texts.empty() && read.Error.empty()
                                                                          : read.Texts.empty() && !read.Error.empty();
  if (!consistent || total > kBarcodeTextLimit) std::abort();
  return 0;
}
