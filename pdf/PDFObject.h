#pragma once
// Base of the nine kinds of PDF value. Every value is created by, and belongs to, one
// TPDFStructure pool; everything else holds plain observer pointers.
#include <cstdint>
#include <string>
#include <vector>

namespace lumipage {

class TPDFStructure;

class TPDFObject {
 public:
  // Class tags (Kind): null, boolean, number and string share 0.
  static constexpr uint8_t kKindPlain = 0;
  static constexpr uint8_t kKindDictionary = 'D';
  static constexpr uint8_t kKindName = 'N';
  static constexpr uint8_t kKindArray = 'A';
  static constexpr uint8_t kKindStream = 'S';
  static constexpr uint8_t kKindIndRef = 'I';

  TPDFObject(const TPDFObject&) = delete;
  TPDFObject& operator=(const TPDFObject&) = delete;
  virtual ~TPDFObject() = default;

  [[nodiscard]] TPDFStructure& Owner() const { return *owner_; }
  [[nodiscard]] bool IsIndirect() const { return isIndirect_; }
  [[nodiscard]] int32_t ObjectNumber() const { return objectNumber_; }
  [[nodiscard]] int32_t Generation() const { return generation_; }
  [[nodiscard]] uint8_t Kind() const { return kind_; }

  void MarkIndirect(int32_t number, int32_t generation);
  // The value stops being the body of an indirect object (the document drops it).
  void ClearIndirect();

  // The value in PDF syntax.
  [[nodiscard]] std::string ToText() const;
  // Appends the value's syntax to out. depth counts enclosing containers; past kMaxTextDepth
  // (only reachable through cycles built in code) a TextDepthError is thrown and the nearest
  // dictionary writes its failing entry as "% bug ".
  virtual void AppendText(std::string& out, int depth) const = 0;

  // Virtual constructor: a new, empty value of the same class in owner's pool.
  [[nodiscard]] TPDFObject* Create(TPDFStructure& owner) const;

  // Frees the value when nothing else holds it, together with every direct child that only
  // it held (recursively); values still held by another container, indirect values and shared
  // names survive.
  virtual void Release();
  // Adds n to the object number of every indirect reference inside the value.
  virtual void ShiftNumbers(int32_t n);
  // True when value is a direct child of this value.
  [[nodiscard]] virtual bool Refers(const TPDFObject* value) const;
  // Direct children (keys and values, items, a stream's dictionary).
  virtual void Children(std::vector<TPDFObject*>& out) const;

 protected:
  TPDFObject(TPDFStructure& owner, uint8_t kind) : owner_(&owner), kind_(kind) {}
  static void Hold(TPDFObject* v) {
    if (v != nullptr) ++v->holders_;
  }
  static void Unhold(TPDFObject* v) {
    if (v != nullptr) --v->holders_;
  }

 private:
  friend class TPDFStructure;
  TPDFStructure* owner_;
  bool isIndirect_ = false;
  int32_t objectNumber_ = 0;
  int32_t generation_ = 0;
  uint8_t kind_;
  int32_t holders_ = 0;
  size_t poolSlot_ = 0;
};

// Raised inside AppendText past kMaxTextDepth; never leaves ToText.
struct TextDepthError {};

// Checked down-cast: the value as T, or nullptr.
template <class T>
[[nodiscard]] T* As(TPDFObject* value) {
  return dynamic_cast<T*>(value);
}
template <class T>
[[nodiscard]] const T* As(const TPDFObject* value) {
  return dynamic_cast<const T*>(value);
}

}  // namespace lumipage
