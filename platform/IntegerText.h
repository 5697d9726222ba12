#pragma once
// Integers of settings: decimal, or hexadecimal after '$' (and '0x' where the caller allows it),
// with an optional sign. For bounded settings (seconds to wait, and the like) a value beyond the
// range, however large its digits, stands for the nearest bound, so that "$FFFFFFFF" or
// "99999999999" ask for the longest wait and a negative value for the shortest. Text that is no
// number gives nothing, and the caller keeps its default.
#include <cstdint>
#include <optional>
#include <string_view>

namespace lumipage::platform {

// The parts of an integer's text: its sign, whether it was hexadecimal, and its magnitude, held
// at 2^60 once the digits go beyond (far past any bound, far from overflowing). Nothing for text
// that is no number.
struct TIntegerText {
  bool Negative = false;
  bool Hex = false;
  std::uint64_t Magnitude = 0;
};

[[nodiscard]] inline std::optional<TIntegerText> ReadIntegerText(std::string_view text, bool allowCHex) {
  TIntegerText n;
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) n.Negative = text[i++] == '-';
  if (i < text.size() && text[i] == '$') {
    n.Hex = true;
    ++i;
  } else if (allowCHex && i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    n.Hex = true;
    i += 2;
  }
  if (i >= text.size()) return std::nullopt;
  constexpr std::uint64_t kSaturated = std::uint64_t{1} << 60;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    unsigned digit;
    if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
    else if (n.Hex && c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
    else if (n.Hex && c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
    else return std::nullopt;
    if (n.Magnitude < kSaturated) n.Magnitude = n.Magnitude * (n.Hex ? 16 : 10) + digit;
  }
  if (n.Magnitude > kSaturated) n.Magnitude = kSaturated;
  return n;
}

[[nodiscard]] inline std::optional<std::int64_t> ParseClampedInteger(std::string_view text, bool allowCHex,
                                                                     std::int64_t lo, std::int64_t hi) {
  const auto n = ReadIntegerText(text, allowCHex);
  if (!n) return std::nullopt;
  const auto magnitude = static_cast<std::int64_t>(n->Magnitude);
  const std::int64_t value = n->Negative ? -magnitude : magnitude;
  return value < lo ? lo : (value > hi ? hi : value);
}

}  // namespace lumipage::platform
