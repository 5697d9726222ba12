#pragma once
// Inverts an image: grey and black-and-white pixels by their indices, true colour by value,
// colour palettes entry by entry.
#include "imaging/ImageTransform.h"

namespace lumipage {

class TNegativeTransform : public TImageTransform {
 public:
  [[nodiscard]] const char* ClassName() const override { return "TNegativeTransform"; }

  void Apply(TDibGraphic& image) override;
  // Assigns source to dest, then inverts dest.
  void ApplyOnDest(const TDibGraphic& source, TDibGraphic& dest) override;
};

}  // namespace lumipage
