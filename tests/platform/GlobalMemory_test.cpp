#include "platform/GlobalMemory.h"

#include <gtest/gtest.h>

#include "platform/LargeMemory.h"

using namespace lumipage::platform;

TEST(GlobalMemory, AllocateLockSizeFree) {
  size_t live = GlobalLiveCount();
  HGLOBAL h = GlobalAlloc(GHND, 100);
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(GlobalIsValid(h));
  EXPECT_EQ(GlobalSize(h), 100u);
  auto* p = static_cast<unsigned char*>(GlobalLock(h));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(p[i], 0);
  EXPECT_TRUE(GlobalLock(h) == p);  // a second lock gives the same address
  EXPECT_TRUE(GlobalUnlock(h));     // still locked once
  EXPECT_FALSE(GlobalUnlock(h));
  EXPECT_EQ(GlobalFree(h), nullptr);
  EXPECT_FALSE(GlobalIsValid(h));
  EXPECT_EQ(GlobalSize(h), 0u);
  EXPECT_EQ(GlobalLock(h), nullptr);
  EXPECT_EQ(GlobalFree(h), h);  // freeing twice is reported, not a crash
  EXPECT_EQ(GlobalLiveCount(), live);
}

TEST(GlobalMemory, RefusesAbsurdSizesAndUnknownHandles) {
  EXPECT_EQ(GlobalAlloc(GHND, ~size_t{0}), nullptr);
  int local = 0;
  auto fake = reinterpret_cast<HGLOBAL>(&local);
  EXPECT_FALSE(GlobalIsValid(fake));
  EXPECT_FALSE(GlobalIsValid(nullptr));
}

TEST(GlobalMemory, RaiiOwnerFreesBlock) {
  size_t live = GlobalLiveCount();
  {
    GlobalBlock b(GHND, 6);
    GlobalLockGuard g(b.get());
    EXPECT_EQ(g.size(), 6u);
    EXPECT_EQ(GlobalLiveCount(), live + 1);
  }
  EXPECT_EQ(GlobalLiveCount(), live);
}

// Detaching hands over the bytes and ends the block; a locked or unknown block is left alone.
// Large blocks (huge-page advice) zero like small ones.
TEST(GlobalMemory, DetachTakesTheBytesOfUnlockedBlocksOnly) {
  size_t live = GlobalLiveCount();
  for (size_t bytes : {size_t{16}, kLargeBlockBytes + 5}) {
    HGLOBAL h = GlobalAlloc(GHND, bytes);
    ASSERT_NE(h, nullptr);
    auto* p = static_cast<unsigned char*>(GlobalLock(h));
    EXPECT_EQ(p[0] + p[bytes - 1], 0);
    p[bytes - 1] = 7;
    size_t size = 1;
    EXPECT_EQ(GlobalDetach(h, size), nullptr);  // still locked
    EXPECT_EQ(size, 0u);
    EXPECT_TRUE(GlobalIsValid(h));
    GlobalUnlock(h);
    DetachedMemory memory = GlobalDetach(h, size);
    ASSERT_EQ(memory.get(), p);
    EXPECT_EQ(size, bytes);
    EXPECT_EQ(memory.get()[bytes - 1], 7);
    EXPECT_FALSE(GlobalIsValid(h));
    EXPECT_EQ(GlobalDetach(h, size), nullptr);
  }
  EXPECT_EQ(GlobalLiveCount(), live);
}
