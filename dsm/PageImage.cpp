#include "dsm/PageImage.h"

#include "imaging/PackedDib.h"

namespace lumipage::dsm {

void DescribeDib(TPageImage& page, twain::TW_UINT16 pixelType, twain::TW_FIX32 xres, twain::TW_FIX32 yres) {
  platform::GlobalLockGuard lock(page.Dib.get());
  TBitmapInfoHeader h{};
  if (lock.data() && lock.size() >= sizeof h) h = ReadBitmapInfoHeader(lock.as<std::uint8_t>());
  twain::TW_IMAGEINFO& info = page.Info;
  info = twain::TW_IMAGEINFO{};
  info.XResolution = xres;
  info.YResolution = yres;
  info.ImageWidth = h.biWidth;
  info.ImageLength = h.biHeight < 0 ? -h.biHeight : h.biHeight;
  info.BitsPerPixel = static_cast<twain::TW_INT16>(h.biBitCount);
  info.Planar = 0;
  info.PixelType = static_cast<twain::TW_INT16>(pixelType);
  info.Compression = 0;
  if (h.biBitCount == 24) {
    info.SamplesPerPixel = 3;
    info.BitsPerSample[0] = info.BitsPerSample[1] = info.BitsPerSample[2] = 8;
  } else {
    info.SamplesPerPixel = 1;
    info.BitsPerSample[0] = static_cast<twain::TW_INT16>(h.biBitCount);
  }
}

}  // namespace lumipage::dsm
