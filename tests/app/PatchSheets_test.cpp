// A patch code sheet printed and scanned by others (tests/data/separators/SOURCES.md): a Patch T
// sheet with the symbol along all four edges and a Code 39 barcode in the middle.
#include <gtest/gtest.h>

#include <string>

#include "imaging/PatchCode.h"
#include "imaging/RotateTransform.h"
#include "imaging/TiffGraphic.h"

using namespace lumipage;

namespace {

TEST(RealPatchSheet, IsReadAsScannedUpsideDownAndTurned) {
  TTiffGraphic sheet;
  sheet.LoadFromFile(std::string(LUMIPAGE_TEST_DATA) + "/separators/kodak-patch-t-a4.tif");
  EXPECT_EQ(FindPatchCode(sheet), TPatchCode::PatchT);
  for (const double degrees : {180.0, 7.0, -9.5}) {
    TRotateTransform turn;
    turn.Degrees = degrees;
    TTiffGraphic turned;
    turn.ApplyOnDest(sheet, turned);
    EXPECT_EQ(FindPatchCode(turned, 200), TPatchCode::PatchT) << degrees << " degrees";
  }
}

}  // namespace
