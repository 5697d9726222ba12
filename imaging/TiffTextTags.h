#pragma once
// The TIFF text fields a page keeps, shared by the reader and the writer: which field of the
// image holds which tag, in the order they are written.
#include <tiffio.h>

#include <string>

#include "imaging/TiffGraphic.h"

namespace lumipage {

struct TTiffTextTag {
  std::string TTiffGraphic::*field;
  ttag_t tag;
};

inline constexpr TTiffTextTag kTiffTextTags[] = {
    {&TTiffGraphic::DocumentName, TIFFTAG_DOCUMENTNAME},
    {&TTiffGraphic::ImageDescription, TIFFTAG_IMAGEDESCRIPTION},
    {&TTiffGraphic::Make, TIFFTAG_MAKE},
    {&TTiffGraphic::Model, TIFFTAG_MODEL},
    {&TTiffGraphic::PageName, TIFFTAG_PAGENAME},
    {&TTiffGraphic::Software, TIFFTAG_SOFTWARE},
    {&TTiffGraphic::DateTime, TIFFTAG_DATETIME},
    {&TTiffGraphic::Artist, TIFFTAG_ARTIST},
    {&TTiffGraphic::HostComputer, TIFFTAG_HOSTCOMPUTER},
};

}  // namespace lumipage
