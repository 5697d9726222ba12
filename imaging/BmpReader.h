#pragma once
// Decoder for Windows BMP files: core (12-byte) and info headers up to version 5, 1, 4, 8, 16,
// 24 and 32 bits per pixel, uncompressed, RLE8, RLE4 and bit-field data, bottom-up and top-down
// rows. The result is always an uncompressed bottom-up DIB of 1, 4, 8 or 24 bits per pixel
// (16 and 32 bits become 24). Everything read from the file is bounds-checked.
#include <cstddef>
#include <cstdint>

#include "imaging/DibGraphic.h"

namespace lumipage {

class TBmpReader {
 public:
  // An RLE file may decode to more than its own size, but not without limit: at most this many
  // pixel bytes per byte of file (a header's word alone never allocates gigabytes).
  static constexpr std::uint64_t kMaxRleExpansion = 1024;

  // Decodes the BMP file in data[0, size). Raises EOvinexError "Unsupported bit count" for a
  // depth outside 1, 4, 8, 16, 24, 32 and EInvalidGraphic "Bitmap image is not valid: ..."
  // for anything else the file gets wrong.
  [[nodiscard]] static TDecodedBitmap Read(const std::uint8_t* data, std::size_t size);
  // Decodes the BMP file that starts at the stream's position and runs to its end.
  [[nodiscard]] static TDecodedBitmap Read(TStream& stream);
};

}  // namespace lumipage
