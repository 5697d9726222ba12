#include "platform/LargeMemory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace lumipage::platform {
namespace {

struct Free {
  void operator()(void* p) const { std::free(p); }
};

// Prefaulting runs beside a writer that fills the block from either end; whatever the
// interleaving, every byte the writer put down is still there (a prefault never writes), and a
// prefaulter destroyed early stops cleanly.
TEST(LargeMemory, PrefaultNeverChangesWhatTheWriterWrote) {
  const std::size_t bytes = kLargeBlockBytes * 3 + 12345;
  for (bool fromEnd : {false, true}) {
    std::unique_ptr<unsigned char, Free> block(static_cast<unsigned char*>(AllocateLarge(bytes, false)));
    ASSERT_NE(block, nullptr);
    auto* p = block.get();
    {
      TPrefaulter prefault(p, bytes, fromEnd);
      for (std::size_t i = 0; i < bytes; ++i) {
        const std::size_t at = fromEnd ? bytes - 1 - i : i;
        p[at] = static_cast<unsigned char>(at * 131 + 7);
      }
    }
    for (std::size_t i = 0; i < bytes; ++i) ASSERT_EQ(p[i], static_cast<unsigned char>(i * 131 + 7)) << i;
    { TPrefaulter stopped(p, bytes, fromEnd); }
  }
  TPrefaulter none(nullptr, 0, false);
}

TEST(LargeMemory, ZeroedWhenAskedAtEverySize) {
  for (std::size_t bytes : {std::size_t{0}, std::size_t{100}, kHugePageBlockBytes - 1, kHugePageBlockBytes,
                            kHugePageBlockBytes + 12345, kLargeBlockBytes, kLargeBlockBytes + 1}) {
    std::unique_ptr<unsigned char, Free> block(static_cast<unsigned char*>(AllocateLarge(bytes, true)));
    ASSERT_NE(block, nullptr);
    for (std::size_t i = 0; i < bytes; ++i) ASSERT_EQ(block.get()[i], 0) << bytes;
  }
}

}  // namespace
}  // namespace lumipage::platform
