#include "pdf/PDFObject.h"

#include "pdf/PDFStructure.h"

namespace lumipage {

void TPDFObject::MarkIndirect(int32_t number, int32_t generation) {
  isIndirect_ = true;
  objectNumber_ = number;
  generation_ = generation;
}

void TPDFObject::ClearIndirect() {
  isIndirect_ = false;
  objectNumber_ = 0;
  generation_ = 0;
}

std::string TPDFObject::ToText() const {
  std::string out;
  try {
    AppendText(out, 0);
  } catch (const TextDepthError&) {
    // A cycle outside any dictionary: what was written so far is the text.
  }
  return out;
}

TPDFObject* TPDFObject::Create(TPDFStructure& owner) const {
  if (As<TPDFNull>(this) != nullptr) return owner.MakeNull();
  if (As<TPDFBoolean>(this) != nullptr) return owner.MakeBoolean(false);
  if (As<TPDFNumeric>(this) != nullptr) return owner.MakeNumber(0);
  if (const auto* s = As<TPDFString>(this)) return owner.MakeString({}, s->Mode);
  if (As<TPDFName>(this) != nullptr) return owner.MakeName({});
  if (As<TPDFArray>(this) != nullptr) return owner.MakeArray();
  if (As<TPDFDictionary>(this) != nullptr) return owner.MakeDictionary();
  if (As<TPDFStream>(this) != nullptr) return owner.MakeStream({});
  return owner.MakeReference(0, 0);
}

void TPDFObject::Release() { owner_->ReleaseObject(this); }

void TPDFObject::ShiftNumbers(int32_t) {}

bool TPDFObject::Refers(const TPDFObject*) const { return false; }

void TPDFObject::Children(std::vector<TPDFObject*>&) const {}

}  // namespace lumipage
