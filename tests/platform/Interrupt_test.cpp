#include "platform/Interrupt.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <unistd.h>

#include <chrono>
#include <csignal>

#include "platform/Messages.h"

using namespace lumipage::platform;

namespace {

TEST(Interrupt, SignalIsRecordedAndWakesTheWaitingThread) {
  ClearInterrupt();
  {
    TInterruptWatch watch;
    EXPECT_FALSE(InterruptRequested());
    EXPECT_NO_THROW(CheckInterrupt());
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
      ClearInterrupt();
      // As a caller sends it: to the process.
      ASSERT_EQ(::kill(::getpid(), sig), 0);
      // The waiting message loop wakes up to find the request.
      MSG msg;
      ASSERT_TRUE(GetMessage(msg));
      EXPECT_EQ(msg.message, WM_NULL);
      EXPECT_TRUE(InterruptRequested()) << sig;
      EXPECT_THROW(CheckInterrupt(), EJobInterrupted);
    }
    // A library that puts the default action back (SANE's test backend does) must not let the
    // next signal kill the job.
    ClearInterrupt();
    std::signal(SIGTERM, SIG_DFL);
    ASSERT_EQ(::kill(::getpid(), SIGTERM), 0);
    MSG msg;
    ASSERT_TRUE(GetMessage(msg));
    EXPECT_TRUE(InterruptRequested());
    // A waiting step ends at once.
    EXPECT_FALSE(SleepUnlessInterrupted(std::chrono::hours(1)));
  }
  ClearInterrupt();
  // The previous handlers and mask are back once the watch ends.
  struct sigaction now {};
  ASSERT_EQ(::sigaction(SIGTERM, nullptr, &now), 0);
  EXPECT_EQ(now.sa_handler, SIG_DFL);
  sigset_t mask;
  ASSERT_EQ(pthread_sigmask(SIG_BLOCK, nullptr, &mask), 0);
  EXPECT_FALSE(sigismember(&mask, SIGTERM));
  EXPECT_TRUE(SleepUnlessInterrupted(std::chrono::milliseconds(1)));
}

}  // namespace
