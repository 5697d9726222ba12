#include "imaging/PageCleaning.h"

#include <cmath>
#include <new>

#include "imaging/BlankPage.h"
#include "imaging/PageInk.h"
#include "imaging/PageSkew.h"
#include "imaging/RotateTransform.h"

namespace lumipage {

TCleaning CleanPage(TDibGraphic& page, std::uint16_t dpi, bool findBlank, bool deskew) {
  if (!findBlank && !deskew) return TCleaning::Kept;
  try {
    const TPageInk ink = MeasureInk(page, dpi, InkChannelFor(page));
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
