#pragma once
// Whether a page carries anything a person put or printed on it. A mark counts however faint or
// small it is, as long as its core stands out from the paper more than show-through does and is
// at least a letter's stroke in size (a pencil note, a page number alone, a signature line).
// Paper texture and noise, tinted paper, a shadow along an edge, punch holes, show-through from
// the back and specks of dust do not count.
#include <cstdint>

#include "imaging/DibGraphic.h"
#include "imaging/PageInk.h"

namespace lumipage {

struct TBlankVerdict {
  bool Analysed = false;  // false: the page could not be judged (and counts as not blank)
  bool Blank = false;
  // The first mark found on a page that is not blank, in samples of the ink map.
  std::int32_t MarkLeft = 0, MarkTop = 0, MarkRight = 0, MarkBottom = 0;
  int MarkDarkness = 0;  // how far below the paper the mark is at its darkest
};

// Judges the measured ink of a page.
[[nodiscard]] TBlankVerdict JudgeBlank(const TPageInk& ink);
// Judges a page from its measured ink, measuring it again by its brightness when the ink was
// measured in the darkest channel and the paper turned out to be strongly coloured.
[[nodiscard]] TBlankVerdict JudgeBlank(const TDibGraphic& page, const TPageInk& ink, std::uint16_t dpi);
// Measures and judges a page scanned at dpi (0: the page's own resolution).
[[nodiscard]] TBlankVerdict JudgeBlank(const TDibGraphic& page, std::uint16_t dpi = 0);

}  // namespace lumipage
