#include "imaging/NegativeTransform.h"

#include <cstring>
#include <vector>

namespace lumipage {

void TNegativeTransform::ApplyOnDest(const TDibGraphic& source, TDibGraphic& dest) {
  dest.Assign(&source);
  Apply(dest);
}

void TNegativeTransform::Apply(TDibGraphic& image) {
  ResetProgress();
  Progress(0, 0, 100);
  if (image.Empty()) {
    Progress(100, 0, 100);
    return;
  }
  const std::int32_t height = image.Height();
  switch (image.ImageKind()) {
    case ikBlackWhite:
    case ikGray16:
    case ikGray256:
      // Index i becomes the highest index minus i: the negative with the default ramps.
      for (std::int32_t y = 0; y < height; ++y) {
        Progress(y, 0, height - 1);
        std::uint8_t* row = image.RowBits(y);
        for (std::uint32_t i = 0; i < image.BytesPerRow(); ++i) row[i] = static_cast<std::uint8_t>(~row[i]);
      }
      break;
    case ikTrueColor: {
      const std::size_t bytes = 3 * static_cast<std::size_t>(image.Width());
      for (std::int32_t y = 0; y < height; ++y) {
        Progress(y, 0, height - 1);
        std::uint8_t* row = image.RowBits(y);
        for (std::size_t i = 0; i < bytes; ++i) row[i] = static_cast<std::uint8_t>(255 - row[i]);
      }
      break;
    }
    case ikColor16:
    case ikColor256: {
      // Indices stay; the palette is inverted. The image is re-created with the new palette.
      TLogPalette palette = image.LogPalette();
      for (std::size_t i = 0; i < palette.palNumEntries; ++i) {
        TPaletteEntry& e = palette.palPalEntry[i];
        e.peRed = static_cast<std::uint8_t>(255 - e.peRed);
        e.peGreen = static_cast<std::uint8_t>(255 - e.peGreen);
        e.peBlue = static_cast<std::uint8_t>(255 - e.peBlue);
      }
      const std::vector<std::uint8_t> pixels(image.Bits(), image.Bits() + image.ImageSize());
      image.NewImage(image.Width(), height, image.ImageKind(), &palette, image.DpiX(), image.DpiY());
      std::memcpy(image.Bits(), pixels.data(), pixels.size());
      break;
    }
  }
  Progress(100, 0, 100);
}

}  // namespace lumipage
