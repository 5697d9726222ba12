#pragma once
// A name dictionary with a single /Names array of (string key, reference) pairs; no /Kids.
#include <string>
#include <string_view>

#include "pdf/PDFDictionary.h"
#include "pdf/PDFIndRef.h"

namespace lumipage {

class TPDFArray;

class TPDFNameTree {
 public:
  // An empty dictionary receives /Names [].
  explicit TPDFNameTree(TPDFDictionary* dictionary);

  // Number of string keys.
  [[nodiscard]] int Count() const;
  // The reference stored after the key, or nullptr.
  [[nodiscard]] TPDFIndRef* Find(std::string_view key) const;
  [[nodiscard]] bool Contains(std::string_view key) const;
  // The n-th key (0-based), empty when out of range.
  [[nodiscard]] std::string Key(int n) const;
  // Inserts the pair after the last key that sorts (byte-wise) before it.
  void Insert(std::string_view key, TPDFIndRef* reference);

 private:
  [[nodiscard]] TPDFArray* Names() const;
  TPDFDictionary* dictionary_;
};

}  // namespace lumipage
