#pragma once
#include <optional>
#include <string_view>

#include "pdf/PDFObject.h"

namespace lumipage {

class TPDFName;

class TPDFDictionary final : public TPDFObject {
 public:
  struct Entry {
    TPDFName* Key = nullptr;
    TPDFObject* Value = nullptr;
  };

  explicit TPDFDictionary(TPDFStructure& owner) : TPDFObject(owner, kKindDictionary) {}

  // "<<" LF, one line per entry ("% bug " for an entry that cannot be written), ">>" LF.
  void AppendText(std::string& out, int depth) const override;
  void ShiftNumbers(int32_t n) override;
  [[nodiscard]] bool Refers(const TPDFObject* value) const override;
  void Children(std::vector<TPDFObject*>& out) const override;

  // Replaces the value of an existing key in place (the old value stays in the pool) or
  // appends the pair; the key comes from CommonName. The dictionary itself is never put.
  void Put(std::string_view key, TPDFObject* value);
  // Index of the last entry with that key, -1 when absent.
  [[nodiscard]] int IndexOf(std::string_view key) const;
  // The value or nullptr; with resolve a reference gives the referenced value.
  [[nodiscard]] TPDFObject* Get(std::string_view key, bool resolve = false) const;
  // Drops the entry; nothing is freed.
  void Remove(std::string_view key);
  // Drops the entry and frees what only it held.
  void Delete(std::string_view key);
  // Drops every entry, offering keys and values to DeleteObject.
  void Clear();
  // The other's pairs (values shared within one pool, copied through text across pools).
  void Assign(const TPDFDictionary& other);
  [[nodiscard]] int Count() const { return static_cast<int>(entries_.size()); }
  // The pair, or two nullptrs when out of range.
  [[nodiscard]] Entry EntryAt(int index) const;
  // The value of /Type when it is a name, otherwise empty.
  [[nodiscard]] std::string TypeName() const;
  // A number (reference resolved) as AsInteger, anything else the default.
  [[nodiscard]] int32_t GetInteger(std::string_view key, int32_t defaultValue) const;
  // A name's value or a string's bytes (reference resolved), anything else empty.
  [[nodiscard]] std::string GetText(std::string_view key) const;

  // Appends a pair as read by the scanner, without looking for an existing key.
  void AppendEntry(TPDFName* key, TPDFObject* value);

 private:
  // Takes the entry out and drops the holds it had; nothing when the key is absent.
  std::optional<Entry> TakeOut(std::string_view key);

  std::vector<Entry> entries_;
};

}  // namespace lumipage
