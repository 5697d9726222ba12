#pragma once
// The row-wise Floyd-Steinberg dither of a true-colour page into black and white or 256 grey
// levels (default palettes), on one thread or on two: the results are the same byte for byte.
#include <cstdint>
#include <functional>

#include "imaging/DibGraphic.h"

namespace lumipage {

// Whether two threads, alternate rows each, would dither the page sooner: a large page and a
// core to spare.
[[nodiscard]] bool TwoDitherThreadsPay(const TDibGraphic& page);

// Each dithers every row of source into dest (same size, made by the caller), calling rowDone
// with each row number in order, on the calling thread, once the row is complete.
void DitherRowsOneThread(const TDibGraphic& source, TDibGraphic& dest, bool blackWhite,
                         const std::function<void(std::int32_t)>& rowDone);
void DitherRowsTwoThreads(const TDibGraphic& source, TDibGraphic& dest, bool blackWhite,
                          const std::function<void(std::int32_t)>& rowDone);

}  // namespace lumipage
