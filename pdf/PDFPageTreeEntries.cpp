#include "pdf/PDFPageTreeEntries.h"

#include "pdf/PDFLexer.h"

namespace lumipage {

namespace {

// Nesting followed inside a page dictionary before the reading gives up (the parser allows far
// more; such a page is parsed in full).
constexpr int kMaxDepth = 32;

using pdflex::IsDigit;

// A strict reading of the parser's syntax: every method answers false where the parser might
// read the text in any other way, never guessing.
class TReader {
 public:
  explicit TReader(std::string_view text) : text_(text) {}

  size_t p = 0;

  [[nodiscard]] bool AtEnd() const { return p >= text_.size(); }
  [[nodiscard]] char Peek() const { return p < text_.size() ? text_[p] : '\0'; }
  [[nodiscard]] bool At(std::string_view s) const { return text_.substr(p, s.size()) == s; }
  // The token ends here: whitespace, a delimiter or the end follows.
  [[nodiscard]] bool Ended() const { return pdflex::TokenEndsAt(text_, p); }

  void SkipWhite() { p = pdflex::SkipWhite(text_, p); }

  // Whitespace and comments, as the parser skips them.
  void Skip() { p = pdflex::SkipWhiteAndComments(text_, p); }

  // keyword as a token of its own, passed over.
  bool Keyword(std::string_view keyword) {
    if (!pdflex::KeywordAt(text_, p, keyword)) return false;
    p += keyword.size();
    return true;
  }

  // An unsigned run of at most 9 digits (no overflow, no sign), ending the token.
  bool Integer(int64_t& value) {
    const size_t start = p;
    p = pdflex::SkipDigits(text_, p);
    // A longer run is passed over without adding it up: it is declined all the same.
    value = pdflex::DigitsValue(text_.substr(start, std::min<size_t>(p - start, 9)));
    return p > start && p - start <= 9 && Ended();
  }

  // A name's raw text (after the slash), ending at whitespace or a delimiter.
  std::string_view Name() {
    const size_t start = ++p;
    p = pdflex::SkipWord(text_, p);
    return text_.substr(start, p - start);
  }

  // A number token: one sign at most, digits with one point at most, at least one digit.
  bool Number(bool& integer) {
    if (Peek() == '+' || Peek() == '-') ++p;
    bool digit = false;
    integer = true;
    while (p < text_.size()) {
      const char c = text_[p];
      if (IsDigit(c)) {
        digit = true;
      } else if (c == '.' && integer) {
        integer = false;
      } else {
        break;
      }
      ++p;
    }
    return digit && Ended();
  }

  enum class TScalar { Number, Reference };
  // A number, or "n g R" as the parser joins it; the reference's parts are plain integers.
  bool NumberOrReference(TScalar& kind, int64_t& number, int64_t& generation) {
    const size_t start = p;
    bool integer = false;
    if (!Number(integer)) return false;
    kind = TScalar::Number;
    if (!integer) return true;
    const size_t after = p;
    Skip();
    if (!IsDigit(Peek())) {
      p = after;
      return true;
    }
    bool secondInteger = false;
    const size_t second = p;
    if (!Number(secondInteger)) return false;
    const size_t secondEnd = p;
    Skip();
    if (Peek() != 'R') {
      p = after;
      return true;
    }
    ++p;
    if (!Ended() || !secondInteger) return false;
    // Both parts again, now as plain integers.
    const size_t r = p;
    p = start;
    if (!Integer(number)) return false;
    p = second;
    if (!Integer(generation) || p != secondEnd) return false;
    p = r;
    kind = TScalar::Reference;
    return true;
  }

  bool Reference(int64_t& number, int64_t& generation) {
    TScalar kind = TScalar::Number;
    return NumberOrReference(kind, number, generation) && kind == TScalar::Reference;
  }

  // Any value, passed over.
  bool SkipValue(int depth) {
    if (depth > kMaxDepth) return false;
    const char c = Peek();
    if (c == '/') {
      (void)Name();
      return true;
    }
    if (c == '(') return SkipLiteral();
    if (c == '<') {
      if (!At("<<")) {
        // A hexadecimal string runs to the next '>', whatever stands between.
        const size_t end = text_.find('>', p + 1);
        if (end == std::string_view::npos) return false;
        p = end + 1;
        return true;
      }
      p += 2;
      for (;;) {
        Skip();
        if (At(">>")) {
          p += 2;
          return true;
        }
        if (Peek() != '/') return false;
        (void)Name();
        Skip();
        if (!SkipValue(depth + 1)) return false;
      }
    }
    if (c == '[') {
      ++p;
      for (;;) {
        Skip();
        if (Peek() == ']') {
          ++p;
          return true;
        }
        if (!SkipValue(depth + 1)) return false;
      }
    }
    if (c == '+' || c == '-' || c == '.' || IsDigit(c)) {
      TScalar kind = TScalar::Number;
      int64_t n = 0, g = 0;
      return NumberOrReference(kind, n, g);
    }
    for (std::string_view keyword : {"true", "false", "null"}) {
      if (At(keyword)) return Keyword(keyword);
    }
    return false;
  }

