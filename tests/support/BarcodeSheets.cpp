#include "tests/support/BarcodeSheets.h"

#include <algorithm>
#include <fstream>
#include <iostream>

#include "imaging/RotateTransform.h"
#include "tests/support/RunCommand.h"
#include "tests/support/TempDir.h"

namespace lumipage::testing {

// A symbol drawn by zint from the bytes of text, modulePx pixels to a module, black on white.
std::unique_ptr<TBitmapGraphic> DrawSymbol(const std::string& symbology, const std::string& text, int modulePx,
                                           const std::string& options) {
  TempDir dir("barcode");
  const std::string data = dir.Path() + "/data", bmp = dir.Path() + "/symbol.bmp";
  std::ofstream(data, std::ios::binary) << text;
  const CommandResult r = RunCommand("zint --notext -b " + symbology + " " + options + " --scale " +
                                     std::to_string(modulePx / 2.0) + " -i " + data + " -o " + bmp);
  auto symbol = std::make_unique<TBitmapGraphic>();
  if (r.status != 0) {
    std::cerr << "zint: " << r.output << "\n";
    return symbol;
  }
  symbol->LoadFromFile(bmp);
  return symbol;
}

// An A4 side with the symbol's dark modules in ink, its centre at (cx, cy), the symbol turned
// clockwise by quarter turns first.
void Paste(TDibGraphic& page, const TDibGraphic& symbol, int cx, int cy, int quarters, std::uint32_t ink) {
  const int w = symbol.Width(), h = symbol.Height();
  const bool sideways = quarters % 2 == 1;
  const int tw = sideways ? h : w, th = sideways ? w : h;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      if ((symbol.GetRgbPixel(x, y) & 0xFF) >= 128) continue;
      int tx = x, ty = y;
      switch (quarters % 4) {
        case 1: tx = h - 1 - y; ty = x; break;
        case 2: tx = w - 1 - x; ty = h - 1 - y; break;
        case 3: tx = y; ty = w - 1 - x; break;
        default: break;
      }
      const int px = cx - tw / 2 + tx, py = cy - th / 2 + ty;
      if (px >= 0 && py >= 0 && px < page.Width() && py < page.Height()) page.SetRgbPixel(px, py, ink);
    }
}

std::unique_ptr<TBitmapGraphic> Side(int dpi, TSideMark mark, bool grey) {
  TSideSpec spec;
  spec.Dpi = dpi;
  spec.Flaws.Noise = 3;
  spec.Mark = mark;
  spec.Grey = grey;
  return DrawSide(spec);
}

std::unique_ptr<TBitmapGraphic> Turned(const TDibGraphic& page, double degrees) {
  auto turned = std::make_unique<TBitmapGraphic>();
  TRotateTransform turn;
  turn.Degrees = degrees;
  turn.ApplyOnDest(page, *turned);
  return turned;
}

std::unique_ptr<TBitmapGraphic> SeparatorSheet(const TSheet& s) {
  const int modulePx = std::max(2, static_cast<int>(s.ModuleMm * s.Dpi / 25.4 + 0.5));
  const auto symbol = DrawSymbol(s.Symbology, s.Text, modulePx, "--height=" + std::to_string(std::max(15.0, 30 / s.ModuleMm)));
  auto page = Side(s.Dpi, TSideMark::None, s.Grey);
  Paste(*page, *symbol, page->Width() / 2, page->Height() / 3, s.Quarters, s.Faint ? 0xA0A0A0 : 0x101010);
  return s.Degrees != 0 ? Turned(*page, s.Degrees) : std::move(page);
}

const std::vector<TSheet>& SeparatorSheets() {
  static const std::vector<TSheet> sheets = {
      {"CODE39", "PATCHT", 0.33, 300, 0, 0, false, false},
      {"CODE39", "PATCHT", 0.33, 200, 1, 10, false, true},
      {"CODE39", "PATCHT", 0.25, 300, 2, -10, false, false},
      {"CODE39", "PATCHT", 0.5, 200, 3, 0, true, false},
      {"CODE39", "SEP-0042", 1.0, 300, 0, 7, false, false},
      {"CODE128", "PATCHT", 0.33, 300, 1, 0, false, false},
      {"CODE128", "PATCHT", 0.25, 200, 0, -10, false, false},
      {"CODE128", "Invoice 2026/17", 0.33, 300, 2, 10, true, true},
      {"CODE128", "PATCHT", 0.5, 200, 3, -4, false, false},
      {"CODE128", "PATCHT", 1.0, 300, 2, 0, false, false},
      {"QRCODE", "PATCHT", 0.5, 300, 0, 10, false, false},
      {"QRCODE", "PATCHT", 0.4, 200, 1, -10, true, false},
      {"QRCODE", "Lieferschein Nr. 7 \xE2\x80\x94 M\xC3\xBCller", 0.5, 300, 2, 0, false, false},
      {"QRCODE", "PATCHT", 2.0, 200, 3, 3, false, true},
      {"QRCODE", "PATCHT", 0.33, 300, 0, -10, false, false},
      {"DATAMATRIX", "PATCHT", 0.5, 300, 0, 0, false, false},
      {"DATAMATRIX", "PATCHT", 0.5, 200, 1, 10, false, false},
      {"DATAMATRIX", "PATCHT", 0.4, 300, 2, -10, true, false},
      {"DATAMATRIX", "DOC-2026-000123", 0.6, 200, 3, 0, false, true},
      {"DATAMATRIX", "PATCHT", 2.0, 300, 0, -7, false, false},
  };
  return sheets;
}

}  // namespace lumipage::testing
