#pragma once
// The samples libjpeg's compressor makes of blue, green, red rows before its transform, at its
// default sampling for colour: luma whole, both colour differences halved across and down, the
// right and bottom edges padded to whole blocks as the codec pads them. Made here, they can be
// made on another thread while the codec transforms and codes the rows before them; the file
// is the same byte for byte.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "imaging/DibGraphic.h"

namespace lumipage {

// Image rows in one row of blocks at 2 x 2 sampling (the unit the codec takes raw samples in).
inline constexpr std::int32_t kJpegGroupRows = 16;

class TJpegPlanes {
 public:
  // The image's size; each plane row is padded to whole blocks.
  TJpegPlanes(std::int32_t width, std::int32_t height);

  // Rows of blocks in the image.
  [[nodiscard]] std::int32_t Groups() const { return (height_ + kJpegGroupRows - 1) / kJpegGroupRows; }
  // Fills this holder with one row of blocks of a true-colour image of the size given.
  void Fill(std::int32_t group, const TDibGraphic& image);

  // The rows of the last Fill: kJpegGroupRows of luma, half as many of each colour difference.
  [[nodiscard]] std::uint8_t* Luma(std::int32_t i) { return luma_.data() + static_cast<std::size_t>(i) * lumaWidth_; }
  [[nodiscard]] std::uint8_t* Blue(std::int32_t i) { return blue_.data() + static_cast<std::size_t>(i) * chromaWidth_; }
  [[nodiscard]] std::uint8_t* Red(std::int32_t i) { return red_.data() + static_cast<std::size_t>(i) * chromaWidth_; }

 private:
  std::int32_t width_;
  std::int32_t height_;
  std::size_t lumaWidth_;
  std::size_t chromaWidth_;
  std::vector<std::uint8_t> luma_, blue_, red_;
  std::vector<std::int32_t> blueSums_, redSums_;
};

}  // namespace lumipage
