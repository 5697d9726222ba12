#pragma once
// Integers of bounded settings (seconds to wait, and the like): decimal, or hexadecimal after
// '$' (and '0x' where the caller allows it), with an optional sign. A value beyond the range,
// however large its digits, stands for the nearest bound, so that "$FFFFFFFF" or "99999999999"
// ask for the longest wait and a negative value for the shortest. Text that is no number gives
// nothing, and the caller keeps its default.
#include <cstdint>
#include <optional>
#include <string_view>

namespace lumipage::platform {

[[nodiscard]] inline std::optional<std::int64_t> ParseClampedInteger(std::string_view text, bool allowCHex,
                                                                     std::int64_t lo, std::int64_t hi) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  bool hex = false;
  if (i < text.size() && text[i] == '$') {
    hex = true;
    ++i;
  } else if (allowCHex && i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= text.size()) return std::nullopt;
  // Far beyond any bound, and far from overflowing while digits are added.
  constexpr std::uint64_t kSaturated = std::uint64_t{1} << 60;
  std::uint64_t value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    unsigned digit;
    if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
    else if (hex && c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
    else if (hex && c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
    else return std::nullopt;
    if (value < kSaturated) value = value * (hex ? 16 : 10) + digit;
  }
  if (value > kSaturated) value = kSaturated;
  const std::int64_t signedValue = negative ? -static_cast<std::int64_t>(value) : static_cast<std::int64_t>(value);
  return signedValue < lo ? lo : (signedValue > hi ? hi : signedValue);
}

}  // namespace lumipage::platform
