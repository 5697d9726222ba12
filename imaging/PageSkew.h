#pragma once
// How far a page's lines of text (or ruled lines) are turned from level. The lower edges of the
// marks on the page are projected onto the vertical at a range of angles; at the page's own
// angle they pile up on the lines' baselines, which makes the profile the sharpest (the
// projection-profile method, as in Postl's and Bloomberg's skew finders).
#include "imaging/PageInk.h"

namespace lumipage {

// Largest turn looked for, either way, in degrees.
constexpr double kMaxSkewDegrees = 10.5;

struct TSkewEstimate {
  // false: the page has no text or line structure to go by (a photograph, a drawing, a blank
  // page); Degrees is then 0.
  bool Reliable = false;
  // The lines' angle: positive when they fall to the right (clockwise on the page as seen).
  double Degrees = 0;
  // How much sharper the profile is at that angle than at a typical one (1: no sharper).
  double Confidence = 0;
};

[[nodiscard]] TSkewEstimate FindSkew(const TPageInk& ink);

}  // namespace lumipage
