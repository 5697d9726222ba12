#include "platform/SourceDate.h"

#include <cstdlib>

namespace lumipage::platform {

std::optional<std::int64_t> ParseSourceDateEpoch(std::string_view text) {
  // 9999-12-31 23:59:59 UTC: dates of four-digit years only.
  constexpr std::int64_t kLast = 253402300799;
  if (text.empty() || text.size() > 12) return std::nullopt;
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value > kLast) return std::nullopt;
  return value;
}

std::optional<std::int64_t> SourceDateEpoch() {
  const char* text = std::getenv("SOURCE_DATE_EPOCH");
  return text ? ParseSourceDateEpoch(text) : std::nullopt;
}

}  // namespace lumipage::platform
