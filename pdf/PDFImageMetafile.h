#pragma once
// Windows metafiles (placeable WMF and EMF) as forms: the size comes from the file's header, the
// form is a 1000 by 1000 unit box mapped onto the unit square. The records are not converted
// to PDF drawing operators, so the form draws nothing.
#include <cstdint>
#include <string_view>

#include "pdf/PDFImageDecodedPixels.h"

namespace lumipage {

class TPDFStructure;

// Metafile sizes are given for this screen resolution.
inline constexpr int32_t kMetafileDpi = 96;

struct TMetafileSize {
  int32_t Width = 0;  // pixels at kMetafileDpi
  int32_t Height = 0;
};

// The size a placeable WMF (bounding box in units of its Inch value) or an EMF (frame in
// hundredths of a millimetre) declares. False when the headers are not those of a metafile or
// the size is empty.
[[nodiscard]] bool ReadPlaceableMetafileSize(std::string_view bytes, TMetafileSize& size);
[[nodiscard]] bool ReadEnhancedMetafileSize(std::string_view bytes, TMetafileSize& size);

// The metafile as a form of kind 0 without resolution. enhanced selects EMF over placeable
// WMF. False for a file the header readers reject.
[[nodiscard]] bool BuildMetafileImage(TPDFStructure& store, std::string_view bytes, bool enhanced, TBuiltImage& result);

}  // namespace lumipage
