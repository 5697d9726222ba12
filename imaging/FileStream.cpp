#include "imaging/FileStream.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "imaging/Errors.h"

namespace lumipage {

TFileStream::TFileStream(const std::string& fileName, std::uint16_t mode) : fileName_(fileName) {
  const bool create = (mode & 0xFF00) == fmCreate;
  int flags = O_CLOEXEC;
  if (create) {
    flags |= O_RDWR | O_CREAT | O_TRUNC;
  } else {
    switch (mode & 0x3) {
      case fmOpenWrite: flags |= O_WRONLY; break;
      case fmOpenReadWrite: flags |= O_RDWR; break;
      default: flags |= O_RDONLY; break;
    }
  }
  fd_ = ::open(fileName.c_str(), flags, 0666);
  if (fd_ < 0) {
    const std::string reason = std::strerror(errno);
    if (create) throw EFCreateError("Cannot create file \"" + fileName + "\". " + reason);
    throw EFOpenError("Cannot open file \"" + fileName + "\". " + reason);
  }
  // Sharing modes that shut out writers become an advisory lock; other writers that honour
  // the same convention then fail to open instead of corrupting the file.
  const unsigned share = mode & 0xF0;
  int lock = 0;
  if (create || share == fmShareExclusive) {
    lock = LOCK_EX;
  } else if (share == fmShareDenyWrite) {
    lock = ((mode & 0x3) == fmOpenRead) ? LOCK_SH : LOCK_EX;
  }
  if (lock != 0 && ::flock(fd_, lock | LOCK_NB) != 0) {
    const std::string reason = std::strerror(errno);
    ::close(fd_);
    fd_ = -1;
    if (create) throw EFCreateError("Cannot create file \"" + fileName + "\". " + reason);
    throw EFOpenError("Cannot open file \"" + fileName + "\". " + reason);
  }
}

TFileStream::TFileStream(const std::string& fileName, int handle, TBorrowed)
    : fileName_(fileName), fd_(handle), owned_(false) {}

TFileStream::~TFileStream() {
  if (fd_ >= 0 && owned_) ::close(fd_);
}

std::size_t TFileStream::Read(void* buffer, std::size_t count) {
  auto* p = static_cast<std::uint8_t*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    const ssize_t n = ::read(fd_, p + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

namespace {
constexpr std::size_t kWritebackChunk = std::size_t{1} << 20;
}  // namespace

std::size_t TFileStream::Write(const void* buffer, std::size_t count) {
  const auto* p = static_cast<const std::uint8_t*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    // A large write (a whole uncompressed page) goes in pieces, so that the disk starts on the
    // first while the rest is still being copied.
    const std::size_t piece = writeback_ ? std::min(count - done, kWritebackChunk) : count - done;
    const ssize_t n = ::write(fd_, p + done, piece);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (writeError_ == 0) writeError_ = n < 0 ? errno : ENOSPC;
      break;
    }
    done += static_cast<std::size_t>(n);
    if (writeback_) kickWriteback(static_cast<std::size_t>(n));
  }
  return done;
}

void TFileStream::kickWriteback(std::size_t written) {
  unkicked_ += written;
  if (unkicked_ < kWritebackChunk) return;
  unkicked_ = 0;
  // Only a start: it waits for nothing and promises nothing; the flush is what makes it durable.
  (void)::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
}

std::exception_ptr TFileStream::NameWriteFailure(std::exception_ptr failure) const {
  if (writeError_ == 0) return failure;
  return std::make_exception_ptr(
      EWriteError("Cannot write file \"" + fileName_ + "\". " + std::strerror(writeError_)));
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  const int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
                     : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                        : SEEK_END;
  const off_t r = ::lseek(fd_, static_cast<off_t>(offset), whence);
  return r < 0 ? -1 : static_cast<std::int64_t>(r);
}

std::int64_t TFileStream::Size() {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return 0;
  return static_cast<std::int64_t>(st.st_size);
}

void TFileStream::SetSize(std::int64_t newSize) {
  if (newSize < 0 || ::ftruncate(fd_, static_cast<off_t>(newSize)) != 0)
    throw EStreamError("Stream size cannot be changed");
  if (Position() > newSize) Seek(newSize, TSeekOrigin::soBeginning);
}

}  // namespace lumipage
