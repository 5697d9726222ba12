#include "imaging/PageCleaning.h"

#include <cmath>
#include <new>
#include <optional>

#include "imaging/BlankPage.h"
#include "imaging/PageInk.h"
#include "imaging/PageSkew.h"
#include "imaging/RotateTransform.h"

namespace lumipage {

TCleaning CleanPage(TDibGraphic& page, std::uint16_t dpi, bool findBlank, bool deskew, const TPageInk* measured) {
  if (!findBlank && !deskew) return TCleaning::Kept;
  try {
    std::optional<TPageInk> own;
    if (measured == nullptr) measured = &own.emplace(MeasureInk(page, dpi, InkChannelFor(page)));
    const TPageInk& ink = *measured;
    if (findBlank && JudgeBlank(page, ink, dpi).Blank) return TCleaning::Blank;
    if (!deskew) return TCleaning::Kept;
    const TSkewEstimate skew = FindSkew(ink);
    if (!skew.Reliable || std::abs(skew.Degrees) < kMinDeskewDegrees) return TCleaning::Kept;
    TRotateTransform turn;
    turn.Degrees = skew.Degrees;
    turn.FillColor = PaperColor(page, ink);
    auto straight = page.CreateSame();
    turn.ApplyOnDest(page, *straight);
    page.TakeImage(*straight);
    return TCleaning::Straightened;
  } catch (const std::bad_alloc&) {
    // The analysis is a help, not a condition of storing the page.
    return TCleaning::Kept;
  }
}

}  // namespace lumipage
