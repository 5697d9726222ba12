#include "platform/JobLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/Interrupt.h"

namespace lumipage::platform {

namespace {
constexpr auto kPollInterval = std::chrono::milliseconds(50);
}

TJobLock::~TJobLock() { Release(); }

void TJobLock::Release() noexcept {
  if (fd_ >= 0) {
    ::close(fd_);  // closing the only descriptor releases the flock
    fd_ = -1;
  }
}

TJobLock::TResult TJobLock::Acquire(const std::string& lockFile, int waitSeconds) {
  Release();
  int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  // flock needs no write access: an existing lock file in a read-only folder still serves.
  if (fd < 0) fd = ::open(lockFile.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return TResult::Unavailable;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(waitSeconds > 0 ? waitSeconds : 0);
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      fd_ = fd;
      return TResult::Acquired;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) {
      // A file system without flock: run unlocked rather than never.
      ::close(fd);
      return TResult::Unavailable;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      ::close(fd);
      return TResult::TimedOut;
    }
    if (!SleepUnlessInterrupted(kPollInterval)) {
      ::close(fd);
      return TResult::Interrupted;
    }
  }
}

}  // namespace lumipage::platform
