#pragma once
// Text in the protocol's fixed-size character fields (TW_STR32, TW_STR255): zero-terminated when
// written, and read only up to the field's end, since another party may fill a field whole.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

namespace lumipage::twain {

// The text of a field, up to its first zero or its end.
template <std::size_t N>
[[nodiscard]] std::string FieldText(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

// Writes text into a field, cut to maxChars and to leave room for the terminating zero; the rest
// of the field is zero.
template <std::size_t N>
void CopyText(char (&field)[N], const std::string& text, std::size_t maxChars = N - 1) {
  std::memset(field, 0, N);
  std::memcpy(field, text.data(), std::min({text.size(), maxChars, N - 1}));
}

}  // namespace lumipage::twain
