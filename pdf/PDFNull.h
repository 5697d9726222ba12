#pragma once
#include "pdf/PDFObject.h"

namespace lumipage {

class TPDFNull final : public TPDFObject {
 public:
  explicit TPDFNull(TPDFStructure& owner) : TPDFObject(owner, kKindPlain) {}
  void AppendText(std::string& out, int depth) const override;
};

}  // namespace lumipage
