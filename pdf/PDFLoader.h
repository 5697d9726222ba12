#pragma once
// Reads a PDF file into a document: the header, the cross-reference data and the object table
// it gives (rebuilt by scanning the file when it does not hold), the trailer, and the page tree.
// Objects stay unparsed until the document first uses them.
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "pdf/PDFDocument.h"

namespace lumipage {

// How a load ended.
enum class TLoadResult {
  Loaded,
  ReadFailed,            // the bytes could not be read, or reading them failed part-way
  NoHeader,              // no "%PDF-" header in the first 1024 bytes, and no catalog found by scanning
  BrokenCrossReference,  // the cross-reference data does not hold, and repair is off
  NoCatalog,             // no catalog, not even among the objects found by scanning the file
  NoPages,               // the document holds no page, and none was found to rebuild the tree from
};

// Loading: the whole stream (or the bytes) becomes the document's file text; cross-reference
// data is read, objects stay unparsed until first used. False (and the document reset) when the
// file cannot be read, result (when asked for) saying why. Afterwards the empty password is tried
// and the page tree checked.
[[nodiscard]] bool LoadFromStream(TPDFDocument& document, std::istream& in, TLoadResult* result = nullptr);
[[nodiscard]] bool LoadFromString(TPDFDocument& document, std::string bytes, TLoadResult* result = nullptr);

class TPDFLoader {
 public:
  // Starts from what the document holds now.
  explicit TPDFLoader(TPDFDocument& document);

  // The document's file text, read as a PDF file: its objects and what the file tells. Anything
  // but Loaded leaves the document reset.
  [[nodiscard]] TLoadResult Read();
  // The page tree, walked: a tree without pages is rebuilt from the page objects found; false
  // when the document has none. Also once a password has opened a protected document. True,
  // without a walk, when the document's WalkPagesOnLoad is off.
  [[nodiscard]] bool CheckPages();
  // After Read: the empty password tried, and on a successful read the page tree checked; what
  // the load comes to (the document reset unless Loaded).
  [[nodiscard]] TLoadResult Finish(TLoadResult read);

 private:
  [[nodiscard]] TLoadResult Open();
  // CheckPages without the publishing.
  [[nodiscard]] bool WalkPages();
  [[nodiscard]] bool ReadHeader();
  // The cross-reference data with every offset moved by base; false when it cannot be read.
  [[nodiscard]] bool ReadCrossReference(int64_t base);
  // Every entry of the object table points at its object's header.
  [[nodiscard]] bool EntriesValid();
  [[nodiscard]] bool HasCatalog();
  // Rebuilds the object table from the object headers found in the file (the last definition
  // of a number wins, objects of object streams included) and takes the trailer from the last
  // trailer dictionary or cross-reference stream that names a catalog.
  void RepairObjectTable();
  void TakeTrailer(const std::string& text);
  // One in-use entry of the file's cross-reference data: offset and generation, or object
  // stream number and index when Compressed.
  struct XRefEntry {
    int32_t Number = 0;
    int32_t Value1 = 0;
    int32_t Value2 = 0;
    bool Compressed = false;
  };
  void BuildObjectTable(const std::vector<XRefEntry>& entries);
  void CheckLinearized();
  // The document takes what was read so far: objects parsed from here on see it.
  void Publish();

  TPDFDocument& document_;
  TLoadedFile file_;
  // Where "%PDF-" stands: a file with junk before its header may count its offsets from there.
  int64_t headerOffset_ = 0;
  bool trailerTaken_ = false;
};

}  // namespace lumipage
