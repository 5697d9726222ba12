// Fuzz target for TIFF reading: count the pages of the input, then load every page.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "imaging/Errors.h"
#include "imaging/MemoryStream.h"
#include "imaging/TiffGraphic.h"

namespace {
// Loading thousands of pages of one input teaches the fuzzer nothing new.
constexpr int kMaxPagesLoaded = 8;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lumipage;
  TMemoryStream stream(data, size);
  TTiffGraphic image;
  int count = 0;
  try {
    (void)image.IsFormatOf(stream);
    count = image.GetImageCount(stream);
  } catch (const Exception&) {
    return 0;  // a clear error is the expected outcome for most inputs
  }
  for (int page = 1; page <= std::min(count, kMaxPagesLoaded); ++page) {
    try {
      stream.SetPosition(0);
      image.LoadImage(stream, page);
      if (!image.Empty()) (void)image.GetRgbPixel(image.Width() - 1, image.Height() - 1);
    } catch (const Exception&) {
    }
  }
  return 0;
}
