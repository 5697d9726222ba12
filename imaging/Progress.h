#pragma once
// The progress convention of every long image operation: a callback with (sender, percent),
// called only when the percentage changes.
#include <cstdint>
#include <functional>

namespace lumipage {

using TProgressEvent = std::function<void(const void* sender, std::uint8_t percent)>;

// Nothing reported yet.
constexpr std::uint8_t kNoProgress = 255;

// percent = (current - minimum) * 100 div (maximum - minimum), limited to 0..100, or 0 when
// maximum <= minimum. Calls the callback when one is set and the percent differs from last;
// returns the percent, which the caller keeps as its new last value. A change of the percent is
// also a safe point: it raises platform::EJobInterrupted once an interruption was requested.
std::uint8_t DoProgress(const TProgressEvent& callback, const void* sender, std::int64_t current,
                        std::int64_t minimum, std::int64_t maximum, std::uint8_t last);

}  // namespace lumipage
