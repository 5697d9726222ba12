#pragma once
// The time that output files state as theirs. With SOURCE_DATE_EPOCH set (the convention of
// reproducible builds: seconds since 1970-01-01 UTC), dates written into files come from it and
// nothing else in a file depends on the clock, so the same job on the same pages writes the same
// bytes.
#include <cstdint>
#include <optional>
#include <string_view>

namespace lumipage::platform {

// SOURCE_DATE_EPOCH when it holds a time this system can state (decimal digits only, up to the
// end of the year 9999); nothing when it is unset, empty or malformed.
[[nodiscard]] std::optional<std::int64_t> SourceDateEpoch();
// The parsing rule of SourceDateEpoch for a given text.
[[nodiscard]] std::optional<std::int64_t> ParseSourceDateEpoch(std::string_view text);

}  // namespace lumipage::platform
