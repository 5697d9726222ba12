#pragma once
// Included by each benchmark program that measures page work: its page buffers stay in the heap
// between pages, as the program's do, so that the figures count what the program pays.
#include "platform/LargeMemory.h"

namespace lumipage::bench {

[[maybe_unused]] inline const bool kPageBuffersInHeap = [] {
  platform::KeepPageBuffersInHeap();
  return true;
}();

}  // namespace lumipage::bench
