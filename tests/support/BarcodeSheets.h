#pragma once
// Separator sheets for the barcode tests and benchmark: symbols drawn by the zint command,
// pasted onto drawn A4 sides in any orientation, turned by a small angle, faint or dark.
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "imaging/BitmapGraphic.h"
#include "tests/support/DrawnPages.h"

namespace lumipage::testing {

// A symbol (zint's name: CODE39, CODE128, QRCODE, DATAMATRIX) of the bytes of text, modulePx
// pixels to a module, black on white; options go to zint as they are. Empty when zint fails
// (the test then fails with zint's message).
[[nodiscard]] std::unique_ptr<TBitmapGraphic> DrawSymbol(const std::string& symbology, const std::string& text,
                                                         int modulePx, const std::string& options = "");
// The symbol's dark modules in ink on the page, its centre at (cx, cy), turned clockwise by
// quarter turns first.
void Paste(TDibGraphic& page, const TDibGraphic& symbol, int cx, int cy, int quarters, std::uint32_t ink);
// A white A4 side with a little noise.
[[nodiscard]] std::unique_ptr<TBitmapGraphic> Side(int dpi, TSideMark mark = TSideMark::None, bool grey = false);
// The page turned counter-clockwise by degrees about its centre.
[[nodiscard]] std::unique_ptr<TBitmapGraphic> Turned(const TDibGraphic& page, double degrees);

struct TSheet {
  const char* Symbology;
  std::string Text;
  double ModuleMm;
  int Dpi;
  int Quarters;    // clockwise quarter turns: upright, sideways, upside down
  double Degrees;  // then turned by this much
  bool Faint;      // light grey print
  bool Grey;       // an 8-bit grey scan
};
inline void PrintTo(const TSheet& s, std::ostream* os) {
  *os << s.Symbology << " " << s.ModuleMm << "mm " << s.Dpi << "dpi q" << s.Quarters << " " << s.Degrees << "deg"
      << (s.Faint ? " faint" : "") << (s.Grey ? " grey" : "");
}

// Twenty separator sheets: each symbology in every orientation, turned by up to 10 degrees
// either way, at 200 and 300 dpi, faint, small and large.
[[nodiscard]] const std::vector<TSheet>& SeparatorSheets();
[[nodiscard]] std::unique_ptr<TBitmapGraphic> SeparatorSheet(const TSheet& sheet);

}  // namespace lumipage::testing
