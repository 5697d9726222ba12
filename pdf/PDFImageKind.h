#pragma once
// What an image object of a document was made from; it decides how the image is drawn and
// whether its source bytes can be embedded as they are.
#include <cstdint>

namespace lumipage {

enum class EPDFImageKind : uint8_t {
  Metafile = 0,  // a form drawn from a Windows metafile
  Jpeg = 1,      // JPEG data embedded as it is
  Pixels = 2,    // pixels decoded from a BMP, GIF or TIFF file
  Tiff = 3,      // a TIFF page: CCITT strips embedded as they are, or its decoded pixels
  Png = 4,       // PNG samples
};

}  // namespace lumipage
