// BMP files and packed DIBs from arbitrary bytes: every input either loads or raises the image
// library's exception; nothing may crash, hang or read outside a buffer.
#include <cstdint>
#include <cstring>

#include "imaging/BitmapGraphic.h"
#include "imaging/CropTransform.h"
#include "imaging/ImageFormatTransform.h"
#include "imaging/MemoryStream.h"
#include "platform/GlobalMemory.h"

namespace {

// Small results also go through the writer and the transforms the page pipeline uses.
constexpr std::int64_t kMaxPixelsForTransforms = 1 << 16;

void Exercise(lumipage::TDibGraphic& image) {
  using namespace lumipage;
  TMemoryStream out;
  TBitmapGraphic copy;
  copy.Assign(&image);
  copy.SaveToStream(out);
  if (static_cast<std::int64_t>(image.Width()) * image.Height() > kMaxPixelsForTransforms) return;
  TImageFormatTransform bw;
  bw.TargetKind = ikBlackWhite;
  TDibGraphic dithered;
  bw.ApplyOnDest(image, dithered);
  TCropTransform crop;
  crop.Left = crop.Top = crop.Right = crop.Bottom = 1;
  if (image.Width() > 2 && image.Height() > 2) crop.Apply(dithered);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumipage;
  try {
    TMemoryStream stream(data, size);
    TBitmapGraphic image;
    image.LoadFromStream(stream);
    Exercise(image);
  } catch (const Exception&) {
  }
  // The same bytes as a scanner's packed DIB in global memory.
  platform::GlobalBlock block(platform::GMEM_MOVEABLE, size == 0 ? 1 : size);
  if (!block) return 0;
  {
    platform::GlobalLockGuard lock(block.get());
    if (size) std::memcpy(lock.data(), data, size);
  }
  try {
    TDibGraphic image;
    image.LoadFromDibHandle(block.get());
    Exercise(image);
  } catch (const Exception&) {
  }
  return 0;
}
