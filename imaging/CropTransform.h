#pragma once
// Cuts a rectangle out of an image. Palette images keep their palette and indices exactly.
#include <cstdint>

#include "imaging/ImageTransform.h"

namespace lumipage {

enum TCropMode : std::uint8_t {
  cmMargins = 0,    // Top/Left/Bottom/Right are margins cut from the respective edges
  cmRectangle = 1,  // they are pixel coordinates, Right and Bottom exclusive
};

class TCropTransform : public TImageTransform {
 public:
  [[nodiscard]] const char* ClassName() const override { return "TCropTransform"; }

  // EOvinexError "Invalid crop parameters" when bottom <= top or right <= left. A rectangle
  // reaching beyond the right or bottom edge is cut at the edge; one whose left or top lies
  // outside the image raises the same error.
  void ApplyOnDest(const TDibGraphic& source, TDibGraphic& dest) override;

  std::int32_t Top = 0;
  std::int32_t Left = 0;
  std::int32_t Bottom = 0;
  std::int32_t Right = 0;
  std::uint8_t CropMode = cmMargins;

  // The per-pixel version of ApplyOnDest through the image's pixel routines; ApplyOnDest copies
  // whole rows and gives the same bytes. Kept as the reference the tests compare against.
  void ApplyOnDestReference(const TDibGraphic& source, TDibGraphic& dest);

 private:
  struct Rect {
    std::int32_t left, top, width, height;
  };
  [[nodiscard]] Rect Validate(const TDibGraphic& source) const;
};

}  // namespace lumipage
