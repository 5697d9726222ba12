#include "pdf/PDFImage.h"

namespace lumipage {

// Images that have to be decoded to pixels (BMP, PNG, GIF, TIFF without CCITT coding) or
// converted (metafiles) are not embedded yet: such files are refused like unknown ones.
bool BuildDecodedImage(TPDFImage&, TPDFPageTree&, EImageFileType, std::string_view, const TPDFTIFF*, int) {
  return false;
}

}  // namespace lumipage
