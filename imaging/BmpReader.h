#pragma once
// Decoder for Windows BMP files: core (12-byte) and info headers up to version 5, 1, 4, 8, 16,
// 24 and 32 bits per pixel, uncompressed, RLE8, RLE4 and bit-field data, bottom-up and top-down
// rows. The result is always an uncompressed bottom-up DIB of 1, 4, 8 or 24 bits per pixel
// (16 and 32 bits become 24). Everything read from the file is bounds-checked.
#include <cstddef>
#include <array>
#include <cstdint>
#include <vector>

#include "imaging/DibGraphic.h"

namespace lumipage {

// Where the pieces of a BMP file lie and what it decodes to, from its headers alone.
struct TBmpLayout {
  // Header of the decoded result: bottom-up, uncompressed, 1, 4, 8 or 24 bits per pixel.
  TBitmapInfoHeader Header;
  std::vector<TRgbQuad> Colors;
  // Offset of the pixel data from the file's first byte.
  std::uint64_t PixelOffset = 0;
  // The file's rows are the result's rows byte for byte (uncompressed, bottom-up, 1, 4, 8 or
  // 24 bits), so they can be read straight into an image.
  bool Direct = false;
  unsigned FileBits = 0;
  std::uint32_t Compression = 0;
  bool TopDown = false;
  std::array<std::uint32_t, 3> Masks{};
};

class TBmpReader {
 public:
  // An RLE file may decode to more than its own size, but not without limit: at most this many
  // pixel bytes per byte of file (a header's word alone never allocates gigabytes).
  static constexpr std::uint64_t kMaxRleExpansion = 1024;

  // Every header, mask and colour table lies within this many bytes of a valid file.
  static constexpr std::size_t kMaxLayoutBytes = 14 + 124 + 16 + 256 * 4;

  // Checks the headers in the first headSize bytes of a file of fileSize bytes (headSize at
  // least min(fileSize, kMaxLayoutBytes)) and says where its pixels lie. Raises the errors of
  // Read.
  [[nodiscard]] static TBmpLayout ReadLayout(const std::uint8_t* head, std::size_t headSize, std::uint64_t fileSize);
  // Decodes the BMP file in data[0, size). Raises EOvinexError "Unsupported bit count" for a
  // depth outside 1, 4, 8, 16, 24, 32 and EInvalidGraphic "Bitmap image is not valid: ..."
  // for anything else the file gets wrong.
  [[nodiscard]] static TDecodedBitmap Read(const std::uint8_t* data, std::size_t size);
  // Decodes the BMP file that starts at the stream's position and runs to its end.
  [[nodiscard]] static TDecodedBitmap Read(TStream& stream);
};

}  // namespace lumipage
