#include "platform/GlobalMemory.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/LargeMemory.h"

namespace lumipage::platform {
namespace {

// Blocks above this size are refused like an allocation failure: no scanned page comes near it,
// and a header read from a damaged file must not ask for terabytes.
constexpr std::size_t kMaxBlockBytes = std::size_t{1} << 34;

struct Block {
  std::size_t size = 0;
  unsigned locks = 0;
  DetachedMemory data;
};

struct Registry {
  std::mutex mutex;
  std::unordered_map<Block*, std::unique_ptr<Block>> live;
};

Registry& registry() {
  static Registry r;
  return r;
}

Block* find(HGLOBAL h) {
  auto* b = reinterpret_cast<Block*>(h);
  return registry().live.count(b) ? b : nullptr;
}

}  // namespace

HGLOBAL GlobalAlloc(unsigned flags, std::size_t bytes) {
  if (bytes > kMaxBlockBytes) return nullptr;
  // One byte at least, so that a zero-size block still has a distinct address.
  void* data = AllocateLarge(bytes, (flags & GMEM_ZEROINIT) != 0);
  if (!data) return nullptr;
  auto block = std::make_unique<Block>();
  block->size = bytes;
  block->data.reset(static_cast<std::uint8_t*>(data));
  Block* key = block.get();
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  r.live.emplace(key, std::move(block));
  return reinterpret_cast<HGLOBAL>(key);
}

void* GlobalLock(HGLOBAL h) {
  std::lock_guard lock(registry().mutex);
  Block* b = find(h);
  if (!b) return nullptr;
  ++b->locks;
  return b->data.get();
}

bool GlobalUnlock(HGLOBAL h) {
  std::lock_guard lock(registry().mutex);
  Block* b = find(h);
  if (!b || b->locks == 0) return false;
  return --b->locks > 0;
}

std::size_t GlobalSize(HGLOBAL h) {
  std::lock_guard lock(registry().mutex);
  Block* b = find(h);
  return b ? b->size : 0;
}

HGLOBAL GlobalFree(HGLOBAL h) {
  std::unique_ptr<Block> owned;
  {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.live.find(reinterpret_cast<Block*>(h));
    if (it == r.live.end()) return h;
    owned = std::move(it->second);
    r.live.erase(it);
  }
  return nullptr;
}

void FreeMemory::operator()(std::uint8_t* p) const { std::free(p); }

DetachedMemory GlobalDetach(HGLOBAL h, std::size_t& size) {
  size = 0;
  std::unique_ptr<Block> owned;
  {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.live.find(reinterpret_cast<Block*>(h));
    if (it == r.live.end() || it->second->locks != 0) return nullptr;
    owned = std::move(it->second);
    r.live.erase(it);
  }
  size = owned->size;
  return std::move(owned->data);
}

bool GlobalIsValid(HGLOBAL h) {
  std::lock_guard lock(registry().mutex);
  return find(h) != nullptr;
}

std::size_t GlobalLiveCount() {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  return r.live.size();
}

}  // namespace lumipage::platform
