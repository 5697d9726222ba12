#pragma once
// TIFF pages that are not CCITT-coded: PackBits strips that a PDF reader can expand itself are
// joined and stored under /RunLengthDecode (Flate on top); uncompressed, LZW and the remaining
// PackBits pages are decoded to rows (horizontal predictor undone for 8-bit samples) and go
// through the decoded-pixels path. Other compressions give an image of 0 by 0 pixels.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/PDFImageDecodedPixels.h"

namespace lumipage {

class TPDFStructure;

enum class ETiffPixelCompression : uint8_t { None, Lzw, PackBits, Other };

// The fields of one TIFF image directory that decoding needs; strips are views into the file.
struct TTiffPixelPage {
  uint32_t Width = 0;
  uint32_t Length = 0;
  uint32_t BitsPerSample = 8;
  uint32_t SamplesPerPixel = 1;
  uint32_t Photometric = 0;
  uint32_t Predictor = 1;
  uint32_t RowsPerStrip = 0;  // 0: one strip for the whole image
  ETiffPixelCompression Compression = ETiffPixelCompression::None;
  std::vector<std::string_view> Strips;
  int32_t HorizontalResolution = 0;
  int32_t VerticalResolution = 0;
};

// TIFF PackBits to bytes, stopping at maxOutput. The no-operation header 128 is skipped; a run
// cut off by the end of the data gives what is there.
[[nodiscard]] std::string UnpackBits(std::string_view data, size_t maxOutput);

// The page's rows: 1 bit (one sample of 1 bit), 8-bit grey (one sample), R, G, B (three 8-bit
// samples) or four 8-bit samples. Strips shorter than their rows are filled up with zero
// bytes. False, with pixels left empty, for another sample layout, a palette page or one too
// large (see PixelBufferAllowed, measured against the strips' bytes).
[[nodiscard]] bool DecodeTiffPixels(const TTiffPixelPage& page, TDecodedPixels& pixels);

// The page as a kind-3 image, resolution per inch from the page. compress: Flate for decoded
// rows. False for a page whose samples cannot be shown faithfully (see DecodeTiffPixels).
[[nodiscard]] bool BuildTiffPixelsImage(TPDFStructure& store, const TTiffPixelPage& page, bool compress,
                                        TBuiltImage& result);

}  // namespace lumipage
