#pragma once
// A caller that gives up on a job (its time-out) sends SIGTERM, SIGINT or SIGHUP. The signal
// handler only records the request and wakes the job's thread; the job stops at its next safe
// point (between messages, pages and PDF steps, never inside a file write), cleans up and reports
// "Job interrupted".
#include <signal.h>

#include <chrono>
#include <stdexcept>
#include <thread>

namespace lumipage::platform {

// Raised at a safe point once an interruption was requested.
class EJobInterrupted : public std::runtime_error {
 public:
  EJobInterrupted() : std::runtime_error("Job interrupted") {}
};

// While one lives, SIGTERM, SIGINT and SIGHUP sent to the process request an interruption and
// wake the given thread's message queue; the previous handlers and signal mask come back when it
// ends. Made on the program's first thread before any other starts.
class TInterruptWatch {
 public:
  explicit TInterruptWatch(std::thread::id jobThread = std::this_thread::get_id());
  ~TInterruptWatch();
  TInterruptWatch(const TInterruptWatch&) = delete;
  TInterruptWatch& operator=(const TInterruptWatch&) = delete;

 private:
  std::thread watcher_;
  sigset_t previousMask_{};
};

// Whether an interruption was requested.
[[nodiscard]] bool InterruptRequested() noexcept;
// Raises EJobInterrupted when an interruption was requested: the call marks a safe point.
void CheckInterrupt();
// Sleeps for the duration, or less when an interruption is requested meanwhile (looked at every
// few tens of milliseconds, so that every wait of the job ends well within a second of a signal).
// False when the sleep was cut short by an interruption.
bool SleepUnlessInterrupted(std::chrono::steady_clock::duration duration);
// Requests an interruption as a signal does (tests; also safe from a signal handler), or
// withdraws the request.
void RequestInterrupt() noexcept;
void ClearInterrupt() noexcept;

}  // namespace lumipage::platform
