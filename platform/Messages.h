#pragma once
// Windows and a per-thread message queue: what the TWAIN parent window, the acquisition message
// loop and the per-row message processing of the page pipeline need. One instance per process,
// shared with the source manager library that the program loads.
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace lumipage::platform {

struct WindowTag;
using HWND = WindowTag*;

struct MSG {
  HWND hwnd = nullptr;
  std::uint32_t message = 0;
  std::uintptr_t wParam = 0;
  std::intptr_t lParam = 0;
};

constexpr std::uint32_t WM_NULL = 0x0000;
constexpr std::uint32_t WM_QUIT = 0x0012;
constexpr std::uint32_t WM_USER = 0x0400;

// Called by DispatchMessage for messages of a window that has one.
using WindowProc = std::function<void(const MSG&)>;

// A hidden window owned by the calling thread; null when the class name is empty.
[[nodiscard]] HWND CreateWindow(const std::string& className, const std::string& caption,
                                WindowProc proc = {});
bool DestroyWindow(HWND hwnd);
[[nodiscard]] bool IsWindow(HWND hwnd);
// Returns whether the window was disabled before, as Windows does.
bool EnableWindow(HWND hwnd, bool enable);
[[nodiscard]] bool IsWindowEnabled(HWND hwnd);
[[nodiscard]] std::string GetWindowClassName(HWND hwnd);

// Queues a message for the window's thread; false for an unknown window.
bool PostMessage(HWND hwnd, std::uint32_t message, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);
// Queues a message without a window for the given thread (which need not have asked for its
// queue yet): another thread wakes a waiting GetMessage with it.
void PostThreadMessage(std::thread::id thread, std::uint32_t message, std::uintptr_t wParam = 0,
                       std::intptr_t lParam = 0);
// Queues WM_QUIT for the calling thread.
void PostQuitMessage(int exitCode);
// Waits for the next message of the calling thread; false when it is WM_QUIT.
bool GetMessage(MSG& msg);
// Takes the next message when there is one, without waiting.
bool PeekMessage(MSG& msg);
void TranslateMessage(const MSG& msg);
void DispatchMessage(const MSG& msg);
// Runs every message already queued for the calling thread, then returns (a posted quit
// message is put back, so a loop further out still sees it).
void ProcessMessages();
// Number of messages queued for the calling thread.
[[nodiscard]] std::size_t PendingMessageCount();

}  // namespace lumipage::platform
