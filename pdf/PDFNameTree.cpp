#include "pdf/PDFNameTree.h"

#include "pdf/PDFArray.h"
#include "pdf/PDFString.h"
#include "pdf/PDFStructure.h"

namespace lumipage {

TPDFNameTree::TPDFNameTree(TPDFDictionary* dictionary) : dictionary_(dictionary) {
  if (dictionary_ != nullptr && dictionary_->Count() == 0)
    dictionary_->Put("Names", dictionary_->Owner().MakeArray());
}

TPDFArray* TPDFNameTree::Names() const {
  return dictionary_ == nullptr ? nullptr : As<TPDFArray>(dictionary_->Get("Names", true));
}

int TPDFNameTree::Count() const {
  const TPDFArray* names = Names();
  if (names == nullptr) return 0;
  int n = 0;
  for (int i = 0; i < names->Count(); ++i)
    if (As<TPDFString>(names->Item(i)) != nullptr) ++n;
  return n;
}

TPDFIndRef* TPDFNameTree::Find(std::string_view key) const {
  const TPDFArray* names = Names();
  if (names == nullptr) return nullptr;
  for (int i = 0; i + 1 < names->Count(); ++i) {
    const auto* s = As<TPDFString>(names->Item(i));
    if (s != nullptr && s->Value == key) return As<TPDFIndRef>(names->Item(i + 1));
  }
  return nullptr;
}

bool TPDFNameTree::Contains(std::string_view key) const {
  const TPDFArray* names = Names();
  if (names == nullptr) return false;
  for (int i = 0; i < names->Count(); ++i) {
    const auto* s = As<TPDFString>(names->Item(i));
    if (s != nullptr && s->Value == key) return true;
  }
  return false;
}

std::string TPDFNameTree::Key(int n) const {
  const TPDFArray* names = Names();
  if (names == nullptr || n < 0) return {};
  for (int i = 0; i < names->Count(); ++i) {
    const auto* s = As<TPDFString>(names->Item(i));
    if (s != nullptr && n-- == 0) return s->Value;
  }
  return {};
}

void TPDFNameTree::Insert(std::string_view key, TPDFIndRef* reference) {
  TPDFArray* names = Names();
  if (names == nullptr || reference == nullptr) return;
  int at = 0;
  for (int i = 0; i < names->Count(); ++i) {
    const auto* s = As<TPDFString>(names->Item(i));
    if (s != nullptr && s->Value < key) at = i + 2;
  }
  if (at > names->Count()) at = names->Count();
  names->Insert(at, dictionary_->Owner().MakeString(std::string(key)));
  names->Insert(at + 1, reference);
}

}  // namespace lumipage
