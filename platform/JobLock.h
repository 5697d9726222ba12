#pragma once
// One job at a time per program folder: an advisory lock (flock) on a lock file there, held
// from before the job touches any file until the process ends.
#include <string>

namespace lumipage::platform {

class TJobLock {
 public:
  enum class TResult { Acquired, TimedOut, Interrupted, Unavailable };

  TJobLock() = default;
  ~TJobLock();
  TJobLock(const TJobLock&) = delete;
  TJobLock& operator=(const TJobLock&) = delete;

  // Takes the lock on lockFile (created when missing), waiting up to waitSeconds for another
  // holder to let go. Unavailable: the lock file can be neither created nor opened (a folder
  // without write permission); the job then runs unlocked, as it could not write there anyway.
  // Interrupted: a caller's time-out ended the wait.
  TResult Acquire(const std::string& lockFile, int waitSeconds);
  void Release() noexcept;
  [[nodiscard]] bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace lumipage::platform
