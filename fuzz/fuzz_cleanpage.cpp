// Blank verdict, skew finder and turn on pages of arbitrary shape, kind, resolution and pixels:
// every input gets a verdict or is kept as it is; nothing may crash, hang or read outside the
// page.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "fuzz/FuzzPage.h"
#include "imaging/PageCleaning.h"
#include "imaging/RotateTransform.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumipage;
  using namespace lumipage::fuzzing;
  if (size <= kPageHeader) return 0;
  const double degrees = (static_cast<int>(data[7]) - 128) / 12.0;
  TBitmapGraphic page;
  const std::uint16_t dpi = NewPage(page, data, 700);
  FillRepeating(page, data + kPageHeader, size - kPageHeader);
  (void)CleanPage(page, dpi, true, true);
  TRotateTransform turn;
  turn.Degrees = degrees;
  turn.FillColor = 0x808080;
  TBitmapGraphic turned;
  turn.ApplyOnDest(page, turned);
  return 0;
}
