#include "platform/LargeMemory.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>

namespace lumipage::platform {
namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kSmallPage = 4096;
}  // namespace

void* AllocateLarge(std::size_t bytes, bool zero) {
  if (bytes < kLargeBlockBytes) return zero ? std::calloc(bytes ? bytes : 1, 1) : std::malloc(bytes ? bytes : 1);
  void* p = nullptr;
  if (posix_memalign(&p, kHugePage, bytes) != 0) return nullptr;
  // Only advice: where the kernel has no huge pages to give, the block works as it is.
  (void)madvise(p, bytes & ~(kSmallPage - 1), MADV_HUGEPAGE);
  if (zero) std::memset(p, 0, bytes);
  return p;
}

}  // namespace lumipage::platform
