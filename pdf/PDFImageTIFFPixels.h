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
#include "pdf/PDFImageTIFF.h"

namespace lumipage {

class TPDFStructure;

// Whether the engine decodes a page of that compression to rows (uncompressed, LZW, PackBits).
[[nodiscard]] constexpr bool DecodesTiffPixels(ETIFFCompression compression) {
  return compression == ETIFFCompression::None || compression == ETIFFCompression::Lzw ||
         compression == ETIFFCompression::PackBits;
}

// TIFF PackBits to bytes, stopping at maxOutput. The no-operation header 128 is skipped; a run
// cut off by the end of the data gives what is there.
[[nodiscard]] std::string UnpackBits(std::string_view data, size_t maxOutput);

// The page's rows: 1 bit (one sample of 1 bit), 8-bit grey (one sample), R, G, B (three 8-bit
// samples) or four 8-bit samples. Strips shorter than their rows are filled up with zero
// bytes. False, with pixels left empty, for another sample layout, a palette page or one too
// large (see PixelBufferAllowed, measured against the strips' bytes).
[[nodiscard]] bool DecodeTiffPixels(const TTIFFPage& page, TDecodedPixels& pixels);

// The page as a kind-3 image, resolution per inch from the page. compress: Flate for decoded
// rows. False for a page whose samples cannot be shown faithfully (see DecodeTiffPixels).
[[nodiscard]] bool BuildTiffPixelsImage(TPDFStructure& store, const TTIFFPage& page, bool compress,
                                        TBuiltImage& result);

}  // namespace lumipage
