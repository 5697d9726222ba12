// Barcode reading on pages of arbitrary shape, kind, resolution and pixels, the seeds carrying
// real symbols: every page gets an answer that holds together, whatever the decoder makes of
// it.
#include <chrono>
#include <cstdint>
#include <cstdlib>

#include "app/BarcodeReader.h"
#include "imaging/BitmapGraphic.h"
#include "imaging/DefaultPalettes.h"

namespace {

constexpr std::int32_t kMaxSide = 700;
constexpr std::size_t kHeader = 8;

std::uint16_t Word(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumipage;
  if (size <= kHeader) return 0;
  const std::int32_t width = 1 + Word(data) % kMaxSide, height = 1 + Word(data + 2) % kMaxSide;
  const auto kind = static_cast<TImageKind>(data[4] % 6);
  const auto dpi = static_cast<std::uint16_t>(Word(data + 5));
  TBitmapGraphic page;
  page.NewImage(width, height, kind, DefaultPalette(kind), dpi, dpi);
  // The pixels repeat the input's remaining bytes.
  const std::uint8_t* pixels = data + kHeader;
  const std::size_t count = size - kHeader;
  std::size_t at = 0;
  for (std::int32_t y = 0; y < height; ++y) {
    std::uint8_t* row = page.RowBits(y);
    for (std::uint32_t i = 0; i < page.BytesPerRow(); ++i, at = (at + 1) % count) row[i] = pixels[at];
  }
  const TBarcodeRead read = ReadBarcodes(page, data[7] % 2 == 0 ? 0 : dpi, std::chrono::milliseconds(5000));
  std::size_t total = 0;
  for (const std::string& text : read.Texts) total += text.size();
  const bool consistent = read.Status == TBarcodeRead::TStatus::Read     ? !read.Texts.empty() && read.Error.empty()
                          : read.Status == TBarcodeRead::TStatus::NoCode ? read.Texts.empty() && read.Error.empty()
                                                                          : read.Texts.empty() && !read.Error.empty();
  if (!consistent || total > kBarcodeTextLimit) std::abort();
  return 0;
}
