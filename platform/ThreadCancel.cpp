#include "platform/ThreadCancel.h"

#include <dlfcn.h>
#include <pthread.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>

namespace lumipage::platform {
namespace {

thread_local const TCancelDeferral* active = nullptr;

bool Ended(pid_t tid) {
  // A thread other than the first leaves /proc as soon as it has ended, joined or not.
  std::error_code ec;
  return !std::filesystem::exists("/proc/self/task/" + std::to_string(tid), ec);
}

}  // namespace

std::vector<pid_t> ThreadIds() {
  std::vector<pid_t> ids;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task", ec)) {
    const std::string name = entry.path().filename().string();
    if (!name.empty() && std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }))
      ids.push_back(static_cast<pid_t>(std::stol(name)));
  }
  return ids;
}

TCancelDeferral::TCancelDeferral(const std::vector<pid_t>& threads, std::chrono::milliseconds limit)
    : threads_(threads), limit_(limit), previous_(active) {
  active = this;
}

TCancelDeferral::~TCancelDeferral() { active = previous_; }

void TCancelDeferral::Wait() const {
  const auto until = std::chrono::steady_clock::now() + limit_;
  while (!std::all_of(threads_.begin(), threads_.end(), Ended) && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::microseconds(100));
}

}  // namespace lumipage::platform

// Found before the C library's by every library the host program loads.
extern "C" int pthread_cancel(pthread_t thread) {
  using Cancel = int (*)(pthread_t);
  static const auto next = reinterpret_cast<Cancel>(dlsym(RTLD_NEXT, "pthread_cancel"));
  if (const auto* deferral = lumipage::platform::active) deferral->Wait();
  return next ? next(thread) : ESRCH;
}
