#include "pdf/PDFParser.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "pdf/PDFLimits.h"
#include "pdf/PDFNumberText.h"
#include "pdf/PDFStructure.h"

namespace lumipage {

namespace {

// Peek() gives -1 at the end, which is no digit.
bool IsDigit(int c) { return pdflex::IsDigit(static_cast<char>(c)); }
bool IsOctal(int c) { return c >= '0' && c <= '7'; }

int HexValue(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// A 32-bit signed decimal, 0 when the text is not one.
int32_t ToInt32(std::string_view s) {
  int32_t v = 0;
  const char* b = s.data();
  const char* e = b + s.size();
  if (b != e && *b == '+') ++b;
  auto [ptr, ec] = std::from_chars(b, e, v);
  if (ec != std::errc() || ptr != e || b == e) return 0;
  return v;
}

}  // namespace

TPDFObject* TPDFParser::ParseFirst() {
  pos_ = 0;
  Skip();
  return ScanValue(0);
}

void TPDFParser::Skip() {
  pos_ = pdflex::SkipWhiteAndComments(text_, pos_);
}

TPDFObject* TPDFParser::ScanValue(int depth) {
  const int c = Peek();
  if (c < 0 || tooDeep_) return nullptr;
  if ((c == '[' || At("<<")) && depth >= kMaxParseDepth) {
    tooDeep_ = true;
    return nullptr;
  }
  if (c == '<') {
    if (At("<<")) return ScanDictionary(depth);
    return ScanHex();
  }
  if (c == '[') return ScanArray(depth);
  if (c == '(') return ScanLiteral();
  if (c == '/') return ScanName();
  if (c == '-' || c == '+' || c == '.' || IsDigit(c)) return ScanNumber();
  for (std::string_view kw : {"true", "false", "null"}) {
    if (!At(kw)) continue;
    // The head of a longer word is no keyword, and no other value either.
    if (!pdflex::TokenEndsAt(text_, pos_ + kw.size())) return nullptr;
    pos_ += kw.size();
    if (kw == "null") return owner_.MakeNull();
    return owner_.MakeBoolean(kw == "true");
  }
  return nullptr;
}

TPDFObject* TPDFParser::ScanDictionary(int depth) {
  pos_ += 2;
  TPDFDictionary* dict = owner_.MakeDictionary();
  for (;;) {
    Skip();
    if (At(">>") || Peek() < 0 || tooDeep_) break;
    TPDFObject* key = ScanValue(depth + 1);
    auto* name = As<TPDFName>(key);
    if (name == nullptr) {
      // A stray token where a key belongs (a second "0 R", a word, a lone bracket) is passed
      // over, as readers do: the keys after it still count.
      owner_.ReleaseObject(key);
      if (key == nullptr && !SkipStrayToken()) break;
      continue;
    }
    Skip();
    TPDFObject* value = ScanValue(depth + 1);
    if (value != nullptr) {
      dict->AppendEntry(name, value);
      continue;
    }
    // A key without a readable value is dropped with the word that stands in its place.
    owner_.ReleaseObject(name);
    if (tooDeep_ || At(">>") || !SkipStrayToken()) break;
  }
  if (At(">>")) pos_ += 2;
  return dict;
}

bool TPDFParser::SkipStrayToken() {
  const int c = Peek();
  if (c < 0) return false;
  if (c == ')' || c == ']' || c == '{' || c == '>') {
    ++pos_;
    return true;
  }
  // An unclosed string or anything else that is no token of its own ends the dictionary.
  if (!pdflex::IsRegular(static_cast<char>(c))) return false;
  const size_t start = pos_;
  pos_ = pdflex::SkipWord(text_, pos_);
  // The words of the file's structure mean the dictionary was never closed: it ends there.
  const std::string_view word = text_.substr(start, pos_ - start);
  for (std::string_view structural : {"obj", "endobj", "stream", "endstream", "xref", "trailer", "startxref"}) {
    if (word == structural) {
      pos_ = start;
      return false;
    }
  }
  return true;
}

TPDFObject* TPDFParser::ScanArray(int depth) {
  ++pos_;
  TPDFArray* array = owner_.MakeArray();
  for (;;) {
    Skip();
    TPDFObject* item = ScanValue(depth + 1);
    if (item == nullptr) break;
    array->Add(item);
  }
  if (Peek() == ']') ++pos_;
  return array;
}

void TPDFParser::ReadNumberToken(bool& hasPoint, double& value, int32_t& integer) {
  if (Peek() == '+') ++pos_;
  const size_t start = pos_;
  if (Peek() == '-') ++pos_;
  hasPoint = false;
  while (pos_ < text_.size()) {
    const char c = text_[pos_];
    if (IsDigit(c)) {
      ++pos_;
    } else if (c == '.' && !hasPoint) {
      hasPoint = true;
      ++pos_;
    } else {
      break;
    }
  }
  std::string token(text_.substr(start, pos_ - start));
  decimals_ = 0;
  if (hasPoint) {
    decimals_ = static_cast<int>(token.size() - token.find('.') - 1);
    if (token.front() == '.') token.insert(token.begin(), '0');
    if (token.back() == '.') token.push_back('0');
    // Correctly rounded and with every digit, so that the value is written back as it was read;
    // a number too long for a double is read as the engine reads numbers elsewhere.
    const auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), value);
    if (ec != std::errc() || end != token.data() + token.size() || !std::isfinite(value)) value = ParseNumber(token);
    integer = 0;
  } else {
    integer = ToInt32(token);
    value = integer;
    // Beyond 32 bits (an unsigned /P, a large offset) the value still counts; only object
    // numbers and generations need the 32-bit form.
    if (integer == 0 && token.find_first_not_of("-0") != std::string::npos) {
      double wide = 0;
      const auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), wide);
      if (ec == std::errc() && end == token.data() + token.size() && std::isfinite(wide)) value = wide;
    }
  }
}

