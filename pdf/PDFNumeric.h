#pragma once
#include "pdf/PDFObject.h"

namespace lumipage {

class TPDFNumeric final : public TPDFObject {
 public:
  TPDFNumeric(TPDFStructure& owner, double value) : TPDFObject(owner, kKindPlain), Value(value) {}
  // Truncated to the owner's Precision, trailing zeros and point removed.
  void AppendText(std::string& out, int depth) const override;
  // Rounded to the nearest integer, halves to the even neighbour; saturates at the 32-bit range.
  [[nodiscard]] int32_t AsInteger() const;

  double Value;
};

}  // namespace lumipage
