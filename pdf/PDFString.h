#pragma once
#include "pdf/PDFObject.h"

namespace lumipage {

class TPDFString final : public TPDFObject {
 public:
  static constexpr uint8_t kLiteral = 0;      // (...)
  static constexpr uint8_t kHexadecimal = 1;  // <...>

  TPDFString(TPDFStructure& owner, std::string value, uint8_t mode)
      : TPDFObject(owner, kKindPlain), Value(std::move(value)), Mode(mode) {}
  void AppendText(std::string& out, int depth) const override;

  std::string Value;
  uint8_t Mode;
};

}  // namespace lumipage
