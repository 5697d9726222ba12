#include "platform/Interrupt.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <mutex>

#include "platform/Messages.h"

namespace lumipage::platform {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

std::atomic<bool> g_requested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set from a signal handler");
// The handler's end of the wake-up pipe; -1 while no watch is installed.
std::atomic<int> g_wakeFd{-1};
int g_readFd = -1;
int g_signalFd = -1;
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

bool SleepUnlessInterrupted(std::chrono::steady_clock::duration duration) {
  using Clock = std::chrono::steady_clock;
  constexpr Clock::duration kSlice = std::chrono::milliseconds(50);
  const auto end = Clock::now() + duration;
  for (;;) {
    if (g_requested.load()) return false;
    const auto now = Clock::now();
    if (now >= end) return true;
    std::this_thread::sleep_for(std::min(kSlice, end - now));
  }
}

void RequestInterrupt() noexcept { OnSignal(0); }

void ClearInterrupt() noexcept { g_requested.store(false); }

TInterruptWatch::TInterruptWatch(std::thread::id jobThread) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return;
  // The handler must never block on a full pipe.
  ::fcntl(fds[1], F_SETFL, O_NONBLOCK);
  // The signals are blocked on this thread, and so on every thread started after it (a SANE
  // backend's readers among them), and taken from a signal descriptor by the watcher: a library
  // that puts back the default action (SANE's test backend does) cannot turn a caller's time-out
  // into a killed job without a report.
  sigset_t signals;
  sigemptyset(&signals);
  for (int sig : kSignals) sigaddset(&signals, sig);
  pthread_sigmask(SIG_BLOCK, &signals, &previousMask_);
  const int signalFd = ::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
  // Programs and helpers started from the job (a backend's reader process) get the signals as
  // they would have without the watch.
  static std::once_flag atFork;
  std::call_once(atFork, [] {
    pthread_atfork(nullptr, nullptr, [] {
      sigset_t set;
      sigemptyset(&set);
      for (int sig : kSignals) sigaddset(&set, sig);
      pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    });
  });
  g_readFd = fds[0];
  g_signalFd = signalFd;
  g_wakeFd.store(fds[1]);
  const int readFd = fds[0];
  watcher_ = std::thread([readFd, signalFd, jobThread] {
    for (;;) {
      pollfd waits[2] = {{readFd, POLLIN, 0}, {signalFd, POLLIN, 0}};
      const int r = ::poll(waits, signalFd >= 0 ? 2 : 1, -1);
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) return;
      if (signalFd >= 0 && (waits[1].revents & POLLIN)) {
        signalfd_siginfo info;
        while (::read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) g_requested.store(true);
        // Wakes the job's message loop, which then finds the request at its safe point.
        PostThreadMessage(jobThread, WM_NULL);
      }
      if (waits[0].revents & (POLLIN | POLLHUP)) {
        char byte;
        const ssize_t n = ::read(readFd, &byte, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || byte == 0) return;  // a zero byte ends the watch
        PostThreadMessage(jobThread, WM_NULL);
      }
    }
  });
  // A thread of a library that unblocks the signals for itself still only records the request.
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // Interrupted system calls resume: the job stops at its own safe points, not inside a write.
  action.sa_flags = SA_RESTART;
  for (int i = 0; i < 3; ++i) ::sigaction(kSignals[i], &action, &g_previous[i]);
}

TInterruptWatch::~TInterruptWatch() {
  if (!watcher_.joinable()) return;
  // Signals that came for this thread alone while they were blocked still count.
  sigset_t signals;
  sigemptyset(&signals);
  for (int sig : kSignals) sigaddset(&signals, sig);
  const timespec none{};
  while (::sigtimedwait(&signals, nullptr, &none) > 0) g_requested.store(true);
  const int fd = g_wakeFd.exchange(-1);
  const char stop = 0;
  while (::write(fd, &stop, 1) < 0 && errno == EINTR) {
  }
  watcher_.join();
  for (int i = 0; i < 3; ++i) ::sigaction(kSignals[i], &g_previous[i], nullptr);
  pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
  ::close(fd);
  ::close(g_readFd);
  g_readFd = -1;
  if (g_signalFd >= 0) ::close(g_signalFd);
  g_signalFd = -1;
}

}  // namespace lumipage::platform
