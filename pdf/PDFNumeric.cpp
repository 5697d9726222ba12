#include "pdf/PDFNumeric.h"

#include <cmath>

#include "pdf/PDFExtra.h"
#include "pdf/PDFStructure.h"

namespace lumipage {

void TPDFNumeric::AppendText(std::string& out, int) const {
  AppendNumberText(out, Value, Owner().Precision());
}

int32_t TPDFNumeric::AsInteger() const {
  if (!std::isfinite(Value)) return 0;
  const double r = std::nearbyint(Value);  // default rounding mode: halves to even
  if (r >= 2147483647.0) return INT32_MAX;
  if (r <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(r);
}

}  // namespace lumipage
