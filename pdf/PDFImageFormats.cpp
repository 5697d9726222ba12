#include "pdf/PDFPageImages.h"
#include "pdf/PDFImageDecoded.h"

namespace lumipage {

// Images that have to be decoded to pixels (BMP, PNG, GIF, TIFF without CCITT coding) or
// converted (metafiles).
bool BuildDecodedImage(TPDFImage& image, TPDFPageTree& pages, EImageFileType type, std::string_view bytes,
                       const TPDFTIFF* tiff, int page) {
  return BuildImageByDecoding(image, pages, type, bytes, tiff, page);
}

}  // namespace lumipage
