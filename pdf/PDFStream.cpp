#include "pdf/PDFStream.h"

#include <iterator>

#include "pdf/PDFArray.h"
#include "pdf/PDFDictionary.h"
#include "pdf/PDFFilters.h"
#include "pdf/PDFIndRef.h"
#include "pdf/PDFLimits.h"
#include "pdf/PDFLZWDecompressor.h"
#include "pdf/PDFName.h"
#include "pdf/PDFNumeric.h"
#include "pdf/PDFStructure.h"

namespace lumipage {

TPDFStream::TPDFStream(TPDFStructure& owner, TPDFDictionary* dictionary, std::string rawData)
    : TPDFObject(owner, kKindStream), dictionary_(dictionary), rawData_(std::move(rawData)) {
  Hold(dictionary_);
}

void TPDFStream::AppendText(std::string& out, int depth) const {
  if (depth > kMaxTextDepth) throw TextDepthError{};
  dictionary_->AppendText(out, depth + 1);
  out.reserve(out.size() + rawData_.size() + 20);
  out += "stream\n";
  out += rawData_;
  out += "\nendstream";
}

void TPDFStream::ShiftNumbers(int32_t n) { dictionary_->ShiftNumbers(n); }

bool TPDFStream::Refers(const TPDFObject* value) const {
  return value == dictionary_ || dictionary_->Refers(value);
}

void TPDFStream::Children(std::vector<TPDFObject*>& out) const { out.push_back(dictionary_); }

namespace {

// Filter parameters are numbers, possibly behind references, rounded.
int32_t Param(const TPDFDictionary* parms, std::string_view key, int32_t def) {
  return parms == nullptr ? def : parms->GetInteger(key, def);
}

TPDFDictionary* ResolveDictionary(TPDFObject* v) {
  if (auto* ref = As<TPDFIndRef>(v)) v = ref->Resolve();
  return As<TPDFDictionary>(v);
}

}  // namespace

std::string TPDFStream::Decode(bool* intact) const {
  if (intact != nullptr) *intact = true;
  std::string data = rawData_;
  std::vector<std::string> filters;
  TPDFObject* f = dictionary_->Get("Filter", true);
  if (auto* name = As<TPDFName>(f)) {
    filters.push_back(name->Value);
  } else if (auto* list = As<TPDFArray>(f)) {
    for (int i = 0; i < list->Count(); ++i)
      if (auto* n = As<TPDFName>(list->Item(i))) filters.push_back(n->Value);
  }
  if (filters.empty()) return data;

  std::vector<TPDFDictionary*> parms(filters.size(), nullptr);
  TPDFObject* p = dictionary_->Get("DecodeParms", true);
  if (p == nullptr) p = dictionary_->Get("DP", true);
  if (auto* d = As<TPDFDictionary>(p)) {
    parms[0] = d;
  } else if (auto* list = As<TPDFArray>(p)) {
    for (int i = 0; i < list->Count() && static_cast<size_t>(i) < parms.size(); ++i)
      parms[static_cast<size_t>(i)] = ResolveDictionary(list->Item(i));
  }

  for (size_t i = 0; i < filters.size(); ++i) {
    const std::string& name = filters[i];
    const TPDFDictionary* parm = parms[i];
    if (name == "FlateDecode" || name == "Fl") {
      bool whole = true;
      if (parm != nullptr) {
        data = FlateDecodePredicted(data, Param(parm, "Predictor", 1), Param(parm, "Colors", 1),
                                    Param(parm, "BitsPerComponent", 8), Param(parm, "Columns", 1), kMaxDecodedSize,
                                    &whole);
      } else {
        data = FlateDecode(data, kMaxDecodedSize, &whole);
      }
      if (!whole && intact != nullptr) *intact = false;
    } else if (name == "ASCII85Decode") {
      bool whole = true;
      data = ASCII85Decode(data, &whole);
      if (!whole && intact != nullptr) *intact = false;
    } else if (name == "LZWDecode") {
      TPDFLZWDecompressor lzw;
      lzw.FillOrder = 1;
      lzw.InitialCodeSize = 9;
      const auto* early = parm == nullptr ? nullptr : As<TPDFNumeric>(parm->Get("EarlyChange", true));
      lzw.EarlyChange = early == nullptr || early->Value == 1.0;
      data = lzw.Decompress(data);
      if (!lzw.Intact && intact != nullptr) *intact = false;
    }
    // Any other filter leaves the data encoded for the next one.
  }
  return data;
}

void TPDFStream::SetRawData(std::string bytes) {
  rawData_ = std::move(bytes);
  const double length = static_cast<double>(rawData_.size());
  if (auto* n = As<TPDFNumeric>(dictionary_->Get("Length"))) {
    n->Value = length;
  } else {
    dictionary_->Put("Length", Owner().MakeNumber(length));
  }
}

void TPDFStream::SetData(std::string_view bytes, bool compress) {
  // Stale parameters would make readers apply a predictor to data that has none.
  dictionary_->Delete("DecodeParms");
  dictionary_->Delete("DP");
  // No data is no Flate data: an empty stream goes without a filter.
  if (compress && !bytes.empty()) {
    SetRawData(FlateEncode(bytes));
    dictionary_->Delete("Filter");
    dictionary_->Put("Filter", Owner().CommonName("FlateDecode"));
  } else {
    SetRawData(std::string(bytes));
    dictionary_->Delete("Filter");
  }
}

void TPDFStream::LoadData(std::istream& in, bool compress) {
  in.clear();
  in.seekg(0);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!bytes.empty()) SetData(bytes, compress);
  SetRawData(std::move(rawData_));
}

void TPDFStream::SetDictionary(TPDFDictionary* dictionary) {
  if (dictionary == nullptr || dictionary == dictionary_) return;
  TPDFDictionary* old = dictionary_;
  Hold(dictionary);
  dictionary_ = dictionary;
  Unhold(old);
  Owner().DeleteObject(old);
}

}  // namespace lumipage
