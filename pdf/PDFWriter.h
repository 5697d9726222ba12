#pragma once
// Writes a document as one complete file: its objects one after another, a classic
// cross-reference table and the trailer, streamed through a modest buffer.
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>

namespace lumipage {

class TPDFDocument;
class TPDFIndObj;

// How a save ended.
enum class TSaveResult {
  Saved,
  WriteFailed,  // the stream refused the bytes, or the document could not be written out
  TooLarge,     // an object would start past TPDFWriter::kMaxEntryOffset: its table entry cannot state it
};

// Writes the whole document; false (with what was written left in the stream) on failure, result
// (when asked for) saying why.
[[nodiscard]] bool SaveToStream(TPDFDocument& document, std::ostream& out, TSaveResult* result = nullptr);
// The saved bytes, or empty when writing failed.
[[nodiscard]] std::string SaveToString(TPDFDocument& document);

class TPDFWriter {
 public:
  // A cross-reference table entry states an object's offset in 10 digits.
  static constexpr uint64_t kMaxEntryOffset = 9'999'999'999;

  explicit TPDFWriter(TPDFDocument& document) : document_(document) {}

  // Writes the whole document; on failure what was written is left in the stream.
  [[nodiscard]] TSaveResult Write(std::ostream& out);
  // Entries of the table written (object 0 included); 0 when the table was not reached.
  [[nodiscard]] size_t TableSize() const { return tableSize_; }

  // The writer as if its output began this many bytes into a file.
  uint64_t OffsetOrigin = 0;

 private:
  // The text written for one object; empty for none.
  [[nodiscard]] std::string ObjectText(TPDFIndObj& object);

  TPDFDocument& document_;
  size_t tableSize_ = 0;
};

}  // namespace lumipage
