#include "pdf/PDFIndRef.h"

#include "pdf/PDFStructure.h"

namespace lumipage {

void TPDFIndRef::AppendText(std::string& out, int) const {
  out += std::to_string(ObjectNumberValue);
  out += ' ';
  out += std::to_string(GenerationValue);
  out += " R";
}

void TPDFIndRef::ShiftNumbers(int32_t n) {
  ObjectNumberValue = static_cast<int32_t>(static_cast<uint32_t>(ObjectNumberValue) + static_cast<uint32_t>(n));
}

TPDFObject* TPDFIndRef::Resolve() {
  const auto& hook = Owner().OnLookup;
  if (!hook) return nullptr;
  return hook(this, ObjectNumberValue, GenerationValue);
}

}  // namespace lumipage
