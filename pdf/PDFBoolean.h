#pragma once
#include "pdf/PDFObject.h"

namespace lumipage {

class TPDFBoolean final : public TPDFObject {
 public:
  TPDFBoolean(TPDFStructure& owner, bool value) : TPDFObject(owner, kKindPlain), Value(value) {}
  void AppendText(std::string& out, int depth) const override;

  bool Value;
};

}  // namespace lumipage
