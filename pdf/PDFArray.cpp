#include "pdf/PDFArray.h"

#include "pdf/PDFLimits.h"
#include "pdf/PDFStructure.h"

namespace lumipage {

void TPDFArray::AppendText(std::string& out, int depth) const {
  if (depth > kMaxTextDepth) throw TextDepthError{};
  size_t lastBreak = out.size();
  out += "[ ";
  for (const TPDFObject* item : items_) {
    item->AppendText(out, depth + 1);
    if (out.empty() || out.back() != '\n') out += ' ';
    if (out.size() - lastBreak > 80) {
      out += '\n';
      lastBreak = out.size();
    }
  }
  out += ']';
}

void TPDFArray::ShiftNumbers(int32_t n) {
  for (TPDFObject* item : items_) item->ShiftNumbers(n);
}

bool TPDFArray::Refers(const TPDFObject* value) const {
  for (const TPDFObject* item : items_)
    if (item == value) return true;
  return false;
}

void TPDFArray::Children(std::vector<TPDFObject*>& out) const {
  out.insert(out.end(), items_.begin(), items_.end());
}

void TPDFArray::Add(TPDFObject* value) {
  if (value == nullptr || value == this) return;
  Hold(value);
  items_.push_back(value);
}

void TPDFArray::Insert(int index, TPDFObject* value) {
  if (value == nullptr || value == this || index < 0 || index > Count()) return;
  Hold(value);
  items_.insert(items_.begin() + index, value);
}

TPDFObject* TPDFArray::Item(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return items_[static_cast<size_t>(index)];
}

void TPDFArray::Delete(int index) {
  if (index < 0 || index >= Count()) return;
  TPDFObject* old = items_[static_cast<size_t>(index)];
  items_.erase(items_.begin() + index);
  Unhold(old);
  Owner().DeleteObject(old);
}

void TPDFArray::Remove(const TPDFObject* value, bool byText) {
  if (value == nullptr) return;
  for (int i = 0; i < Count(); ++i) {
    if (items_[static_cast<size_t>(i)] == value) {
      Delete(i);
      return;
    }
  }
  if (!byText) return;
  const int i = IndexOfText(value);
  if (i >= 0) Delete(i);
}

void TPDFArray::Move(int from, int to) {
  if (from < 0 || from >= Count() || to < 0 || to >= Count() || from == to) return;
  TPDFObject* v = items_[static_cast<size_t>(from)];
  items_.erase(items_.begin() + from);
  items_.insert(items_.begin() + to, v);
}

void TPDFArray::Replace(int index, TPDFObject* value) {
  if (index < 0 || index >= Count() || value == nullptr || value == this) return;
  TPDFObject* old = items_[static_cast<size_t>(index)];
  Hold(value);
  items_[static_cast<size_t>(index)] = value;
  Unhold(old);
  if (old != value) Owner().DeleteObject(old);
}

void TPDFArray::SetItem(int index, TPDFObject* value) {
  if (index < 0 || index >= Count() || value == nullptr || value == this) return;
  Hold(value);
  Unhold(items_[static_cast<size_t>(index)]);
  items_[static_cast<size_t>(index)] = value;
}

int TPDFArray::IndexOfText(const TPDFObject* value) const {
  if (value == nullptr) return -1;
  const std::string text = value->ToText();
  for (int i = 0; i < Count(); ++i)
    if (items_[static_cast<size_t>(i)]->ToText() == text) return i;
  return -1;
}

bool TPDFArray::ContainsText(std::string_view text) const {
  for (const TPDFObject* item : items_)
    if (item->ToText() == text) return true;
  return false;
}

void TPDFArray::Clear() {
  std::vector<TPDFObject*> old;
  old.swap(items_);
  for (TPDFObject* item : old) Unhold(item);
  Owner().DeleteObjects(std::move(old));
}

void TPDFArray::Reserve(int n) {
  if (n > 0) items_.reserve(items_.size() + static_cast<size_t>(n));
}

}  // namespace lumipage
