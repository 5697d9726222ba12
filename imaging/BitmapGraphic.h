#pragma once
// TBitmapGraphic: a TDibGraphic that reads and writes Windows BMP files. Every scanned page is
// one, so a BMP page is saved without conversion.
#include "imaging/DibGraphic.h"

namespace lumipage {

class TBitmapGraphic : public TDibGraphic {
 public:
  [[nodiscard]] const char* ClassName() const override { return "TBitmapGraphic"; }
  [[nodiscard]] std::unique_ptr<TDibGraphic> CreateSame() const override;

  // Reads 2 bytes and steps back: "BM".
  [[nodiscard]] bool IsFormatOf(TStream& stream) override;
  // The BMP starting at the stream's position (n is ignored). The resolution is taken from the
  // file's pixels-per-metre values (0 stays 0).
  void LoadImage(TStream& stream, int n) override;
  // 14-byte file header, the 40-byte bitmap header, the colour table, the pixel rows.
  void SaveToStream(TStream& stream) override;
};

}  // namespace lumipage
