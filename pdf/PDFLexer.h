#pragma once
// The lexical facts of PDF syntax that every reader of the file's text shares: which bytes are
// whitespace, delimiters and digits, where comments end, where a keyword stands as a token of
// its own. Inline, as the parser calls them for every byte it reads.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace lumipage::pdflex {

// NUL, TAB, LF, FF, CR and SP.
[[nodiscard]] constexpr bool IsWhite(char c) {
  return c == 0 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32;
}
// The closing brace is deliberately not a delimiter.
[[nodiscard]] constexpr bool IsDelimiter(char c) {
  return c == '%' || c == '(' || c == ')' || c == '/' || c == '<' || c == '>' || c == '[' || c == ']' ||
         c == '{';
}
[[nodiscard]] constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }
// A byte that continues a word, a number or a name.
[[nodiscard]] constexpr bool IsRegular(char c) { return !IsWhite(c) && !IsDelimiter(c); }

// A token ends at p: the text ends there or whitespace or a delimiter stands there.
[[nodiscard]] constexpr bool TokenEndsAt(std::string_view text, size_t p) {
  return p >= text.size() || !IsRegular(text[p]);
}
// A token may start at p: nothing, whitespace or a delimiter stands before it.
[[nodiscard]] constexpr bool TokenStartsAt(std::string_view text, size_t p) {
  return p == 0 || !IsRegular(text[p - 1]);
}
// keyword stands at p as a token of its own, not as the head of a longer word.
[[nodiscard]] constexpr bool KeywordAt(std::string_view text, size_t p, std::string_view keyword) {
  return text.substr(std::min(p, text.size()), keyword.size()) == keyword && TokenEndsAt(text, p + keyword.size());
}

// The first position from p that is no whitespace.
[[nodiscard]] constexpr size_t SkipWhite(std::string_view text, size_t p) {
  while (p < text.size() && IsWhite(text[p])) ++p;
  return p;
}
// The first position from p that holds no whitespace and no comment. A comment counts as
// whitespace wherever whitespace may stand, however many follow each other and whatever starts
// the next line.
[[nodiscard]] constexpr size_t SkipWhiteAndComments(std::string_view text, size_t p) {
  for (;;) {
    p = SkipWhite(text, p);
    if (p >= text.size() || text[p] != '%') return p;
    while (p < text.size() && text[p] != '\r' && text[p] != '\n') ++p;
  }
}
// The first position from p that is no digit.
[[nodiscard]] constexpr size_t SkipDigits(std::string_view text, size_t p) {
  while (p < text.size() && IsDigit(text[p])) ++p;
  return p;
}
// The first position from p that ends a word: whitespace, a delimiter or the end.
[[nodiscard]] constexpr size_t SkipWord(std::string_view text, size_t p) {
  while (p < text.size() && IsRegular(text[p])) ++p;
  return p;
}
// Where the run of whitespace that ends at p starts, looking back no further than from.
[[nodiscard]] constexpr size_t WhiteRunStart(std::string_view text, size_t p, size_t from = 0) {
  while (p > from && IsWhite(text[p - 1])) --p;
  return p;
}
// Where the run of digits that ends at p starts, looking back no further than from.
[[nodiscard]] constexpr size_t DigitRunStart(std::string_view text, size_t p, size_t from = 0) {
  while (p > from && IsDigit(text[p - 1])) --p;
  return p;
}
// The decimal value of a run of digits; callers bound its length (18 digits at most fit).
[[nodiscard]] constexpr int64_t DigitsValue(std::string_view digits) {
  int64_t v = 0;
  for (char c : digits) v = v * 10 + (c - '0');
  return v;
}

}  // namespace lumipage::pdflex
