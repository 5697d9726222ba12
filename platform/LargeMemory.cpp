#include "platform/LargeMemory.h"

#include <malloc.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace lumipage::platform {
namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kSmallPage = 4096;
}  // namespace

void KeepPageBuffersInHeap() {
  constexpr int kMmapThreshold = 32 << 20;  // the largest value the allocator accepts
  constexpr int kTrimThreshold = 512 << 20;
  mallopt(M_MMAP_THRESHOLD, kMmapThreshold);
  mallopt(M_TRIM_THRESHOLD, kTrimThreshold);
  mallopt(M_TOP_PAD, 64 << 20);
}

void* AllocateLarge(std::size_t bytes, bool zero) {
  if (bytes < kHugePageBlockBytes) return zero ? std::calloc(bytes ? bytes : 1, 1) : std::malloc(bytes ? bytes : 1);
  if (bytes > std::numeric_limits<std::size_t>::max() - kHugePage) return nullptr;
  // The kernel gives a huge page only where all of its 2 MB are advised, so the block is whole
  // huge pages: otherwise its last part (up to 2 MB) would still fault in 4 KB at a time.
  const std::size_t whole = (bytes + kHugePage - 1) & ~(kHugePage - 1);
  void* p = nullptr;
  if (posix_memalign(&p, kHugePage, whole) != 0) return nullptr;
  // Only advice: where the kernel has no huge pages to give, the block works as it is.
  (void)madvise(p, whole, MADV_HUGEPAGE);
  if (zero) std::memset(p, 0, bytes);
  return p;
}

TPrefaulter::TPrefaulter(void* data, std::size_t bytes, bool fromEnd) {
  if (!data || bytes < kLargeBlockBytes) return;
  auto* begin = static_cast<unsigned char*>(data);
  thread_ = std::thread([this, begin, bytes, fromEnd] {
    // Whole small pages inside the block, one huge page's worth per step.
    const auto first = (reinterpret_cast<std::uintptr_t>(begin) + kSmallPage - 1) & ~(kSmallPage - 1);
    const auto last = (reinterpret_cast<std::uintptr_t>(begin) + bytes) & ~(kSmallPage - 1);
    for (std::uintptr_t done = 0; first + done < last && !stop_.load(std::memory_order_relaxed);) {
      const std::uintptr_t step = std::min<std::uintptr_t>(kHugePage, last - first - done);
      const std::uintptr_t at = fromEnd ? last - done - step : first + done;
      // Kernels before 5.14 do not know the request: nothing is lost but the head start.
      if (madvise(reinterpret_cast<void*>(at), step, MADV_POPULATE_WRITE) != 0) return;
      done += step;
    }
  });
}

TPrefaulter::~TPrefaulter() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

}  // namespace lumipage::platform
