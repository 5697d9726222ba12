#include "pdf/PDFIndObj.h"

#include "pdf/PDFStructure.h"

namespace lumipage {

std::string TPDFIndObj::ObjectText() {
  TPDFObject* value = Document().GetValue(this);
  std::string out = std::to_string(Number);
  out += ' ';
  out += std::to_string(Generation);
  out += " obj\n";
  if (value != nullptr) {
    value->AppendText(out, 0);
  } else {
    out += "null";
  }
  if (out.back() != '\n') out += '\n';
  out += "endobj\n";
  return out;
}

std::string TPDFIndObj::RawText() {
  if (TextCached) return Swapped ? Document().ReadStoredText(Number) : CachedText ? *CachedText : std::string();
  if (InObjectStream) return Document().ObjectStreamText(*this);
  const std::string& file = Document().FileText();
  if (Offset <= 0 || Length <= 0 || static_cast<size_t>(Offset) >= file.size()) return {};
  return file.substr(static_cast<size_t>(Offset), static_cast<size_t>(Length));
}

void TPDFIndObj::Unload() {
  if (!Parsed) return;
  std::string text = std::to_string(Number) + ' ' + std::to_string(Generation) + " obj\n";
  if (Value != nullptr) Value->AppendText(text, 0);
  if (Value == nullptr || Value->Kind() != TPDFObject::kKindDictionary) text += '\n';
  text += "endobj\n";
  TextCached = true;
  Swapped = false;
  CachedText.reset();
  if (text.size() > 1024 && Document().StoreText(Number, text)) {
    Swapped = true;
  } else {
    CachedText = std::make_unique<std::string>(std::move(text));
  }
  Parsed = false;
  TPDFObject* old = Value;
  Value = nullptr;
  if (old != nullptr) Document().Structure().ReleaseIndirect(old);
}

}  // namespace lumipage
