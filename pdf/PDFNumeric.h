#pragma once
#include "pdf/PDFObject.h"

namespace lumipage {

class TPDFNumeric final : public TPDFObject {
 public:
  TPDFNumeric(TPDFStructure& owner, double value) : TPDFObject(owner, kKindPlain), Value(value) {}
  // Truncated to the owner's Precision (or ReadDecimals when more), trailing zeros and point removed.
  void AppendText(std::string& out, int depth) const override;
  // Rounded to the nearest integer, halves to the even neighbour; saturates at the 32-bit range.
  [[nodiscard]] int32_t AsInteger() const;

  double Value;
  // Decimals the value was read with from a file (at most 100); -1 for values made in memory. A
  // value read with more decimals than the owner's Precision is written as the shortest text that
  // reads back as the same value, so that a loaded object reads back the same.
  int8_t ReadDecimals = -1;
};

// A number rounded as TPDFNumeric::AsInteger rounds it; 0 for NaN and infinities.
[[nodiscard]] int32_t NumberToInt(double value);

}  // namespace lumipage
