#pragma once
// One PDF document in memory: its indirect objects, parsed from the loaded file text on first
// use, trailer and version, the cache of the object stream read last, the temporary store, and
// what protects it (objects are decrypted as they are read). The units that work on a whole
// document sit above it and take it: TPDFLoader reads a file into it through TakeFileText,
// TakeFile and TakeObjects, TPDFWriter writes it out, TPDFDocumentSecurity opens, protects and
// unprotects it; all through the public accessors.
#include <cstdint>
#include <fstream>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "pdf/PDFCodes.h"
#include "pdf/PDFIndObj.h"
#include "pdf/PDFObjectStreams.h"
#include "pdf/PDFSecurity.h"
#include "pdf/PDFStructure.h"

namespace lumipage {

// What reading a file tells about it beside its objects, taken by the document whole
// (TPDFDocument::TakeFile) whenever the loader's reading of it changes.
struct TLoadedFile {
  std::string Version;
  // Made in the document's structure.
  TPDFDictionary* Trailer = nullptr;
  // Where cross-reference sections (or, in a rebuilt table, tables and trailers) start.
  std::vector<int32_t> SectionOffsets;
  bool Repaired = false;
  bool Linearized = false;
  bool EmptyPageTree = false;
};

class TPDFDocument final : public TPDFIndObjOwner {
 public:
  using ProgressCallback = std::function<void(int percent)>;

  TPDFDocument();
  ~TPDFDocument();
  TPDFDocument(const TPDFDocument&) = delete;
  TPDFDocument& operator=(const TPDFDocument&) = delete;

  // Structure reset, new empty trailer, no objects, no file text.
  void Reset();
  // A blank one-page document: pages (1), page (2), catalog (3), Info (4), /ID. Always true.
  bool NewDocument();

  // Makes value a new indirect object numbered one above the highest number; /Size follows.
  TPDFIndObj* AddIndirect(TPDFObject* value);
  // AddIndirect, then a new reference to the object.
  TPDFIndRef* MakeIndirect(TPDFObject* value);
  // The first object with that number and generation, or nullptr.
  [[nodiscard]] TPDFIndObj* FindIndirect(int32_t number, int32_t generation) const;
  // The object's value, parsed from its text on first use; nullptr for no object.
  TPDFObject* GetValue(TPDFIndObj* object) override;

  // The trailer's /Root, created as a new indirect dictionary when missing.
  TPDFDictionary* Catalog();
  // The catalog's /Pages, or nullptr when it is not a dictionary.
  TPDFDictionary* PagesDictionary();
  // The trailer's /Info, created as a new indirect dictionary when missing.
  TPDFDictionary* InfoDictionary();
  // Sets (or with empty text removes) one Info entry; nothing on a protected document.
  void SetInfo(std::string_view key, std::string_view text);
  // The Info dictionary has the entry with a value (of any kind, read or not); a null or a
  // reference to no object is no entry. Creates nothing.
  [[nodiscard]] bool HasInfo(std::string_view key);
  // One Info entry as Windows-1252 text; empty when absent or unreadable.
  [[nodiscard]] std::string GetInfo(std::string_view key);
  void SetVersion(std::string version);
  [[nodiscard]] const std::string& Version() const { return version_; }
  [[nodiscard]] bool VersionSet() const { return versionSet_; }
  // The trailer's /ID array, made when missing: one MD5 hex string held twice.
  TPDFArray* EnsureID();

  // Temporary object store: keeps the text of unloaded objects out of memory. Setting it
  // deletes any file of that name and creates it empty; false leaves no store set.
  [[nodiscard]] bool SetTempStore(const std::string& fileName);
  // Closes and deletes the store file.
  void ClearTempStore();
  [[nodiscard]] bool HasTempStore() const { return tempStore_.is_open(); }
  // Appends one record (number, length, text).
  [[nodiscard]] bool StoreText(int32_t number, std::string_view text) override;
  // The text of the object's record: searched onwards from the last record read, then from
  // the start; empty when absent.
  [[nodiscard]] std::string ReadStoredText(int32_t number) override;

  [[nodiscard]] TPDFStructure& Structure() override { return *structure_; }
  [[nodiscard]] TPDFDictionary* Trailer() const { return trailer_; }
  [[nodiscard]] size_t ObjectCount() const { return objects_.size(); }
  [[nodiscard]] TPDFIndObj* ObjectAt(size_t index) const {
    return index < objects_.size() ? objects_[index].get() : nullptr;
  }
  [[nodiscard]] int32_t HighestNumber() const { return highestNumber_; }
  [[nodiscard]] const std::string& FileText() const override { return fileText_; }

  // The text of an object that lives in an object stream: "n g obj" CR and its bytes, or
  // "n g obj" CR "null" CR "endobj" when the stream cannot give it.
  [[nodiscard]] std::string ObjectStreamText(const TPDFIndObj& object) override;

  // The bytes of one object inside its object stream; false when the stream cannot give them.
  [[nodiscard]] bool ObjectStreamBytes(const TPDFIndObj& object, std::string_view& bytes);
  // Returns an object parsed from the loaded file to its unparsed state, its value freed; false
  // (nothing changed) when its text is not in the file as loaded or the document is protected.
  bool DropParsedValue(TPDFIndObj& object);
  // Frees the decoded object stream.
  void ReleaseObjectStreamCache() { objectStreams_.Release(); }

