// JPEG decoding from arbitrary bytes: every input either loads (codec warnings are counted) or
// raises the image library's exception; small results are encoded again.
#include <cstdint>

#include "imaging/JpegGraphic.h"
#include "imaging/MemoryStream.h"

namespace {
constexpr std::int64_t kMaxPixelsForEncoding = 1 << 16;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumipage;
  try {
    TMemoryStream stream(data, size);
    TJpegGraphic image;
    (void)image.IsFormatOf(stream);
    image.LoadFromStream(stream);
    if (static_cast<std::int64_t>(image.Width()) * image.Height() <= kMaxPixelsForEncoding) {
      TMemoryStream out;
      image.Quality = static_cast<std::uint8_t>(size);
      image.Progressive = (size & 1) != 0;
      image.SaveToStream(out);
    }
  } catch (const Exception&) {
  }
  return 0;
}
