#pragma once
// Objects kept inside object streams: the header that says where each one starts, and the cache
// of the stream read last, which the document fills and through which it and its writer take
// their bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "pdf/PDFIndObj.h"

namespace lumipage {

class TPDFStream;

// The header of an object stream's decoded data: the numbers of its first `first` bytes, object
// number and offset in turn, NaN for an entry that is no number. False when they do not parse as
// numbers in a row or first lies outside the data.
[[nodiscard]] bool ParseObjectStreamHeader(std::string_view data, int32_t first, std::vector<double>& header);

class TPDFObjectStreamCache {
 public:
  // The holder's stream was decoded here before its parsed value was dropped: the cache still
  // serves it, and the holder need not be parsed again.
  [[nodiscard]] bool HoldsDropped(const TPDFIndObj& holder) const {
    return holder_ == &holder && dropped_ && !holder.Parsed;
  }
  // Decodes the holder's object stream (decrypted already) into the cache unless it is there
  // already; false when it is no object stream.
  [[nodiscard]] bool Fill(const TPDFIndObj& holder, TPDFStream* stream);
  // The bytes of one object inside the stream filled last; false when the stream cannot give
  // them.
  [[nodiscard]] bool Bytes(const TPDFIndObj& object, std::string_view& bytes);
  // Frees the decoded stream.
  void Release() { *this = TPDFObjectStreamCache(); }
  // The object is leaving the document: a cache of its stream goes with it.
  void Forget(const TPDFIndObj& holder) {
    if (holder_ == &holder) Release();
  }
  // The holder's parsed value was freed: a later parse must not pass for the cached one by
  // address, but the decoded data stays valid for it.
  void HolderDropped(const TPDFIndObj& holder);

 private:
  // The index of the object in the header: the cross-reference entry's when the header names the
  // object there, else looked up by its number; false when the header does not hold it.
  [[nodiscard]] bool IndexOf(const TPDFIndObj& object, size_t& index);

  const TPDFIndObj* holder_ = nullptr;
  // Set when the holder's value was dropped after decoding: the cache stays valid for it.
  bool dropped_ = false;
  const TPDFStream* stream_ = nullptr;
  const char* raw_ = nullptr;
  size_t rawSize_ = 0;
  std::string data_;
  std::vector<double> header_;
  int32_t first_ = 0;
  int64_t count_ = 0;
  double countValue_ = 0;
  bool valid_ = false;
  // Header positions sorted by object number, made on the first lookup by number.
  std::vector<std::pair<double, size_t>> byNumber_;
};

}  // namespace lumipage
