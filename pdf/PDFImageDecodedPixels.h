#pragma once
// The decoded-pixels path: a bitmap decoded from a BMP, GIF or TIFF file becomes an image
// XObject of 1-bit or 8-bit grey, 24-bit RGB or 32-bit CMYK samples. Also what every decoding
// image builder hands back: the stream it made and the image fields it found.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/PDFImageKind.h"

namespace lumipage {

class TPDFStream;
class TPDFStructure;

// Largest pixel buffer a decoded image may need; a file declaring more is refused before
// anything is allocated.
inline constexpr uint64_t kMaxDecodedImageBytes = uint64_t{1} << 30;
// Decoded pixel bytes allowed per byte of the file (LZW and Flate stay well below this), plus
// a fixed allowance: a tiny file never makes us allocate and clear a huge canvas.
inline constexpr uint64_t kMaxPixelBytesPerFileByte = 4096;
inline constexpr uint64_t kPixelBytesAllowance = uint64_t{1} << 20;

// True when a picture of width x height pixels of bytesPerPixel bytes (fractions for packed
// depths are rounded up per row by the caller) may be decoded from a file of fileSize bytes.
[[nodiscard]] bool PixelBufferAllowed(uint64_t width, uint64_t height, uint64_t bytesPerRow, uint64_t fileSize);

enum class EPixelSource : uint8_t { Bmp, Gif, Tiff };

// A decoded bitmap: rows top row first, each RowBytes long. 1 and 4 bits per pixel are packed
// most significant bit first; 8 bits are palette indices (or grey for a TIFF page); 24 bits are
// R, G, B; 32 bits are C, M, Y, K (TIFF photometric 5) or R, G, B and one byte ignored.
struct TDecodedPixels {
  int32_t Width = 0;
  int32_t Height = 0;
  int BitsPerPixel = 24;
  std::vector<uint32_t> Palette;  // 0x00RRGGBB
  size_t RowBytes = 0;
  std::vector<uint8_t> Rows;
  EPixelSource Source = EPixelSource::Bmp;
  uint32_t Photometric = 0;  // TIFF pages only

  // An empty bitmap of that shape with rows of the packed length, all zero.
  void Allocate(int32_t width, int32_t height, int bitsPerPixel);
  [[nodiscard]] uint8_t* Row(int32_t y) { return Rows.data() + static_cast<size_t>(y) * RowBytes; }
  [[nodiscard]] const uint8_t* Row(int32_t y) const { return Rows.data() + static_cast<size_t>(y) * RowBytes; }
};

// What an image builder made: the (not yet registered) image or form stream and the fields of
// the image it describes.
struct TBuiltImage {
  TPDFStream* Stream = nullptr;
  int32_t Width = 0;
  int32_t Height = 0;
  EPDFImageKind Kind = EPDFImageKind::Metafile;
  int32_t HorizontalResolution = 0;
  int32_t VerticalResolution = 0;
  int ResolutionUnit = 0;
};

// An image XObject stream holding bytes: /Type, /Subtype, /Width and /Height are set, the rest
// is the caller's.
[[nodiscard]] TPDFStream* MakeImageStream(TPDFStructure& store, double width, double height, std::string bytes = {});

// The image stream for a decoded bitmap (see the header comment for the encodings), with
// /Filter /FlateDecode when compress is set.
[[nodiscard]] TPDFStream* MakeDecodedPixelsStream(TPDFStructure& store, const TDecodedPixels& pixels, bool compress);

// Fills result with the decoded bitmap's stream, its size and the kind; always true, so that
// a builder can end with it.
bool BuildDecodedImage(TPDFStructure& store, const TDecodedPixels& pixels, bool compress, EPDFImageKind kind,
                       TBuiltImage& result);

}  // namespace lumipage
