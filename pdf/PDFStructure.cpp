#include "pdf/PDFStructure.h"

#include <algorithm>

#include "pdf/PDFParser.h"

namespace lumipage {

namespace {
constexpr std::string_view kCommonNames =
    "[MediaBox][Length][CropBox][Type][Subtype][Name][Pages][Page][Parent][Font][Contents]"
    "[BaseFont][PDF][Text][ImageB][ImageC][ImageI][Resources][ProcSet][ExtGState][Type1]"
    "[TrueType][WinAnsiEncoding][Filter][FlateDecode][Annot][URI][Goto][XYZ][Velx]";
}  // namespace

TPDFStructure::TPDFStructure() { Reset(); }

TPDFStructure::~TPDFStructure() = default;

bool TPDFStructure::IsCommonName(std::string_view value) {
  std::string bracketed;
  bracketed.reserve(value.size() + 2);
  bracketed += '[';
  bracketed += value;
  bracketed += ']';
  return kCommonNames.find(bracketed) != std::string_view::npos;
}

template <class T, class... Args>
T* TPDFStructure::Add(Args&&... args) {
  auto owned = std::make_unique<T>(*this, std::forward<Args>(args)...);
  T* value = owned.get();
  value->poolSlot_ = pool_.size();
  pool_.push_back(std::move(owned));
  ++live_;
  return value;
}

TPDFNull* TPDFStructure::MakeNull() { return Add<TPDFNull>(); }
TPDFBoolean* TPDFStructure::MakeBoolean(bool value) { return Add<TPDFBoolean>(value); }
TPDFNumeric* TPDFStructure::MakeNumber(double value) { return Add<TPDFNumeric>(value); }

TPDFName* TPDFStructure::MakeName(std::string_view value) {
  TPDFName* name = Add<TPDFName>(std::string(value));
  if (IsCommonName(value)) commonNames_[name->Value].push_back(name);
  return name;
}

TPDFName* TPDFStructure::CommonName(std::string_view value) {
  if (IsCommonName(value)) {
    auto it = commonNames_.find(std::string(value));
    if (it != commonNames_.end() && !it->second.empty()) {
      it->second.front()->Shared = true;
      return it->second.front();
    }
  }
  TPDFName* name = MakeName(value);
  name->Shared = true;
  return name;
}

TPDFString* TPDFStructure::MakeString(std::string bytes, uint8_t mode) {
  return Add<TPDFString>(std::move(bytes), mode);
}

TPDFDictionary* TPDFStructure::MakeDictionary() { return Add<TPDFDictionary>(); }
TPDFArray* TPDFStructure::MakeArray() { return Add<TPDFArray>(); }

namespace {

// An array of values[0..lastIndex] (fewer when values end first), each element made by element.
template <typename T, typename Element>
TPDFArray* ArrayOf(TPDFArray* a, std::span<const T> values, int lastIndex, Element element) {
  const int n = std::min<int>(lastIndex + 1, static_cast<int>(values.size()));
  a->Reserve(std::max(n, 0));
  for (int i = 0; i < n; ++i) a->Add(element(values[static_cast<size_t>(i)]));
  return a;
}

}  // namespace

TPDFArray* TPDFStructure::MakeArray(std::span<TPDFObject* const> values, int lastIndex) {
  return ArrayOf(MakeArray(), values, lastIndex, [](TPDFObject* value) { return value; });
}

TPDFArray* TPDFStructure::MakeIntegerArray(std::span<const int32_t> values, int lastIndex) {
  return ArrayOf(MakeArray(), values, lastIndex, [this](int32_t value) { return MakeNumber(value); });
}

TPDFArray* TPDFStructure::MakeRealArray(std::span<const double> values, int lastIndex) {
  return ArrayOf(MakeArray(), values, lastIndex, [this](double value) { return MakeNumber(value); });
}

TPDFStream* TPDFStructure::MakeStream(std::string bytes) {
  TPDFDictionary* dict = MakeDictionary();
  const double length = static_cast<double>(bytes.size());
  TPDFStream* s = Add<TPDFStream>(dict, std::move(bytes));
  dict->Put("Length", MakeNumber(length));
  return s;
}

TPDFIndRef* TPDFStructure::MakeReference(int32_t number, int32_t generation) {
  return Add<TPDFIndRef>(number, generation);
}

TPDFObject* TPDFStructure::Parse(std::string_view text) {
  if (text.empty()) return nullptr;
  TPDFParser parser(*this, text);
  return parser.ParseFirst();
}

bool TPDFStructure::Freeable(const TPDFObject* value) const {
  if (value == nullptr || &value->Owner() != this) return false;
  if (value->poolSlot_ >= pool_.size() || pool_[value->poolSlot_].get() != value) return false;
  if (value->holders_ > 0 || value->isIndirect_) return false;
  if (const auto* name = As<TPDFName>(value); name != nullptr && name->Shared) return false;
  return true;
}

void TPDFStructure::Free(TPDFObject* value) {
  std::vector<TPDFObject*> children;
  value->Children(children);
  for (TPDFObject* c : children) --c->holders_;
  if (auto* name = As<TPDFName>(value)) {
    auto it = commonNames_.find(name->Value);
    if (it != commonNames_.end()) std::erase(it->second, name);
  }
  pool_[value->poolSlot_].reset();
  --live_;
  if (pool_.size() > 1024 && live_ < pool_.size() / 2) Compact();
}

void TPDFStructure::Compact() {
  size_t out = 0;
  for (auto& slot : pool_) {
    if (!slot) continue;
    slot->poolSlot_ = out;
    if (&pool_[out] != &slot) pool_[out] = std::move(slot);
    ++out;
  }
  pool_.resize(out);
}

void TPDFStructure::DeleteObject(TPDFObject* value) {
  if (Freeable(value)) Free(value);
}

void TPDFStructure::DeleteObjects(std::vector<TPDFObject*> values) {
  std::sort(values.begin(), values.end());
  values.erase(std::unique(values.begin(), values.end()), values.end());
  // Freeing one value can only make others freeable, never free them itself, so every pointer
  // still names a live value when its turn comes.
  for (TPDFObject* v : values) DeleteObject(v);
}

void TPDFStructure::ReleaseObject(TPDFObject* value) {
  if (!Freeable(value)) return;
  // An explicit work list: values built in code may nest deeper than the stack allows.
  std::vector<TPDFObject*> work{value};
  std::vector<TPDFObject*> children;
  while (!work.empty()) {
    TPDFObject* v = work.back();
    work.pop_back();
    if (!Freeable(v)) continue;  // freed already through another path, or still held
    children.clear();
    v->Children(children);
    std::sort(children.begin(), children.end());
    children.erase(std::unique(children.begin(), children.end()), children.end());
    Free(v);
    for (TPDFObject* c : children)
      if (c->holders_ == 0) work.push_back(c);
  }
}

void TPDFStructure::ReleaseIndirect(TPDFObject* value) {
  if (value == nullptr || &value->Owner() != this) return;
  value->ClearIndirect();
  ReleaseObject(value);
}

TPDFName* TPDFStructure::FindName(std::string_view value) {
  for (auto& slot : pool_)
    if (auto* n = As<TPDFName>(slot.get()); n != nullptr && n->Value == value) return n;
  return nullptr;
}

TPDFObject* TPDFStructure::ObjectAt(size_t index) {
  if (index >= live_) return nullptr;
  if (live_ != pool_.size()) Compact();
  return pool_[index].get();
}

void TPDFStructure::Reserve(size_t n) { pool_.reserve(pool_.size() + n); }

void TPDFStructure::Reset() {
  precisionMask_ = "0.0000";
  precision_ = 4;
  commonNames_.clear();
  pool_.clear();
  live_ = 0;
}

void TPDFStructure::SetPrecision(int32_t decimals) {
  precision_ = std::clamp(decimals, 2, 8);
  precisionMask_ = "0." + std::string(static_cast<size_t>(precision_), '0');
}

}  // namespace lumipage
