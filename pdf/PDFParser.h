#pragma once
// The scanner that turns PDF syntax into values of one pool.
#include <cstdint>
#include <string_view>

#include "pdf/PDFLexer.h"

namespace lumipage {

class TPDFObject;
class TPDFStructure;

class TPDFParser {
 public:
  TPDFParser(TPDFStructure& owner, std::string_view text) : owner_(owner), text_(text) {}

  // Skips whitespace and one comment, then scans one value; nullptr when none is there.
  TPDFObject* ParseFirst();
  // Position after the last value scanned.
  [[nodiscard]] size_t Position() const { return pos_; }

  [[nodiscard]] static bool IsWhite(unsigned char c) { return pdflex::IsWhite(static_cast<char>(c)); }
  [[nodiscard]] static bool IsDelimiter(unsigned char c) { return pdflex::IsDelimiter(static_cast<char>(c)); }

 private:
  void Skip();
  [[nodiscard]] bool At(std::string_view s) const { return text_.substr(pos_, s.size()) == s; }
  [[nodiscard]] int Peek() const { return pos_ < text_.size() ? static_cast<unsigned char>(text_[pos_]) : -1; }
  TPDFObject* ScanValue(int depth);
  TPDFObject* ScanDictionary(int depth);
  // Passes over one token that is no value (a word, a lone closing bracket); false, nothing
  // passed, when the token ends the dictionary instead.
  bool SkipStrayToken();
  TPDFObject* ScanArray(int depth);
  TPDFObject* ScanNumber();
  TPDFObject* ScanLiteral();
  TPDFObject* ScanHex();
  TPDFObject* ScanName();
  // Reads a number token at pos_: digits with at most one point, an optional leading '-'.
  void ReadNumberToken(bool& hasPoint, double& value, int32_t& integer);

  TPDFStructure& owner_;
  std::string_view text_;
  size_t pos_ = 0;
  // Digits after the point of the last number token read.
  int decimals_ = 0;
  // Set when the nesting limit was reached: every enclosing value ends where it stands.
  bool tooDeep_ = false;
};

}  // namespace lumipage
