#pragma once
// Patch code sheets: four parallel bars, each wide or narrow, printed across a separator sheet
// near the edge that enters the scanner first. Which bars are wide tells the kind of sheet.
// General barcode readers do not know these symbols; this is our own finder.
#include <cstdint>

#include "imaging/DibGraphic.h"

namespace lumipage {

// The patch code printed on a separator sheet, if the page carries one.
enum class TPatchCode : std::uint8_t { None, Patch1, Patch2, Patch3, Patch4, Patch6, PatchT };

// "Patch 1" ... "Patch T", "" for None.
[[nodiscard]] const char* PatchCodeName(TPatchCode code);

// The patch code on a page scanned at dpi (0: the page's own resolution, else 200), found upright,
// upside down or sideways and turned by up to 15 degrees either way. The bars are read from the
// page edge nearer to them, the edge a patch code is printed against. Checks for an interrupted
// job now and then.
[[nodiscard]] TPatchCode FindPatchCode(const TDibGraphic& page, std::uint16_t dpi = 0);

}  // namespace lumipage
