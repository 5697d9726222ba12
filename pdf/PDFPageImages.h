#pragma once
// Images put into a page tree's document and drawn on its pages, and page content compressed.
// JPEG data and CCITT-coded TIFF strips are embedded as they are, never decoded or re-encoded.
#include <string>
#include <string_view>

#include "pdf/PDFImage.h"

namespace lumipage {

class TPDFPageTree;
class TPDFTIFF;

// Adds the image in a file (or in bytes) to the page tree's document and its image list; the
// new image, or nullptr when the file is missing, unreadable or not a usable image. option is
// the page of a multi-page TIFF file.
TPDFImage* AddImageFromFile(TPDFPageTree& pages, const std::string& fileName, int option);
TPDFImage* AddImageFromBytes(TPDFPageTree& pages, std::string bytes, int option);

// Draws the image into the box (user units from the origin corner: left, top, width, height),
// keeping its aspect ratio. 0 for arguments out of range or an image without pixels.
[[nodiscard]] int FitImage(TPDFPageTree& pages, TPDFImage& image, double left, double top, double width,
                           double height, int hAlign, int vAlign, int rotation);

// Flate-compresses the content streams of the selected page that are not compressed yet.
void CompressPageContent(TPDFPageTree& pages);
// The same for every page (each page is selected in turn).
void CompressContent(TPDFPageTree& pages);

// The image formats that are decoded to pixels or converted (BMP, PNG, GIF, TIFF with other
// compressions, metafiles). tiff is the parsed file for TIFF, else nullptr. False when the
// type is not handled.
[[nodiscard]] bool BuildDecodedImage(TPDFImage& image, TPDFPageTree& pages, EImageFileType type,
                                     std::string_view bytes, const TPDFTIFF* tiff, int page);

}  // namespace lumipage
