#pragma once
// What the processor offers beyond the x86-64 baseline (SSE2), asked once per process. Code with
// wider instructions is compiled for its own function only and taken where these say so; other
// machines keep the plain code, which gives the same bytes.
#include <cstdlib>
#include <thread>

namespace lumipage::platform {

#if defined(__x86_64__) || defined(__i386__)
[[nodiscard]] inline bool HasSsse3() {
  static const bool has = __builtin_cpu_supports("ssse3");
  return has;
}

[[nodiscard]] inline bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}
#endif

// Whether a second thread would find a core of its own: two cores or more, and a load average
// that leaves one free. Where other work holds the cores, a helper that the main thread waits
// for costs a time slice at each wait.
[[nodiscard]] inline bool CoreToSpare() {
  const unsigned cores = std::thread::hardware_concurrency();
  if (cores < 2) return false;
  double load = 0;
  return getloadavg(&load, 1) == 1 && load + 1.0 <= static_cast<double>(cores);
}

}  // namespace lumipage::platform