 private:
  // A literal string: parentheses balance, a backslash escapes a parenthesis or a backslash.
  bool SkipLiteral() {
    int level = 0;
    while (p < text_.size()) {
      const char c = text_[p];
      if (c == '\\' && p + 1 < text_.size() && (text_[p + 1] == '(' || text_[p + 1] == ')' || text_[p + 1] == '\\')) {
        p += 2;
        continue;
      }
      ++p;
      if (c == '(') ++level;
      if (c == ')' && --level == 0) return true;
    }
    return false;
  }

  std::string_view text_;
};

bool ReadKids(TReader& r, TPageTreeEntries& entries) {
  if (r.Peek() != '[') return false;
  ++r.p;
  entries.Kids.clear();
  for (;;) {
    r.Skip();
    if (r.Peek() == ']') {
      ++r.p;
      entries.HasKids = true;
      return true;
    }
    int64_t number = 0, generation = 0;
    if (!r.Reference(number, generation) || generation > 65535) return false;
    entries.Kids.emplace_back(static_cast<int32_t>(number), static_cast<int32_t>(generation));
  }
}

bool ReadMediaBox(TReader& r, TPageTreeEntries& entries) {
  if (r.Peek() != '[') return false;
  ++r.p;
  for (int i = 0; i < 4; ++i) {
    r.Skip();
    TReader::TScalar kind = TReader::TScalar::Number;
    int64_t n = 0, g = 0;
    if (!r.NumberOrReference(kind, n, g) || kind != TReader::TScalar::Number) return false;
  }
  r.Skip();
  if (r.Peek() != ']') return false;
  ++r.p;
  entries.HasMediaBox = true;
  return true;
}

}  // namespace

bool ReadPageTreeEntries(std::string_view text, int32_t number, int32_t generation, TPageTreeEntries& entries) {
  entries = TPageTreeEntries{};
  TReader r(text);
  // "n g obj" as the object table found it.
  r.SkipWhite();
  int64_t n = 0, g = 0;
  if (!r.Integer(n) || n != number) return false;
  r.SkipWhite();
  if (!r.Integer(g) || g != generation) return false;
  r.SkipWhite();
  if (!r.Keyword("obj")) return false;
  r.Skip();
  if (!r.At("<<")) return false;
  r.p += 2;
  bool seen[5] = {false, false, false, false, false};
  for (;;) {
    r.Skip();
    if (r.At(">>")) {
      r.p += 2;
      break;
    }
    if (r.Peek() != '/') return false;
    const std::string_view key = r.Name();
    // An escape could spell any key.
    if (key.find('#') != std::string_view::npos) return false;
    r.Skip();
    int which = -1;
    if (key == "Type") which = 0;
    else if (key == "Kids") which = 1;
    else if (key == "Count") which = 2;
    else if (key == "Parent") which = 3;
    else if (key == "MediaBox") which = 4;
    if (which < 0) {
      if (!r.SkipValue(1)) return false;
      continue;
    }
    if (seen[which]) return false;
    seen[which] = true;
    switch (which) {
      case 0: {
        if (r.Peek() != '/') return false;
        const std::string_view type = r.Name();
        if (type.find('#') != std::string_view::npos) return false;
        entries.Type.assign(type);
        break;
      }
      case 1:
        if (!ReadKids(r, entries)) return false;
        break;
      case 2: {
        // An integer, not the start of a reference.
        const size_t at = r.p;
        TReader::TScalar kind = TReader::TScalar::Number;
        int64_t n = 0, g = 0;
        if (!r.NumberOrReference(kind, n, g) || kind != TReader::TScalar::Number) return false;
        const size_t end = r.p;
        r.p = at;
        if (!r.Integer(entries.Count) || r.p != end) return false;
        entries.HasCount = true;
        break;
      }
      case 3: {
        int64_t pn = 0, pg = 0;
        if (!r.Reference(pn, pg) || pg > 65535) return false;
        entries.HasParent = true;
        entries.ParentNumber = static_cast<int32_t>(pn);
        entries.ParentGeneration = static_cast<int32_t>(pg);
        break;
      }
      default:
        if (!ReadMediaBox(r, entries)) return false;
        break;
    }
  }
  // Nothing but "endobj" after the dictionary: no stream, no second value.
  r.Skip();
  return r.Keyword("endobj");
}

}  // namespace lumipage
