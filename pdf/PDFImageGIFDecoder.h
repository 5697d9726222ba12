#pragma once
// GIF files (87a and 89a) decoded onto one 24-bit canvas of the logical screen: every image in
// the file is drawn in order at its position, with its local colour table or the global one,
// interlaced rows put in their places. The canvas then becomes an image XObject through the
// decoded-pixels path, always Flate-compressed.
#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "pdf/PDFImageDecodedPixels.h"

namespace lumipage {

class TPDFStructure;

class TPDFGIFDecoder {
 public:
  // Images read from one file before the rest is ignored.
  static constexpr size_t kMaxImages = 4096;

  struct TGraphicControl {
    bool Present = false;
    uint8_t Disposal = 0;
    bool Transparent = false;
    uint8_t TransparentIndex = 0;
    uint16_t Delay = 0;
  };

  struct TImage {
    uint16_t Left = 0;
    uint16_t Top = 0;
    uint16_t Width = 0;
    uint16_t Height = 0;
    bool Interlaced = false;
    std::vector<uint32_t> LocalColors;  // 0x00RRGGBB; empty without a local table
    uint8_t MinCodeSize = 0;
    std::string LzwData;  // the data sub-blocks joined
    TGraphicControl Control;  // the last graphic control extension before the image
  };

  // Reads the header, the logical screen, the global table and the blocks up to the trailer or
  // the end of the bytes (a truncated file keeps what was read whole). False without a GIF
  // signature or a whole logical screen descriptor.
  [[nodiscard]] bool Read(std::string_view bytes);
  // The canvas: logical screen size, 24 bits, filled with the background colour, every image
  // drawn on it (clipped to the screen). Empty (Width 0) for a zero-sized screen, no image, or
  // a screen too large for fileSize bytes (see PixelBufferAllowed).
  [[nodiscard]] TDecodedPixels Decode(uint64_t fileSize) const;

  uint16_t ScreenWidth = 0;
  uint16_t ScreenHeight = 0;
  bool HasGlobalColors = false;
  uint8_t BackgroundIndex = 0;
  std::vector<uint32_t> GlobalColors;
  std::vector<TImage> Images;

 private:
  void DrawImage(const TImage& image, uint32_t background, TDecodedPixels& canvas) const;
};

// The GIF file as a kind-2 image (always Flate-compressed). False for a file that is not a
// usable GIF.
[[nodiscard]] bool BuildGifImage(TPDFStructure& store, std::string_view bytes, TBuiltImage& result);

}  // namespace lumipage
