#pragma once
// Turns an image about its centre by a small angle, keeping its size. What the turn uncovers at
// the corners gets the fill colour (the page's paper). True colour and 256-grey images are
// interpolated bilinearly; black-and-white and other palette images take the nearest pixel, so
// that they keep their palette and indices.
#include <cstdint>

#include "imaging/ImageTransform.h"

namespace lumipage {

class TRotateTransform : public TImageTransform {
 public:
  [[nodiscard]] const char* ClassName() const override { return "TRotateTransform"; }
  // Checks for an interruption of the job every few dozen rows.
  void ApplyOnDest(const TDibGraphic& source, TDibGraphic& dest) override;

  // Counter-clockwise turn of the picture, in degrees: a page whose lines fall to the right by
  // a degrees is straightened by a turn of a degrees.
  double Degrees = 0;
  // 0x00RRGGBB; palette images take the nearest entry.
  std::uint32_t FillColor = 0xFFFFFF;
  // Every pixel by the plain per-pixel code, which the vectorised rows must equal byte for byte
  // (for tests and comparisons; the output is the same either way).
  bool PlainCode = false;
};

}  // namespace lumipage