  // Reset, then the bytes become the file text that unparsed objects point into.
  void TakeFileText(std::string bytes);
  // What the loader read of the file beside its objects; TakeFile replaces it whole (and the
  // protection is read again from the trailer it names).
  [[nodiscard]] TLoadedFile File() const;
  void TakeFile(TLoadedFile file);
  // Replaces every object with the loader's table, as read or rebuilt.
  void TakeObjects(std::vector<std::unique_ptr<TPDFIndObj>> objects);
  [[nodiscard]] bool Linearized() const { return linearized_; }
  [[nodiscard]] const std::vector<int32_t>& SectionOffsets() const { return sectionOffsets_; }
  // Makes the object and everything reachable from it readable in decrypted form.
  void DecryptReachable(int32_t number, int32_t generation);

  // Standard: the standard security handler (RC4 or AES: /V 1 or 2 with /R 2 or 3, /V 4 /R 4,
  // /V 5 with /R 5 or 6); Unsupported: any other protection.
  [[nodiscard]] TSecurityState SecurityState();
  // Key length in bits of the document's protection; 0 when unprotected.
  [[nodiscard]] int EncryptionStrength();
  // What the password opens; a password that opens the document (User, Owner or Both) becomes
  // the open password, any other forgets it. The page tree is not looked at.
  TPasswordResult ApplyPassword(std::string_view password);
  // Sets the trailer's /Encrypt (nullptr removes it): the protection is read from it anew.
  void SetEncryption(TPDFObject* entry);
  // The open password ("!" and the password), empty when no password opened the document.
  [[nodiscard]] const std::string& OpenPassword() const { return security_.OpenPassword; }
  // A key is at hand: a password opened the protected document, or it has just been protected.
  [[nodiscard]] bool HasSecurityKey() const { return !security_.ActiveKey.empty(); }
  // The standard security handler's parameters and keys, for protecting and unprotecting.
  [[nodiscard]] TPDFSecurity& SecurityHandler() { return security_; }
  // Unprotected, no password known.
  void ClearSecurity();
  // The object is the trailer's /Encrypt dictionary, which is never encrypted.
  [[nodiscard]] bool IsEncryptObject(const TPDFIndObj& object);
  // The first string of /ID, read and never made (an ID added to a protected file would
  // change the key readers compute).
  [[nodiscard]] std::string FirstID();
  // Decrypts one object in place with its object key when the document is protected and open.
  void DecryptObject(TPDFIndObj& object);
  // An object held decrypted is encrypted again, so that it is written as the file states it.
  void EncryptForWriting(TPDFIndObj& object);
  // Removes an object from the document, freeing its value.
  void RemoveIndirect(TPDFIndObj* object);

  ProgressCallback OnProgress;
  // Off: a file whose cross-reference data does not hold is refused instead of rebuilt (the
  // check of a file just written).
  bool AllowRepair = true;
  // Off: loading and opening with a password leave the page tree unwalked and unmended, for a
  // reader that walks it itself (the check of a file just written).
  bool WalkPagesOnLoad = true;
  // The object table was rebuilt by scanning the file.
  [[nodiscard]] bool Repaired() const { return repaired_; }
  // The page tree, as the file gives it, lists no page at all: a document without pages, not
  // one whose pages could not be found.
  [[nodiscard]] bool EmptyPageTree() const { return emptyPageTree_; }

 private:
  void ParseObject(TPDFIndObj& object);
  void AppendObject(std::unique_ptr<TPDFIndObj> object);
  // No objects, no numbers in use.
  void ClearObjects();
  // The password against the stored entries with the ID readers would use (Fails, User, Owner
  // or Both). The key it unlocks is left in the handler's FileKey.
  [[nodiscard]] TPasswordResult CheckPassword(std::string_view password);
  // Reads the trailer's /Encrypt into the handler.
  [[nodiscard]] TSecurityState ReadSecurityState();
  [[nodiscard]] TPDFArray* MakeID();

  std::string version_;
  bool versionSet_ = false;
  std::string fileText_;
  std::unique_ptr<TPDFStructure> structure_;
  std::vector<std::unique_ptr<TPDFIndObj>> objects_;
  // By number, one above the index in objects_ of the first object of that number (0 for
  // none), and the highest number: finding and adding stay O(1). Four bytes a number, as
  // the saved table needs a line for each number up to the highest anyway.
  std::vector<uint32_t> byNumber_;
  int32_t highestNumber_ = 0;
  TPDFDictionary* trailer_ = nullptr;
  // Nesting of on-demand parses (a /Length behind a reference parses another object).
  int parseNesting_ = 0;

  TPDFObjectStreamCache objectStreams_;

  std::vector<int32_t> sectionOffsets_;
  bool repaired_ = false;
  bool emptyPageTree_ = false;
  bool linearized_ = false;
  TPDFSecurity security_;
  // The state is asked for with every object parsed and every object written: /Encrypt is read
  // once, and again only after it changes.
  TSecurityState securityState_ = TSecurityState::Unprotected;
  bool securityStateKnown_ = false;

  std::string tempStoreName_;
  std::fstream tempStore_;
  std::streamoff tempStoreReadPos_ = 0;
};

}  // namespace lumipage
