#pragma once
// BMP files as image XObjects: the image library's BMP reader decodes them (1, 4, 8, 16, 24
// and 32 bits, RLE4 and RLE8, bit fields) and the decoded-pixels path stores the result.
#include <string_view>

#include "pdf/PDFImageDecodedPixels.h"

namespace lumipage {

class TPDFStructure;

// The BMP file's pixels, top row first (24-bit rows as R, G, B). Raises the BMP reader's
// errors for a file it rejects.
[[nodiscard]] TDecodedPixels DecodeBmpPixels(std::string_view bytes);

// The BMP file as a kind-2 image, Flate-compressed when compress is set. False when the
// reader rejects the file.
[[nodiscard]] bool BuildBmpImage(TPDFStructure& store, std::string_view bytes, bool compress, TBuiltImage& result);

}  // namespace lumipage
