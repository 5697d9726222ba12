#pragma once
// Allocation of page-sized buffers. A scanned page is tens of megabytes that are written once
// and read a few times; faulting such a block in 4 KB at a time costs more than the work done
// on it, so large blocks ask the kernel for transparent huge pages (2 MB).
#include <atomic>
#include <cstddef>
#include <thread>

namespace lumipage::platform {

// Blocks from this size on are whole huge pages, aligned and advised: one fault per 2 MB
// instead of per 4 KB. A fault costs much more than the zeroing it does (on virtual machines
// above all), so a megabyte (a line-art page at 300 dpi) already takes less time in one huge
// page than in 256 small ones.
inline constexpr std::size_t kHugePageBlockBytes = std::size_t{1} << 20;
// Blocks from this size on are worth a prefaulting thread.
inline constexpr std::size_t kLargeBlockBytes = std::size_t{4} << 20;

// Pages are large buffers allocated and freed once per page. Kept in the heap instead of being
// mapped and unmapped each time, they are reused without page faults and zero-filling by the
// kernel; peak memory stays that of one page. Called once, first thing in a process.
void KeepPageBuffersInHeap();

// Like malloc (zero: calloc); null when the memory cannot be had. Release with std::free.
[[nodiscard]] void* AllocateLarge(std::size_t bytes, bool zero);

// Faults a fresh block's pages in on a second thread, ahead of a writer that fills it in one
// direction while it waits for data (a scanner's rows): the first touch of fresh memory is much
// of the cost of filling it. Contents are never changed. Stops and joins when destroyed.
class TPrefaulter {
 public:
  TPrefaulter(void* data, std::size_t bytes, bool fromEnd);
  TPrefaulter(const TPrefaulter&) = delete;
  TPrefaulter& operator=(const TPrefaulter&) = delete;
  ~TPrefaulter();

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace lumipage::platform
