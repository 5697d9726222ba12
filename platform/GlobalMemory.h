#pragma once
// Movable global memory blocks. TWAIN capability containers and native-transfer bitmaps travel
// in them between the source manager and the program, so there is one registry per process
// (the host program exports it to the source manager it loads).
#include <cstddef>
#include <cstdint>
#include <memory>

namespace lumipage::platform {

struct GlobalBlockTag;
using HGLOBAL = GlobalBlockTag*;

enum GlobalFlags : unsigned {
  GMEM_FIXED = 0x0000,
  GMEM_MOVEABLE = 0x0002,
  GMEM_ZEROINIT = 0x0040,
  GHND = GMEM_MOVEABLE | GMEM_ZEROINIT,
  GPTR = GMEM_FIXED | GMEM_ZEROINIT,
};

// Null when the block cannot be allocated (or bytes is absurd).
[[nodiscard]] HGLOBAL GlobalAlloc(unsigned flags, std::size_t bytes);
// Address of the block's bytes, null for an invalid handle; counts locks.
[[nodiscard]] void* GlobalLock(HGLOBAL h);
// False once the lock count reaches zero (as the Windows call) or for an invalid handle.
bool GlobalUnlock(HGLOBAL h);
// Size in bytes; 0 for an invalid handle.
[[nodiscard]] std::size_t GlobalSize(HGLOBAL h);
// Null on success, the handle itself when it was not a valid block.
HGLOBAL GlobalFree(HGLOBAL h);
// Memory from malloc, such as the bytes taken out of a block; released with std::free.
struct FreeMemory {
  void operator()(std::uint8_t* p) const;
};
using DetachedMemory = std::unique_ptr<std::uint8_t, FreeMemory>;
// Takes the bytes out of an unlocked block and frees the block, so that a page handed over in
// a block is kept without copying it. Null (and the block untouched) for an invalid or locked
// handle; size receives the block's size.
[[nodiscard]] DetachedMemory GlobalDetach(HGLOBAL h, std::size_t& size);
// Whether h is a live block of this process.
[[nodiscard]] bool GlobalIsValid(HGLOBAL h);
// Number of live blocks (leak checks in tests).
[[nodiscard]] std::size_t GlobalLiveCount();

// Owns one block; frees it on destruction.
class GlobalBlock {
 public:
  GlobalBlock() = default;
  explicit GlobalBlock(HGLOBAL h) : handle_(h) {}
  GlobalBlock(unsigned flags, std::size_t bytes) : handle_(GlobalAlloc(flags, bytes)) {}
  GlobalBlock(const GlobalBlock&) = delete;
  GlobalBlock& operator=(const GlobalBlock&) = delete;
  GlobalBlock(GlobalBlock&& o) noexcept : handle_(o.release()) {}
  GlobalBlock& operator=(GlobalBlock&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }
  ~GlobalBlock() { reset(); }

  [[nodiscard]] HGLOBAL get() const { return handle_; }
  [[nodiscard]] HGLOBAL release() {
    HGLOBAL h = handle_;
    handle_ = nullptr;
    return h;
  }
  void reset(HGLOBAL h = nullptr) {
    if (handle_) GlobalFree(handle_);
    handle_ = h;
  }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  HGLOBAL handle_ = nullptr;
};

// Keeps a block locked for a scope.
class GlobalLockGuard {
 public:
  explicit GlobalLockGuard(HGLOBAL h) : handle_(h), data_(GlobalLock(h)) {}
  GlobalLockGuard(const GlobalLockGuard&) = delete;
  GlobalLockGuard& operator=(const GlobalLockGuard&) = delete;
  ~GlobalLockGuard() {
    if (data_) GlobalUnlock(handle_);
  }
  [[nodiscard]] void* data() const { return data_; }
  template <class T>
  [[nodiscard]] T* as() const { return static_cast<T*>(data_); }
  [[nodiscard]] std::size_t size() const { return data_ ? GlobalSize(handle_) : 0; }
  // Unlocks early; data() is null afterwards.
  void unlock() {
    if (data_) GlobalUnlock(handle_);
    data_ = nullptr;
  }

 private:
  HGLOBAL handle_;
  void* data_;
};

}  // namespace lumipage::platform
