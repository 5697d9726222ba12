#include "pdf/PDFNumeric.h"

#include <cmath>
#include <charconv>
#include <string_view>

#include "pdf/PDFNumberText.h"
#include "pdf/PDFStructure.h"

namespace lumipage {

void TPDFNumeric::AppendText(std::string& out, int) const {
  if (ReadDecimals > Owner().Precision() && std::isfinite(Value) && Value != std::trunc(Value) &&
      std::fabs(Value) < 1e15) {
    char buf[160];
    // The shortest text that reads back as the same value: the text it was read from, unless that
    // had more digits than a double holds. to_chars: the point is '.' whatever the locale says.
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, Value, std::chars_format::fixed);
    if (ec == std::errc()) {
      std::string_view t(buf, static_cast<size_t>(end - buf));
      while (t.back() == '0') t.remove_suffix(1);
      if (t.back() == '.') t.remove_suffix(1);
      if (t == "-0") t = "0";
      out += t;
      return;
    }
  }
  AppendNumberText(out, Value, Owner().Precision());
}

int32_t TPDFNumeric::AsInteger() const { return NumberToInt(Value); }

int32_t NumberToInt(double value) {
  if (!std::isfinite(value)) return 0;
  const double r = std::nearbyint(value);  // default rounding mode: halves to even
  if (r >= 2147483647.0) return INT32_MAX;
  if (r <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(r);
}

}  // namespace lumipage
