#include "platform/Messages.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace lumipage::platform {
namespace {

struct Queue {
  std::mutex mutex;
  std::condition_variable ready;
  std::deque<MSG> messages;
};

struct Window {
  std::string className;
  std::string caption;
  WindowProc proc;
  bool enabled = true;
  std::shared_ptr<Queue> queue;
};

struct State {
  std::mutex mutex;
  std::map<Window*, std::unique_ptr<Window>> windows;
  std::map<std::thread::id, std::shared_ptr<Queue>> queues;
};

State& state() {
  static State s;
  return s;
}

std::shared_ptr<Queue> queueOf(std::thread::id id) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  auto& q = s.queues[id];
  if (!q) q = std::make_shared<Queue>();
  return q;
}

std::shared_ptr<Queue> currentQueue() { return queueOf(std::this_thread::get_id()); }

// Caller holds state().mutex.
Window* findLocked(HWND hwnd) {
  auto& s = state();
  auto it = s.windows.find(reinterpret_cast<Window*>(hwnd));
  return it == s.windows.end() ? nullptr : it->second.get();
}

void push(Queue& q, const MSG& msg) {
  {
    std::lock_guard lock(q.mutex);
    q.messages.push_back(msg);
  }
  q.ready.notify_all();
}

}  // namespace

HWND CreateWindow(const std::string& className, const std::string& caption, WindowProc proc) {
  if (className.empty()) return nullptr;
  auto queue = currentQueue();
  auto w = std::make_unique<Window>();
  w->className = className;
  w->caption = caption;
  w->proc = std::move(proc);
  w->queue = std::move(queue);
  Window* key = w.get();
  auto& s = state();
  std::lock_guard lock(s.mutex);
  s.windows.emplace(key, std::move(w));
  return reinterpret_cast<HWND>(key);
}

bool DestroyWindow(HWND hwnd) {
  std::unique_ptr<Window> gone;
  auto& s = state();
  std::lock_guard lock(s.mutex);
  auto it = s.windows.find(reinterpret_cast<Window*>(hwnd));
  if (it == s.windows.end()) return false;
  gone = std::move(it->second);
  s.windows.erase(it);
  return true;
}

bool IsWindow(HWND hwnd) {
  std::lock_guard lock(state().mutex);
  return findLocked(hwnd) != nullptr;
}

bool EnableWindow(HWND hwnd, bool enable) {
  std::lock_guard lock(state().mutex);
  Window* w = findLocked(hwnd);
  if (!w) return false;
  bool wasDisabled = !w->enabled;
  w->enabled = enable;
  return wasDisabled;
}

bool IsWindowEnabled(HWND hwnd) {
  std::lock_guard lock(state().mutex);
  Window* w = findLocked(hwnd);
  return w && w->enabled;
}

std::string GetWindowClassName(HWND hwnd) {
  std::lock_guard lock(state().mutex);
  Window* w = findLocked(hwnd);
  return w ? w->className : std::string();
}

bool PostMessage(HWND hwnd, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
  std::shared_ptr<Queue> q;
  {
    std::lock_guard lock(state().mutex);
    Window* w = findLocked(hwnd);
    if (!w) return false;
    q = w->queue;
  }
  push(*q, MSG{hwnd, message, wParam, lParam});
  return true;
}

void PostThreadMessage(std::thread::id thread, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
  push(*queueOf(thread), MSG{nullptr, message, wParam, lParam});
}

void PostQuitMessage(int exitCode) {
  push(*currentQueue(), MSG{nullptr, WM_QUIT, static_cast<std::uintptr_t>(exitCode), 0});
}

bool GetMessage(MSG& msg) {
  auto q = currentQueue();
  std::unique_lock lock(q->mutex);
  q->ready.wait(lock, [&] { return !q->messages.empty(); });
  msg = q->messages.front();
  q->messages.pop_front();
  return msg.message != WM_QUIT;
}

bool PeekMessage(MSG& msg) {
  auto q = currentQueue();
  std::lock_guard lock(q->mutex);
  if (q->messages.empty()) return false;
  msg = q->messages.front();
  q->messages.pop_front();
  return true;
}

void TranslateMessage(const MSG&) {
  // No keyboard input reaches these windows: nothing to translate.
}

void DispatchMessage(const MSG& msg) {
  WindowProc proc;
  {
    std::lock_guard lock(state().mutex);
    Window* w = findLocked(msg.hwnd);
    if (!w || !w->proc) return;
    proc = w->proc;
  }
  proc(msg);
}

void ProcessMessages() {
  // Only what is queued now: messages posted while dispatching wait for the next round.
  std::size_t n = PendingMessageCount();
  MSG msg;
  while (n-- > 0 && PeekMessage(msg)) {
    if (msg.message == WM_QUIT) {
      auto q = currentQueue();
      std::lock_guard lock(q->mutex);
      q->messages.push_front(msg);
      return;
    }
    TranslateMessage(msg);
    DispatchMessage(msg);
  }
}

std::size_t PendingMessageCount() {
  auto q = currentQueue();
  std::lock_guard lock(q->mutex);
  return q->messages.size();
}

}  // namespace lumipage::platform
