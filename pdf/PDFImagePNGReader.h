#pragma once
// PNG files as image XObjects: the chunks an image needs are read, the image data inflated and
// un-filtered (interlaced files de-interlaced), alpha dropped, and the rows stored
// Flate-compressed with the file's own bit depth and colour space.
#include <cstdint>
#include <string>
#include <string_view>

#include "pdf/PDFImageDecodedPixels.h"

namespace lumipage {

class TPDFStructure;

class TPNGReader {
 public:
  // Reads the signature and the chunks in order up to IEND, a short read or a chunk that is
  // not whole. False without the signature. CRCs are not checked.
  [[nodiscard]] bool Read(std::string_view bytes);

  // The rows of the image, top first, without filter bytes and without alpha, each
  // RowBytes() long. Empty when the header is unusable (zero size, unknown colour type or bit
  // depth, more than kMaxDecodedImageBytes). Missing image data reads as zero rows.
  [[nodiscard]] std::string DecodeRows() const;
  // Samples per pixel without alpha.
  [[nodiscard]] int Colors() const;
  [[nodiscard]] uint64_t RowBytes() const;
  // Colour type and bit depth form a combination the PNG standard allows.
  [[nodiscard]] bool ValidFormat() const;

  uint32_t Width = 0;
  uint32_t Height = 0;
  uint8_t BitDepth = 0;
  uint8_t ColorType = 0;
  uint8_t Interlace = 0;
  std::string Palette;  // R, G, B per entry
  int PaletteCount = 0;
  std::string Data;  // the IDAT chunks, concatenated
  int32_t HorizontalResolution = 96;
  int32_t VerticalResolution = 96;

 private:
  // Bytes of one stored pixel including alpha (at least 1: the filters' step before alpha
  // is taken out).
  [[nodiscard]] int StoredBytesPerPixel() const;
  [[nodiscard]] uint64_t StoredRowBytes(uint64_t width) const;
  // Un-filters one pass (the whole image when not interlaced) of width x height pixels from
  // in at pos into out (rows without alpha, RowBytesFor(width) each).
  void DecodePass(std::string_view in, size_t& pos, uint64_t width, uint64_t height, std::string& out) const;
  [[nodiscard]] uint64_t RowBytesFor(uint64_t width) const;
};

// The PNG file as a kind-4 image: /DeviceGray, /DeviceRGB or /Indexed, /BitsPerComponent the
// file's depth, /Filter /FlateDecode; resolution per inch from pHYs (96 by 96 without it).
// False for a file that is not a usable PNG (no signature, zero width or height, a colour type
// or depth outside the standard, a palette image without its palette, too large).
[[nodiscard]] bool BuildPngImage(TPDFStructure& store, std::string_view bytes, TBuiltImage& result);

}  // namespace lumipage
