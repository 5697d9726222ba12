#include "imaging/Progress.h"

#include "platform/Interrupt.h"

namespace lumipage {

std::uint8_t DoProgress(const TProgressEvent& callback, const void* sender, std::int64_t current,
                        std::int64_t minimum, std::int64_t maximum, std::uint8_t last) {
  std::int64_t percent = 0;
  if (maximum > minimum) {
    percent = (current - minimum) * 100 / (maximum - minimum);
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
  }
  const auto p = static_cast<std::uint8_t>(percent);
  if (p != last) {
    // Every long image step reports its progress: where it does, a caller's time-out ends it
    // (every hundredth of the rows, a few hundred rows at the most on the largest pages).
    platform::CheckInterrupt();
    if (callback) callback(sender, p);
  }
  return p;
}

}  // namespace lumipage
