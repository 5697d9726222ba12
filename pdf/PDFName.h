#pragma once
#include "pdf/PDFObject.h"

namespace lumipage {

class TPDFName final : public TPDFObject {
 public:
  TPDFName(TPDFStructure& owner, std::string value) : TPDFObject(owner, kKindName), Value(std::move(value)) {}
  // "/" and the value with # escapes for whitespace, high bytes and delimiters.
  void AppendText(std::string& out, int depth) const override;

  std::string Value;    // without the slash, escapes decoded
  bool Shared = false;  // one object used by many holders: never freed before the pool
};

}  // namespace lumipage
