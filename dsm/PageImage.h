#pragma once
// One page ready for native transfer: a packed device-independent bitmap in a global block and
// the image information the source reports for it.
#include "platform/GlobalMemory.h"
#include "twain/TwainTypes.h"

namespace lumipage::dsm {

struct TPageImage {
  platform::GlobalBlock Dib;
  twain::TW_IMAGEINFO Info{};
};

// Fills the image information of a packed bitmap from its header.
void DescribeDib(TPageImage& page, twain::TW_UINT16 pixelType, twain::TW_FIX32 xres, twain::TW_FIX32 yres);

}  // namespace lumipage::dsm
