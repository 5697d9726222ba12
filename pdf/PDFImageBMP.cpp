#include "pdf/PDFImageBMP.h"

#include <algorithm>
#include <exception>

#include "imaging/BmpReader.h"
#include "imaging/PackedDib.h"
#include "pdf/PDFStream.h"

namespace lumipage {

TDecodedPixels DecodeBmpPixels(std::string_view bytes) {
  const TDecodedBitmap bmp = TBmpReader::Read(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  const TBitmapInfoHeader& h = bmp.Header;
  TDecodedPixels pixels;
  pixels.Source = EPixelSource::Bmp;
  const int bits = h.biBitCount;
  const int32_t height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
  pixels.Allocate(h.biWidth, height, bits);
  for (const TRgbQuad& q : bmp.Colors)
    pixels.Palette.push_back(uint32_t{q.rgbRed} << 16 | uint32_t{q.rgbGreen} << 8 | q.rgbBlue);
  // DIB rows are padded to 4 bytes; bottom-up unless the height is negative.
  const auto stride = static_cast<size_t>(DibStride(static_cast<uint64_t>(pixels.Width), static_cast<unsigned>(bits)));
  if (bmp.Bits.size() < stride * static_cast<size_t>(height)) return TDecodedPixels{};
  for (int32_t y = 0; y < height; ++y) {
    const int32_t stored = h.biHeight < 0 ? y : height - 1 - y;
    const uint8_t* src = bmp.Bits.data() + static_cast<size_t>(stored) * stride;
    uint8_t* dst = pixels.Row(y);
    if (bits == 24) {
      for (int32_t x = 0; x < pixels.Width; ++x, src += 3, dst += 3) {
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = src[0];
      }
    } else {
      std::copy_n(src, pixels.RowBytes, dst);
    }
  }
  return pixels;
}

bool BuildBmpImage(TPDFStructure& store, std::string_view bytes, bool compress, TBuiltImage& result) {
  TDecodedPixels pixels;
  try {
    pixels = DecodeBmpPixels(bytes);
  } catch (const std::exception&) {
    return false;
  }
  if (pixels.Width <= 0 || pixels.Height <= 0) return false;
  return BuildDecodedImage(store, pixels, compress, EPDFImageKind::Pixels, result);
}

}  // namespace lumipage
