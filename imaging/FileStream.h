#pragma once
// A stream over a file. Open modes keep the classic numeric flags so callers can combine an
// access mode with a sharing mode; the sharing modes map to advisory flock locks.
#include <cstdint>
#include <exception>
#include <string>

#include "imaging/Stream.h"

namespace lumipage {

enum : std::uint16_t {
  fmCreate = 0xFF00,  // create or truncate, read and write
  fmOpenRead = 0x0000,
  fmOpenWrite = 0x0001,
  fmOpenReadWrite = 0x0002,
  fmShareCompat = 0x0000,
  fmShareExclusive = 0x0010,
  fmShareDenyWrite = 0x0020,
  fmShareDenyRead = 0x0030,
  fmShareDenyNone = 0x0040,
};

class TFileStream final : public TStream {
 public:
  // Raises EFCreateError "Cannot create file "name". reason" or
  // EFOpenError "Cannot open file "name". reason".
  TFileStream(const std::string& fileName, std::uint16_t mode);
  // A stream over a descriptor that stays its owner's (it is not closed here).
  struct TBorrowed {};
  TFileStream(const std::string& fileName, int handle, TBorrowed);
  ~TFileStream() override;

  [[nodiscard]] std::size_t Read(void* buffer, std::size_t count) override;
  [[nodiscard]] std::size_t Write(const void* buffer, std::size_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  [[nodiscard]] std::int64_t Size() override;
  void SetSize(std::int64_t newSize) override;

  [[nodiscard]] const std::string& FileName() const { return fileName_; }
  [[nodiscard]] int Handle() const { return fd_; }
  // The system's error of the first write that failed (ENOSPC, EFBIG, EIO ...); 0 when none did.
  [[nodiscard]] int WriteErrorCode() const { return writeError_; }
  // A failure raised while writing this stream, named after the file and the system's reason
  // when a write failed underneath it ("Cannot write file "name". No space left on device");
  // otherwise the failure itself.
  [[nodiscard]] std::exception_ptr NameWriteFailure(std::exception_ptr failure) const;
  // For files that are flushed once written: the disk starts on what was written after every
  // few megabytes instead of all of it at the flush, so the flush finds little left to wait for.
  void StartWritebackEarly() { writeback_ = true; }

 private:
  void kickWriteback(std::size_t written);

  std::string fileName_;
  int fd_ = -1;
  int writeError_ = 0;
  bool owned_ = true;
  bool writeback_ = false;
  std::size_t unkicked_ = 0;  // bytes written since writeback was last started
};

}  // namespace lumipage
