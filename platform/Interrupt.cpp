#include "platform/Interrupt.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>

#include "platform/Messages.h"

namespace lumipage::platform {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

std::atomic<bool> g_requested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set from a signal handler");
// The handler's end of the wake-up pipe; -1 while no watch is installed.
std::atomic<int> g_wakeFd{-1};
int g_readFd = -1;
struct sigaction g_previous[3];

// Async-signal-safe: an atomic store and a write to a pipe.
extern "C" void OnSignal(int) {
  const int saved = errno;
  g_requested.store(true);
  const int fd = g_wakeFd.load();
  if (fd >= 0) {
    const char byte = 1;
    (void)!::write(fd, &byte, 1);
  }
  errno = saved;
}

}  // namespace

bool InterruptRequested() noexcept { return g_requested.load(); }

void CheckInterrupt() {
  if (g_requested.load()) throw EJobInterrupted();
}

void RequestInterrupt() noexcept { OnSignal(0); }

void ClearInterrupt() noexcept { g_requested.store(false); }

TInterruptWatch::TInterruptWatch(std::thread::id jobThread) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return;
  // The handler must never block on a full pipe.
  ::fcntl(fds[1], F_SETFL, O_NONBLOCK);
  g_readFd = fds[0];
  g_wakeFd.store(fds[1]);
  const int readFd = fds[0];
  watcher_ = std::thread([readFd, jobThread] {
    // The signals go to the job's thread, where they break off a blocking wait.
    sigset_t signals;
    sigemptyset(&signals);
    for (int sig : kSignals) sigaddset(&signals, sig);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    char byte;
    for (;;) {
      const ssize_t n = ::read(readFd, &byte, 1);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0 || byte == 0) return;  // a zero byte ends the watch
      // Wakes the job's message loop, which then finds the request at its safe point.
      PostThreadMessage(jobThread, WM_NULL);
    }
  });
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // Interrupted system calls resume: the job stops at its own safe points, not inside a write.
  action.sa_flags = SA_RESTART;
  for (int i = 0; i < 3; ++i) ::sigaction(kSignals[i], &action, &g_previous[i]);
}

TInterruptWatch::~TInterruptWatch() {
  if (!watcher_.joinable()) return;
  for (int i = 0; i < 3; ++i) ::sigaction(kSignals[i], &g_previous[i], nullptr);
  const int fd = g_wakeFd.exchange(-1);
  const char stop = 0;
  while (::write(fd, &stop, 1) < 0 && errno == EINTR) {
  }
  watcher_.join();
  ::close(fd);
  ::close(g_readFd);
  g_readFd = -1;
}

}  // namespace lumipage::platform
