#pragma once
// Black and white for text pages: each pixel is compared with a threshold taken from its
// neighbourhood (Sauvola's rule on the local mean and deviation), not dithered, so that strokes
// stay solid on shaded or uneven paper, faint writing survives and Group 4 codes the page in a
// fraction of a dithered page's size.
#include <cstdint>
#include <vector>

#include "imaging/ImageTransform.h"

namespace lumipage {

class TAdaptiveThresholdTransform : public TImageTransform {
 public:
  [[nodiscard]] const char* ClassName() const override { return "TAdaptiveThresholdTransform"; }

  // Makes dest a black-and-white image (default palette, source's size and resolution).
  void ApplyOnDest(const TDibGraphic& source, TDibGraphic& dest) override;

  // Sauvola's k: how far below the local mean a pixel must be, more so where the neighbourhood
  // is flat (paper) than where it holds strokes.
  double Sensitivity = 0.2;
  // The neighbourhood's width in inches (at the source's horizontal resolution).
  double WindowInches = 1.0 / 3;

 private:
  // Grey levels of every pixel, top row first.
  [[nodiscard]] static std::vector<std::uint8_t> GreyLevels(const TDibGraphic& source);
};

// Grey levels at or below this are black whatever their neighbourhood: inside a large dark
// area the local rule alone would find nothing darker than the mean.
inline constexpr int kAlwaysBlackLevel = 64;

// Sauvola's threshold for a neighbourhood's mean and standard deviation (grey levels 0..255).
[[nodiscard]] int SauvolaThreshold(double mean, double deviation, double k);

}  // namespace lumipage
