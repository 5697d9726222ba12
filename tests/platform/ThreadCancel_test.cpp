#include "platform/ThreadCancel.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace lumipage::platform {
namespace {

struct Worker {
  std::atomic<pid_t> tid{0};
  std::atomic<bool> finished{false};
  int sleepMs = 0;
};

void* Run(void* arg) {
  auto* w = static_cast<Worker*>(arg);
  w->tid = gettid();
  // nanosleep is a cancellation point: a cancel that goes ahead at once ends the thread here.
  if (w->sleepMs > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(w->sleepMs));
  } else {
    for (;;) pause();
  }
  w->finished = true;
  return nullptr;
}

pthread_t Start(Worker& w) {
  pthread_t thread{};
  EXPECT_EQ(pthread_create(&thread, nullptr, Run, &w), 0);
  while (w.tid == 0) std::this_thread::yield();
  return thread;
}

// Under a deferral a cancel waits for the named thread to end by itself; without one it
// interrupts the thread; a thread that never ends is cancelled once the limit has passed.
TEST(ThreadCancel, DeferralLetsTheThreadEndFirstWithinTheLimit) {
  {
    Worker w;
    w.sleepMs = 100;
    pthread_t thread = Start(w);
    std::vector<pid_t> threads{w.tid};
    TCancelDeferral defer(threads, std::chrono::seconds(10));
    EXPECT_EQ(pthread_cancel(thread), 0);
    void* result = nullptr;
    pthread_join(thread, &result);
    EXPECT_TRUE(w.finished);
    EXPECT_EQ(result, nullptr);
  }
  {
    Worker w;
    w.sleepMs = 10000;
    pthread_t thread = Start(w);
    EXPECT_EQ(pthread_cancel(thread), 0);
    void* result = nullptr;
    pthread_join(thread, &result);
    EXPECT_FALSE(w.finished);
    EXPECT_EQ(result, PTHREAD_CANCELED);
  }
  {
    Worker w;  // pauses for ever
    pthread_t thread = Start(w);
    std::vector<pid_t> threads{w.tid};
    const auto start = std::chrono::steady_clock::now();
    TCancelDeferral defer(threads, std::chrono::milliseconds(100));
    EXPECT_EQ(pthread_cancel(thread), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    void* result = nullptr;
    pthread_join(thread, &result);
    EXPECT_EQ(result, PTHREAD_CANCELED);
  }
}

TEST(ThreadCancel, ThreadIdsListThisThreadAndNewOnes) {
  const std::vector<pid_t> before = ThreadIds();
  EXPECT_NE(std::find(before.begin(), before.end(), gettid()), before.end());
  Worker w;
  w.sleepMs = 200;
  pthread_t thread = Start(w);
  const std::vector<pid_t> during = ThreadIds();
  EXPECT_NE(std::find(during.begin(), during.end(), w.tid.load()), during.end());
  pthread_join(thread, nullptr);
}

}  // namespace
}  // namespace lumipage::platform
