#pragma once
// Test files put together by hand, for the cases no writer makes.
#include <cstdio>
#include <map>
#include <string>

namespace lumipage::testutil {

// Writes a file object by object with the offsets known, then a classic table or a stream.
class FileBuilder {
 public:
  explicit FileBuilder(const std::string& header = "%PDF-1.5\n%\xE2\xE3\xCF\xD3\n") : text_(header) {}
  void Object(int number, const std::string& body) {
    offsets_[number] = text_.size();
    text_ += std::to_string(number) + " 0 obj\n" + body + "\nendobj\n";
  }
  void Raw(const std::string& bytes) { text_ += bytes; }
  [[nodiscard]] size_t Offset(int number) const { return offsets_.at(number); }
  [[nodiscard]] size_t Size() const { return text_.size(); }
  // A classic table over objects 0..max, the given trailer entries and startxref (shifted).
  void ClassicTable(int max, const std::string& trailer, long shift = 0) {
    const size_t xref = text_.size();
    text_ += "xref\n0 " + std::to_string(max + 1) + "\n0000000000 65535 f \n";
    char line[24];
    for (int i = 1; i <= max; ++i) {
      auto it = offsets_.find(i);
      std::snprintf(line, sizeof line, "%010zu 00000 %c \n", it == offsets_.end() ? 0 : it->second,
                    it == offsets_.end() ? 'f' : 'n');
      text_ += line;
    }
    text_ += "trailer\n<< " + trailer + " >>\nstartxref\n" + std::to_string(static_cast<long>(xref) + shift) + "\n%%EOF\n";
  }
  [[nodiscard]] const std::string& Text() const { return text_; }

 private:
  std::string text_;
  std::map<int, size_t> offsets_;
};

}  // namespace lumipage::testutil
