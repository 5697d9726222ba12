#pragma once
// One PDF document in memory: its indirect objects, trailer, version and the loaded file text
// that unparsed objects still point into; and the writer that saves it as a complete file
// with one classic cross-reference table.
#include <cstdint>
#include <fstream>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "pdf/PDFIndObj.h"
#include "pdf/PDFStructure.h"

namespace lumipage {

// One cross-reference record per object number; the reader fills them, the writer reuses them.
struct TPDFXRefRecord {
  int32_t Number = 0;
  int32_t Generation = 0;
  int32_t Offset = 0;
  bool InUse = false;
  int32_t StreamNumber = 0;
  int32_t StreamIndex = 0;
  bool Compressed = false;
};

class TPDFDocument {
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
  TPDFObject* GetValue(TPDFIndObj* object);

  // The trailer's /Root, created as a new indirect dictionary when missing.
  TPDFDictionary* Catalog();
  // The catalog's /Pages, or nullptr when it is not a dictionary.
  TPDFDictionary* PagesDictionary();
  // The trailer's /Info, created as a new indirect dictionary when missing.
  TPDFDictionary* InfoDictionary();
  // The indirect object named by /Info, created when /Info is not a reference to one.
  TPDFIndObj* InfoObject();
  // Sets (or with empty text removes) one Info entry; nothing on a protected document.
  void SetInfo(std::string_view key, std::string_view text);
  // One Info entry as Windows-1252 text; empty when absent or unreadable.
  [[nodiscard]] std::string GetInfo(std::string_view key);
  void SetVersion(std::string version);
  [[nodiscard]] const std::string& Version() const { return version_; }
  [[nodiscard]] bool VersionSet() const { return versionSet_; }
  // The trailer's /ID array, made when missing: one MD5 hex string held twice.
  TPDFArray* EnsureID();

  // Writes the whole document; false (with what was written left in the stream) on failure.
  [[nodiscard]] bool SaveToStream(std::ostream& out);
  [[nodiscard]] bool SaveToFile(const std::string& fileName);
  // The saved bytes, or empty when writing failed.
  [[nodiscard]] std::string SaveToString();

  // Temporary object store: keeps the text of unloaded objects out of memory. Setting it
  // deletes any file of that name and creates it empty; false leaves no store set.
  [[nodiscard]] bool SetTempStore(const std::string& fileName);
  // Closes and deletes the store file.
  void ClearTempStore();
  [[nodiscard]] bool HasTempStore() const { return tempStore_.is_open(); }
  // Appends one record (number, length, text).
  [[nodiscard]] bool StoreText(int32_t number, std::string_view text);
  // The text of the object's record: searched onwards from the last record read, then from
  // the start; empty when absent.
  [[nodiscard]] std::string ReadStoredText(int32_t number);

  [[nodiscard]] TPDFStructure& Structure() { return *structure_; }
  [[nodiscard]] TPDFDictionary* Trailer() const { return trailer_; }
  [[nodiscard]] size_t ObjectCount() const { return objects_.size(); }
  [[nodiscard]] TPDFIndObj* ObjectAt(size_t index) const {
    return index < objects_.size() ? objects_[index].get() : nullptr;
  }
  [[nodiscard]] int32_t HighestNumber() const { return highestNumber_; }
  [[nodiscard]] const std::string& FileText() const { return fileText_; }
  [[nodiscard]] const std::vector<TPDFXRefRecord>& Records() const { return records_; }

  // The text of an object that lives in an object stream: "n g obj" CR and its bytes, or
  // "n g obj" CR "null" CR "endobj" when the stream cannot give it.
  [[nodiscard]] std::string ObjectStreamText(const TPDFIndObj& object);

  // 0 unprotected, 1 standard security handler (RC4, /V 1 or 2, /R 2 or 3), 2 any other.
  [[nodiscard]] int SecurityState();

  ProgressCallback OnProgress;

 private:
  // The text the writer writes for one object; empty for none.
  [[nodiscard]] std::string SaveText(TPDFIndObj& object);
  void ParseObject(TPDFIndObj& object);
  void AppendObject(std::unique_ptr<TPDFIndObj> object);
  [[nodiscard]] TPDFArray* MakeID();

  std::vector<TPDFXRefRecord> records_;
  std::string version_;
  bool versionSet_ = false;
  std::string fileText_;
  std::unique_ptr<TPDFStructure> structure_;
  std::vector<std::unique_ptr<TPDFIndObj>> objects_;
  // First object of each number, and the highest number: finding and adding stay O(1).
  std::unordered_map<int32_t, TPDFIndObj*> byNumber_;
  int32_t highestNumber_ = 0;
  TPDFDictionary* trailer_ = nullptr;
  // Nesting of on-demand parses (a /Length behind a reference parses another object).
  int parseNesting_ = 0;

  std::string tempStoreName_;
  std::fstream tempStore_;
  std::streamoff tempStoreReadPos_ = 0;
};

}  // namespace lumipage
