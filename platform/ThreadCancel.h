#pragma once
// Some libraries the program loads (SANE backends) stop their helper threads with an
// asynchronous pthread_cancel. Landing while such a thread runs inside the allocator or the
// dynamic linker, or on its way out, the cancel leaves their locks held for good and the process
// hangs at the next allocation or library call. Usually the library has just closed the thread's
// pipe and the thread is about to end by itself; a deferral lets it.
//
// While a TCancelDeferral lives on a thread, a pthread_cancel made by that thread first waits,
// within the limit, until the named threads have ended; then the cancel goes ahead as asked
// (harmless on a thread that has ended). The host program supplies pthread_cancel for this.
#include <sys/types.h>

#include <chrono>
#include <vector>

namespace lumipage::platform {

// The process's threads (kernel thread ids), from /proc; empty where it cannot be read.
[[nodiscard]] std::vector<pid_t> ThreadIds();

class TCancelDeferral {
 public:
  TCancelDeferral(const std::vector<pid_t>& threads, std::chrono::milliseconds limit);
  TCancelDeferral(const TCancelDeferral&) = delete;
  TCancelDeferral& operator=(const TCancelDeferral&) = delete;
  ~TCancelDeferral();

  // Waits until every named thread has ended, or the limit has passed.
  void Wait() const;

 private:
  const std::vector<pid_t>& threads_;
  std::chrono::milliseconds limit_;
  const TCancelDeferral* previous_;
};

}  // namespace lumipage::platform
