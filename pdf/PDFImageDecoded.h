#pragma once
// The formats an image file is decoded (or converted) from before it is stored: BMP, PNG, GIF,
// TIFF pages that are not CCITT-coded, and Windows metafiles. Fills the image's fields and
// makes its stream an indirect object of the document.
#include <string_view>

#include "pdf/PDFImage.h"
#include "pdf/PDFImageDecodedPixels.h"

namespace lumipage {

class TPDFPageTree;
class TPDFTIFF;
// tiff and page (1-based, clamped) are used for TIFF only. False (nothing usable made) when the
// file cannot be decoded as that type.
[[nodiscard]] bool BuildImageByDecoding(TPDFImage& image, TPDFPageTree& pages, EImageFileType type,
                                        std::string_view bytes, const TPDFTIFF* tiff, int page);
// Makes the built image's stream an indirect object of the document and records it, its size,
// kind and resolution in the image.
void RecordBuiltImage(TPDFImage& image, TPDFPageTree& pages, const TBuiltImage& built);

}  // namespace lumipage
