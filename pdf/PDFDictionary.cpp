#include "pdf/PDFDictionary.h"

#include "pdf/PDFIndRef.h"
#include "pdf/PDFLimits.h"
#include "pdf/PDFName.h"
#include "pdf/PDFNumeric.h"
#include "pdf/PDFString.h"
#include "pdf/PDFStructure.h"

namespace lumipage {

void TPDFDictionary::AppendText(std::string& out, int depth) const {
  if (depth > kMaxTextDepth) throw TextDepthError{};
  out += "<<\n";
  for (const Entry& e : entries_) {
    const size_t mark = out.size();
    try {
      e.Key->AppendText(out, depth + 1);
      out += ' ';
      e.Value->AppendText(out, depth + 1);
      if (out.back() != '\n') out += '\n';
    } catch (const TextDepthError&) {
      out.resize(mark);
      out += "% bug \n";
    }
  }
  out += ">>\n";
}

void TPDFDictionary::ShiftNumbers(int32_t n) {
  for (Entry& e : entries_) e.Value->ShiftNumbers(n);
}

bool TPDFDictionary::Refers(const TPDFObject* value) const {
  for (const Entry& e : entries_)
    if (e.Key == value || e.Value == value) return true;
  return false;
}

void TPDFDictionary::Children(std::vector<TPDFObject*>& out) const {
  for (const Entry& e : entries_) {
    out.push_back(e.Key);
    out.push_back(e.Value);
  }
}

void TPDFDictionary::Put(std::string_view key, TPDFObject* value) {
  if (value == nullptr || value == this) return;
  const int i = IndexOf(key);
  if (i >= 0) {
    Entry& e = entries_[static_cast<size_t>(i)];
    Hold(value);
    Unhold(e.Value);
    e.Value = value;
    return;
  }
  AppendEntry(Owner().CommonName(key), value);
}

void TPDFDictionary::AppendEntry(TPDFName* key, TPDFObject* value) {
  if (key == nullptr || value == nullptr || value == this) return;
  Hold(key);
  Hold(value);
  entries_.push_back(Entry{key, value});
}

int TPDFDictionary::IndexOf(std::string_view key) const {
  for (size_t i = entries_.size(); i-- > 0;)
    if (entries_[i].Key->Value == key) return static_cast<int>(i);
  return -1;
}

TPDFObject* TPDFDictionary::Get(std::string_view key, bool resolve) const {
  const int i = IndexOf(key);
  if (i < 0) return nullptr;
  TPDFObject* v = entries_[static_cast<size_t>(i)].Value;
  if (resolve) {
    if (auto* ref = As<TPDFIndRef>(v)) return ref->Resolve();
  }
  return v;
}

std::optional<TPDFDictionary::Entry> TPDFDictionary::TakeOut(std::string_view key) {
  const int i = IndexOf(key);
  if (i < 0) return std::nullopt;
  const Entry e = entries_[static_cast<size_t>(i)];
  entries_.erase(entries_.begin() + i);
  Unhold(e.Key);
  Unhold(e.Value);
  return e;
}

void TPDFDictionary::Remove(std::string_view key) { (void)TakeOut(key); }

void TPDFDictionary::Delete(std::string_view key) {
  const std::optional<Entry> taken = TakeOut(key);
  if (!taken) return;
  const Entry e = *taken;
  if (e.Value->Kind() == kKindDictionary || e.Value->Kind() == kKindArray) e.Value->Release();
  if (!TPDFStructure::IsCommonName(e.Key->Value)) Owner().DeleteObject(e.Key);
}

void TPDFDictionary::Clear() {
  std::vector<Entry> old;
  old.swap(entries_);
  std::vector<TPDFObject*> values;
  values.reserve(old.size() * 2);
  for (const Entry& e : old) {
    Unhold(e.Key);
    Unhold(e.Value);
    values.push_back(e.Key);
    values.push_back(e.Value);
  }
  Owner().DeleteObjects(std::move(values));
}

void TPDFDictionary::Assign(const TPDFDictionary& other) {
  if (&other == this) return;
  if (&other.Owner() == &Owner()) {
    for (const Entry& e : other.entries_) {
      Hold(e.Key);
      Hold(e.Value);
    }
    for (const Entry& e : entries_) {
      Unhold(e.Key);
      Unhold(e.Value);
    }
    entries_ = other.entries_;
    return;
  }
  auto* copy = As<TPDFDictionary>(Owner().Parse(other.ToText()));
  if (copy == nullptr) return;
  Assign(*copy);
  Owner().DeleteObject(copy);
}

TPDFDictionary::Entry TPDFDictionary::EntryAt(int index) const {
  if (index < 0 || index >= Count()) return Entry{};
  return entries_[static_cast<size_t>(index)];
}

std::string TPDFDictionary::TypeName() const {
  if (auto* n = As<TPDFName>(Get("Type"))) return n->Value;
  return {};
}

int32_t TPDFDictionary::GetInteger(std::string_view key, int32_t defaultValue) const {
  if (auto* n = As<TPDFNumeric>(Get(key, true))) return n->AsInteger();
  return defaultValue;
}

std::string TPDFDictionary::GetText(std::string_view key) const {
  TPDFObject* v = Get(key, true);
  if (auto* n = As<TPDFName>(v)) return n->Value;
  if (auto* s = As<TPDFString>(v)) return s->Value;
  return {};
}

}  // namespace lumipage
