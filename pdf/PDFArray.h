#pragma once
#include <string_view>

#include "pdf/PDFObject.h"

namespace lumipage {

class TPDFArray final : public TPDFObject {
 public:
  explicit TPDFArray(TPDFStructure& owner) : TPDFObject(owner, kKindArray) {}

  // "[ ", each item and a space, a line feed whenever the text has grown by more than 80
  // characters since the start or the last break, "]".
  void AppendText(std::string& out, int depth) const override;
  void ShiftNumbers(int32_t n) override;
  [[nodiscard]] bool Refers(const TPDFObject* value) const override;
  void Children(std::vector<TPDFObject*>& out) const override;

  void Add(TPDFObject* value);
  // Shifts the rest up; an index beyond the end is ignored.
  void Insert(int index, TPDFObject* value);
  [[nodiscard]] int Count() const { return static_cast<int>(items_.size()); }
  [[nodiscard]] TPDFObject* Item(int index) const;
  // The item goes to DeleteObject; later items shift down.
  void Delete(int index);
  // Deletes the first item that is value itself, or (byText) whose text equals value's text.
  void Remove(const TPDFObject* value, bool byText);
  void Move(int from, int to);
  // The old item goes to DeleteObject.
  void Replace(int index, TPDFObject* value);
  // The old item stays in the pool.
  void SetItem(int index, TPDFObject* value);
  [[nodiscard]] int IndexOfText(const TPDFObject* value) const;
  [[nodiscard]] bool ContainsText(std::string_view text) const;
  void Clear();
  // Room for at least n more items without reallocation.
  void Reserve(int n);

 private:
  std::vector<TPDFObject*> items_;
};

}  // namespace lumipage
