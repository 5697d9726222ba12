#pragma once
// Cleaning a scanned side before anything else is done to it: a side without content is
// recognised as blank, and a page turned by a few degrees is straightened.
#include <cstdint>

#include "imaging/DibGraphic.h"
#include "imaging/PageInk.h"

namespace lumipage {

// Smallest turn that is straightened, in degrees: below it resampling would cost more
// sharpness than the turn costs.
constexpr double kMinDeskewDegrees = 0.15;

enum class TCleaning {
  Kept,          // left as it was
  Blank,         // no content (only when blank sides are looked for); left as it was
  Straightened,  // turned straight in place
};

// Looks at a side scanned at dpi (0: the image's own resolution). A page that cannot be
// analysed (too small, too large, no memory for the analysis) is kept as it is. measured: the
// side's ink as MeasureInk found it with InkChannelFor's channel, when it was measured before.
[[nodiscard]] TCleaning CleanPage(TDibGraphic& page, std::uint16_t dpi, bool findBlank, bool deskew,
                                  const TPageInk* measured = nullptr);

}  // namespace lumipage
