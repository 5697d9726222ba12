#pragma once
// An open libtiff handle on one of the image library's streams. libtiff reads, writes and seeks
// through the stream (client open); the stream stays open and belongs to the caller. Offsets
// inside the TIFF count from the stream position given at open, so a TIFF embedded at any
// position of a larger stream reads as if it started at 0.
#include <cstdint>
#include <memory>

#include "imaging/Stream.h"

struct tiff;

namespace lumipage {

// No single allocation inside libtiff may exceed this; a header that claims a gigantic strip
// then fails cleanly instead of exhausting memory.
inline constexpr std::int64_t kTiffMaxSingleAlloc = std::int64_t{1} << 30;

class TTiffHandle {
 public:
  // mode: "r" read, "w" write a new file, "a" append a directory to an existing file.
  // Raises ETiffError "TIFFOpen" when libtiff refuses the stream.
  TTiffHandle(TStream& stream, const char* mode, std::int64_t base = 0);
  TTiffHandle(const TTiffHandle&) = delete;
  TTiffHandle& operator=(const TTiffHandle&) = delete;
  ~TTiffHandle();

  [[nodiscard]] tiff* Get() const { return tif_; }

  // Writes pending data and the current directory, then closes. Raises ETiffError
  // "TIFFWriteDirectory" when that fails, so a full disk is not reported as success. The
  // destructor closes without reporting.
  void Close();

  struct Io;

 private:
  std::unique_ptr<Io> io_;
  tiff* tif_ = nullptr;
};

}  // namespace lumipage