TPDFObject* TPDFParser::ScanNumber() {
  bool hasPoint = false;
  double value = 0;
  int32_t first = 0;
  ReadNumberToken(hasPoint, value, first);
  const int decimals = decimals_;
  if (!hasPoint) {
    const size_t after = pos_;
    Skip();
    if (IsDigit(Peek())) {
      bool secondPoint = false;
      double second = 0;
      int32_t secondInt = 0;
      ReadNumberToken(secondPoint, second, secondInt);
      Skip();
      if (Peek() == 'R') {
        ++pos_;
        const auto generation = secondPoint ? static_cast<int32_t>(second) : secondInt;
        return owner_.MakeReference(first, generation);
      }
    }
    pos_ = after;
  }
  TPDFNumeric* number = owner_.MakeNumber(value);
  // Written back as precisely as it was read.
  if (decimals > 0) number->ReadDecimals = static_cast<int8_t>(std::min(decimals, 100));
  return number;
}

TPDFObject* TPDFParser::ScanLiteral() {
  // Find the matching parenthesis first; an escaped parenthesis or backslash does not count.
  size_t p = pos_ + 1;
  int level = 1;
  while (p < text_.size()) {
    const char c = text_[p];
    if (c == '\\' && p + 1 < text_.size() &&
        (text_[p + 1] == '(' || text_[p + 1] == ')' || text_[p + 1] == '\\')) {
      p += 2;
      continue;
    }
    if (c == '(') ++level;
    if (c == ')' && --level == 0) break;
    ++p;
  }
  if (level != 0) return nullptr;
  const std::string_view body = text_.substr(pos_ + 1, p - pos_ - 1);
  pos_ = p + 1;

  std::string out;
  out.reserve(body.size());
  for (size_t i = 0; i < body.size(); ++i) {
    const char c = body[i];
    if (c == '\r') {
      out += '\n';
      if (i + 1 < body.size() && body[i + 1] == '\n') ++i;
      continue;
    }
    if (c != '\\' || i + 1 >= body.size()) {
      out += c;
      continue;
    }
    const char e = body[++i];
    if (IsOctal(e)) {
      int v = e - '0';
      for (int k = 0; k < 2 && i + 1 < body.size() && IsOctal(body[i + 1]); ++k)
        v = v * 8 + (body[++i] - '0');
      out += static_cast<char>(v & 0xFF);
      continue;
    }
    switch (e) {
      case '\n': break;
      case '\r':
        if (i + 1 < body.size() && body[i + 1] == '\n') ++i;
        break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'b': out += '\b'; break;
      case 'f': out += '\f'; break;
      // Any other escaped byte stands for itself: the backslash is dropped, as readers do.
      default: out += e;
    }
  }
  return owner_.MakeString(std::move(out), TPDFString::kLiteral);
}

TPDFObject* TPDFParser::ScanHex() {
  ++pos_;
  std::string out;
  int pending = -1;
  while (pos_ < text_.size() && text_[pos_] != '>') {
    const int v = HexValue(static_cast<unsigned char>(text_[pos_++]));
    if (v < 0) continue;
    if (pending < 0) {
      pending = v;
    } else {
      out += static_cast<char>(pending * 16 + v);
      pending = -1;
    }
  }
  if (pending >= 0) out += static_cast<char>(pending * 16);
  if (pos_ < text_.size()) ++pos_;  // the '>'
  return owner_.MakeString(std::move(out), TPDFString::kHexadecimal);
}

TPDFObject* TPDFParser::ScanName() {
  const size_t start = ++pos_;
  pos_ = pdflex::SkipWord(text_, pos_);
  const std::string_view raw = text_.substr(start, pos_ - start);
  std::string value;
  value.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '#' && i + 2 < raw.size() && HexValue(static_cast<unsigned char>(raw[i + 1])) >= 0 &&
        HexValue(static_cast<unsigned char>(raw[i + 2])) >= 0) {
      value += static_cast<char>(HexValue(static_cast<unsigned char>(raw[i + 1])) * 16 +
                                 HexValue(static_cast<unsigned char>(raw[i + 2])));
      i += 2;
    } else {
      value += raw[i];
    }
  }
  return owner_.MakeName(value);
}

}  // namespace lumipage
