#pragma once
// Allocation of page-sized buffers. A scanned page is tens of megabytes that are written once
// and read a few times; faulting such a block in 4 KB at a time costs more than the work done
// on it, so large blocks ask the kernel for transparent huge pages (2 MB).
#include <cstddef>

namespace lumipage::platform {

// Blocks from this size on are aligned to and advised for huge pages.
inline constexpr std::size_t kLargeBlockBytes = std::size_t{4} << 20;

// Like malloc (zero: calloc); null when the memory cannot be had. Release with std::free.
[[nodiscard]] void* AllocateLarge(std::size_t bytes, bool zero);

}  // namespace lumipage::platform
