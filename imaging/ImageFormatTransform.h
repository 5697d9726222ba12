#pragma once
// Converts an image to another kind: Floyd-Steinberg error diffusion for every target except
// true colour, a palette derived from the image for 16- and 256-colour targets, or a plain copy
// by nearest palette colour.
#include "imaging/ImageTransform.h"

namespace lumipage {

class TImageFormatTransform : public TImageTransform {
 public:
  [[nodiscard]] const char* ClassName() const override { return "TImageFormatTransform"; }

  // Does nothing when the image already has TargetKind.
  void Apply(TDibGraphic& image) override;
  // Always converts, even when source already has TargetKind.
  void ApplyOnDest(const TDibGraphic& source, TDibGraphic& dest) override;

  TImageKind TargetKind = ikTrueColor;
  // Palette for 16- and 256-colour targets; receives the derived palette when quantising and is
  // kept between calls.
  TLogPalette CustomPalette{};
  bool QuantizeEnabled = true;
  bool DitherEnabled = true;

  // Pixel-routine versions of the dither and the plain copy; ApplyOnDest uses row-wise fast
  // paths for common cases that produce the same bytes. Kept as the reference for tests.
  bool UseFastPaths = true;

  // Derives at most count colours (16 or 256) from source into CustomPalette.
  void Quantize(const TDibGraphic& source, unsigned count, bool ditherFollows);

 private:
  void Dither(const TDibGraphic& source, TDibGraphic& dest);
  void DitherReference(const TDibGraphic& source, TDibGraphic& dest);
  void Copy(const TDibGraphic& source, TDibGraphic& dest);
  void CopyByIndex(const TDibGraphic& source, TDibGraphic& dest);
  void ReportDitherRow(std::int32_t y, std::int32_t height);
};

}  // namespace lumipage
