#pragma once
// What the processor offers beyond the x86-64 baseline (SSE2), asked once per process. Code with
// wider instructions is compiled for its own function only and taken where these say so; other
// machines keep the plain code, which gives the same bytes.

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

}  // namespace lumipage::platform
