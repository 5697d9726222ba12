#pragma once
// A caller that gives up on a job (its time-out) sends SIGTERM, SIGINT or SIGHUP. The signal
// handler only records the request and wakes the job's thread; the job stops at its next safe
// point (between messages, pages and PDF steps, never inside a file write), cleans up and reports
// "Job interrupted".
#include <stdexcept>
#include <thread>

namespace lumipage::platform {

// Raised at a safe point once an interruption was requested.
class EJobInterrupted : public std::runtime_error {
 public:
  EJobInterrupted() : std::runtime_error("Job interrupted") {}
};

// While one lives, SIGTERM, SIGINT and SIGHUP request an interruption and wake the given
// thread's message queue; the previous handlers come back when it ends.
class TInterruptWatch {
 public:
  explicit TInterruptWatch(std::thread::id jobThread = std::this_thread::get_id());
  ~TInterruptWatch();
  TInterruptWatch(const TInterruptWatch&) = delete;
  TInterruptWatch& operator=(const TInterruptWatch&) = delete;

 private:
  std::thread watcher_;
};

// Whether an interruption was requested.
[[nodiscard]] bool InterruptRequested() noexcept;
// Raises EJobInterrupted when an interruption was requested: the call marks a safe point.
void CheckInterrupt();
// Requests an interruption as a signal does (tests; also safe from a signal handler), or
// withdraws the request.
void RequestInterrupt() noexcept;
void ClearInterrupt() noexcept;

}  // namespace lumipage::platform
