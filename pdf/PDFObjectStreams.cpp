#include "pdf/PDFObjectStreams.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "pdf/PDFStructure.h"

namespace lumipage {

bool ParseObjectStreamHeader(std::string_view data, int32_t first, std::vector<double>& header) {
  header.clear();
  if (first <= 0 || static_cast<size_t>(first) > data.size()) return false;
  // The header pairs are parsed in a scratch pool: the document's pool keeps nothing.
  TPDFStructure scratch;
  std::string text = "[ ";
  text += data.substr(0, static_cast<size_t>(first));
  text += " ]";
  auto* pairs = As<TPDFArray>(scratch.Parse(text));
  if (pairs == nullptr) return false;
  header.reserve(static_cast<size_t>(pairs->Count()));
  for (int i = 0; i < pairs->Count(); ++i) {
    auto* v = As<TPDFNumeric>(pairs->Item(i));
    header.push_back(v == nullptr ? std::numeric_limits<double>::quiet_NaN() : v->Value);
  }
  return true;
}

bool TPDFObjectStreamCache::Fill(const TPDFIndObj& holder, TPDFStream* stream) {
  if (stream == nullptr) return false;
  TPDFDictionary* dict = stream->Dictionary();
  // The cross-reference data says it holds objects: a /Type of another name does not keep
  // readers from taking them out of it, only a cross-reference stream's does.
  if (dict->TypeName() == "XRef") return false;
  auto* first = As<TPDFNumeric>(dict->Get("First", true));
  auto* count = As<TPDFNumeric>(dict->Get("N", true));
  if (first == nullptr || count == nullptr || first->Value <= 0 || count->Value <= 0) return false;

  // Objects of one stream are mostly read one after another: its decoded data and header are
  // kept for the next read. Only one stream is kept at a time.
  if (holder_ == &holder && stream_ == stream && raw_ == stream->RawData().data() &&
      rawSize_ == stream->RawData().size())
    return true;
  Release();
  holder_ = &holder;
  stream_ = stream;
  raw_ = stream->RawData().data();
  rawSize_ = stream->RawData().size();
  data_ = stream->Decode();
  first_ = first->AsInteger();
  count_ = count->AsInteger();
  countValue_ = count->Value;
  valid_ = ParseObjectStreamHeader(data_, first_, header_);
  return true;
}

void TPDFObjectStreamCache::HolderDropped(const TPDFIndObj& holder) {
  if (holder_ != &holder) return;
  stream_ = nullptr;
  raw_ = nullptr;
  dropped_ = true;
}

bool TPDFObjectStreamCache::IndexOf(const TPDFIndObj& object, size_t& index) {
  // The cross-reference entry's index is taken when the header names the object there; else
  // the object is looked up by its number in the header (an index that is off, or a stream
  // that lists itself first, as qpdf reads them).
  if (object.StreamIndex >= 0 && static_cast<double>(object.StreamIndex) < countValue_ &&
      header_[2 * static_cast<size_t>(object.StreamIndex)] == object.Number) {
    index = static_cast<size_t>(object.StreamIndex);
    return true;
  }
  if (byNumber_.empty()) {
    byNumber_.reserve(static_cast<size_t>(count_));
    for (size_t i = 0; i < static_cast<size_t>(count_); ++i)
      if (!std::isnan(header_[2 * i])) byNumber_.emplace_back(header_[2 * i], i);
    std::stable_sort(byNumber_.begin(), byNumber_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  }
  const auto it = std::lower_bound(byNumber_.begin(), byNumber_.end(), static_cast<double>(object.Number),
                                   [](const auto& entry, double number) { return entry.first < number; });
  if (it == byNumber_.end() || it->first != object.Number) return false;
  index = it->second;
  return true;
}

bool TPDFObjectStreamCache::Bytes(const TPDFIndObj& object, std::string_view& bytes) {
  const int64_t n = count_;
  if (!valid_ || static_cast<int64_t>(header_.size()) < 2 * n) return false;
  size_t index = 0;
  if (!IndexOf(object, index)) return false;
  const double off = header_[2 * index + 1];
  if (!(off >= 0) || off > static_cast<double>(data_.size())) return false;
  size_t end = data_.size();
  if (static_cast<int64_t>(index) < n - 1) {
    const double next = header_[2 * index + 3];
    if (next >= 0 && next <= static_cast<double>(data_.size()))
      end = std::min(data_.size(), static_cast<size_t>(first_) + static_cast<size_t>(next));
  }
  const size_t start = static_cast<size_t>(first_) + static_cast<size_t>(off);
  if (start > end) return false;
  bytes = std::string_view(data_).substr(start, end - start);
  return true;
}

}  // namespace lumipage
