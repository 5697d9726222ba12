#pragma once
// Whether a second thread would find a core of its own. Work split between two threads that
// wait for each other pays only then: where other work holds the cores, each wait costs a time
// slice and two threads are slower than one.
#include <cstdint>
#include <string_view>

namespace lumipage::platform {

// Work on this many pixels or more (a 300 dpi page holds 8 to 12 million) is worth a second
// thread; below it, starting the thread and waiting for it cost more than it saves.
inline constexpr std::int64_t kTwoThreadPixels = 1'000'000;

// Whether work on this many pixels should take a second thread: enough of them, and a core to
// spare now.
[[nodiscard]] bool TwoThreadsPay(std::int64_t pixels);

// Asked of the system now (/proc/loadavg).
[[nodiscard]] bool CoreToSpare();
// The rule, given the text of /proc/loadavg ("0.52 0.38 0.30 1/312 4711") and the cores: two
// cores or more, no task running right now besides the one asking, and a one-minute load
// average under the cores. The count of running tasks decides for the moment (a job's own
// earlier pages keep the average near 1 on an idle machine); the average keeps two threads
// off a machine that is busy most of the time. False for text it cannot read.
[[nodiscard]] bool CoreToSpare(std::string_view loadavg, unsigned cores);

}  // namespace lumipage::platform
