#pragma once
// One indirect object of a document: its number, its value once parsed, and where its text
// lives while it is not (the loaded file, an object stream, the cache or the temporary store).
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace lumipage {

class TPDFIndObj;
class TPDFObject;
class TPDFStructure;

// What an indirect object asks of the document that owns it: its value, and the places its text
// may live. The document implements it; the object needs no more of it.
class TPDFIndObjOwner {
 public:
  // The object's value, parsed from its text on first use; nullptr for no object.
  virtual TPDFObject* GetValue(TPDFIndObj* object) = 0;
  [[nodiscard]] virtual TPDFStructure& Structure() = 0;
  // The loaded file text that unparsed objects point into.
  [[nodiscard]] virtual const std::string& FileText() const = 0;
  // The text of an object that lives in an object stream.
  [[nodiscard]] virtual std::string ObjectStreamText(const TPDFIndObj& object) = 0;
  // The temporary store: appending one object's text (false without a store) and reading it back.
  [[nodiscard]] virtual bool StoreText(int32_t number, std::string_view text) = 0;
  [[nodiscard]] virtual std::string ReadStoredText(int32_t number) = 0;

 protected:
  ~TPDFIndObjOwner() = default;
};

class TPDFIndObj {
 public:
  explicit TPDFIndObj(TPDFIndObjOwner& document) : document_(&document) {}
  TPDFIndObj(const TPDFIndObj&) = delete;
  TPDFIndObj& operator=(const TPDFIndObj&) = delete;

  [[nodiscard]] TPDFIndObjOwner& Document() const { return *document_; }

  // "n g obj" LF, the value's text, LF unless it ends with one, "endobj" LF (parsed on demand).
  [[nodiscard]] std::string ObjectText();
  // The object's text as it stands in the loaded file, in its object stream, in the cache or
  // in the temporary store; empty for an object created in memory.
  [[nodiscard]] std::string RawText();
  // Drops the parsed value, keeping its complete text in the cache or the temporary store.
  void Unload();

  // Pointers first, then numbers, then flags: an object table entry stays at 56 bytes.
  TPDFObject* Value = nullptr;
  // Held apart: one pointer in every object instead of an empty string.
  std::unique_ptr<std::string> CachedText;
  int32_t Number = 0;
  int32_t Generation = 0;
  int32_t Offset = 0;  // in the loaded file text; 0 for objects created in memory
  int32_t Length = 0;
  int32_t StreamNumber = 0;
  int32_t StreamIndex = 0;
  bool Parsed = false;
  bool Decrypted = false;   // held in clear text in a protected document
  bool TextCached = false;  // unloaded: text in CachedText or the temporary store
  bool Swapped = false;     // the unloaded text lives in the temporary store
  bool InObjectStream = false;

 private:
  TPDFIndObjOwner* document_;
};

}  // namespace lumipage
