#pragma once
// One indirect object of a document: its number, its value once parsed, and where its text
// lives while it is not (the loaded file, an object stream, the cache or the temporary store).
#include <cstdint>
#include <memory>
#include <string>

namespace lumipage {

class TPDFDocument;
class TPDFObject;

class TPDFIndObj {
 public:
  explicit TPDFIndObj(TPDFDocument& document) : document_(&document) {}
  TPDFIndObj(const TPDFIndObj&) = delete;
  TPDFIndObj& operator=(const TPDFIndObj&) = delete;

  [[nodiscard]] TPDFDocument& Document() const { return *document_; }

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
  TPDFDocument* document_;
};

}  // namespace lumipage
