#pragma once
// Reads the cross-reference data of a PDF file from its end backwards: classic tables and
// cross-reference streams, incremental updates through /Prev, hybrid files through /XRefStm.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>

namespace lumipage {

class TPDFXRefReader {
 public:
  // One entry: number, offset or object-stream number, kind ('n' in use, 'f' free,
  // 'c' in an object stream, ' ' anything else), generation or index.
  using EntryCallback = std::function<void(int64_t number, int64_t value1, char kind, int64_t value2)>;
  using TrailerCallback = std::function<void(const std::string& text)>;
  using SectionCallback = std::function<void(int64_t offset)>;

  explicit TPDFXRefReader(std::string_view file) : file_(file) {}

  // The offset named before the last "%%EOF" of the file's last 1024 bytes; 0 without one.
  [[nodiscard]] int64_t FindStartXRef() const;
  // One section (table or stream) at offset and, through /Prev, every older one. A repeated
  // offset ends the chain.
  [[nodiscard]] bool ReadSection(int64_t offset);

  EntryCallback OnEntry;
  TrailerCallback OnTrailer;
  SectionCallback OnSection;
  // A /XRefStm key was followed.
  bool FollowedXRefStm = false;
  // Added to every offset the file names (the header's offset, for files with junk before it).
  int64_t Base = 0;

 private:
  [[nodiscard]] bool ReadTable(int64_t p);
  [[nodiscard]] bool ReadStream(int64_t p);
  [[nodiscard]] std::string_view Window(int64_t at, size_t length) const;

  std::string_view file_;
  std::unordered_set<int64_t> visited_;
  int depth_ = 0;
};

}  // namespace lumipage
