#pragma once
// The owner pool of PDF values: creates them, frees them, and scans PDF syntax into them.
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "pdf/PDFArray.h"
#include "pdf/PDFBoolean.h"
#include "pdf/PDFDictionary.h"
#include "pdf/PDFIndRef.h"
#include "pdf/PDFName.h"
#include "pdf/PDFNull.h"
#include "pdf/PDFNumeric.h"
#include "pdf/PDFObject.h"
#include "pdf/PDFStream.h"
#include "pdf/PDFString.h"

namespace lumipage {

class TPDFStructure {
 public:
  // Resolves (reference, number, generation) to a value, or nullptr.
  using LookupHook = std::function<TPDFObject*(TPDFIndRef*, int32_t, int32_t)>;
  // Makes a value an indirect object; yields its number and generation.
  using RegisterHook = std::function<std::pair<int32_t, int32_t>(TPDFObject*)>;

  TPDFStructure();
  ~TPDFStructure();
  TPDFStructure(const TPDFStructure&) = delete;
  TPDFStructure& operator=(const TPDFStructure&) = delete;

  TPDFNull* MakeNull();
  TPDFBoolean* MakeBoolean(bool value);
  TPDFNumeric* MakeNumber(double value);
  // A new, unshared name.
  TPDFName* MakeName(std::string_view value);
  // For a common key name the first pooled name with that value when one exists; otherwise
  // a new name. Either way the name is marked shared.
  TPDFName* CommonName(std::string_view value);
  TPDFString* MakeString(std::string bytes, uint8_t mode = TPDFString::kLiteral);
  TPDFDictionary* MakeDictionary();
  TPDFArray* MakeArray();
  // Items 0 to lastIndex of values.
  TPDFArray* MakeArray(std::span<TPDFObject* const> values, int lastIndex);
  TPDFArray* MakeIntegerArray(std::span<const int32_t> values, int lastIndex);
  TPDFArray* MakeRealArray(std::span<const double> values, int lastIndex);
  // RawData = bytes, /Length = their count.
  TPDFStream* MakeStream(std::string bytes);
  TPDFIndRef* MakeReference(int32_t number, int32_t generation);
  // The first value in text, or nullptr.
  TPDFObject* Parse(std::string_view text);

  // Frees the value unless it is not pooled here, is a shared name, is held by a pooled
  // container or is the body of an indirect object.
  void DeleteObject(TPDFObject* value);
  // DeleteObject for each distinct value of the list.
  void DeleteObjects(std::vector<TPDFObject*> values);
  // The Release rule: the value, and then every child only it held, recursively.
  void ReleaseObject(TPDFObject* value);
  // Frees an indirect object's body that its document drops, with what only it held.
  void ReleaseIndirect(TPDFObject* value);

  // The first pooled name with that value, or nullptr.
  [[nodiscard]] TPDFName* FindName(std::string_view value);
  [[nodiscard]] size_t ObjectCount() const { return live_; }
  // Pooled values in creation order; nullptr out of range.
  [[nodiscard]] TPDFObject* ObjectAt(size_t index);
  void Reserve(size_t n);
  // Precision 4, mask "0.0000", every value freed.
  void Reset();

  [[nodiscard]] int32_t Precision() const { return precision_; }
  // Decimals written for numbers, kept between 2 and 8.
  void SetPrecision(int32_t decimals);
  [[nodiscard]] const std::string& PrecisionMask() const { return precisionMask_; }

  // A key name from the fixed list shared within one pool.
  [[nodiscard]] static bool IsCommonName(std::string_view value);

  LookupHook OnLookup;
  RegisterHook OnRegister;

 private:
  template <class T, class... Args>
  T* Add(Args&&... args);
  [[nodiscard]] bool Freeable(const TPDFObject* value) const;
  void Free(TPDFObject* value);
  void Compact();

  // Live values in creation order; freed slots hold nullptr until the next compaction.
  std::vector<std::unique_ptr<TPDFObject>> pool_;
  size_t live_ = 0;
  // Pooled names of each common value, in creation order.
  std::unordered_map<std::string, std::vector<TPDFName*>> commonNames_;
  std::string precisionMask_;
  int32_t precision_ = 4;
};

}  // namespace lumipage
