#include "platform/Interrupt.h"

#include <gtest/gtest.h>

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
      ASSERT_EQ(std::raise(sig), 0);
      EXPECT_TRUE(InterruptRequested()) << sig;
      // The waiting message loop wakes up to find the request.
      MSG msg;
      ASSERT_TRUE(GetMessage(msg));
      EXPECT_EQ(msg.message, WM_NULL);
      EXPECT_THROW(CheckInterrupt(), EJobInterrupted);
    }
  }
  ClearInterrupt();
  // The previous handlers are back once the watch ends.
  struct sigaction now {};
  ASSERT_EQ(::sigaction(SIGTERM, nullptr, &now), 0);
  EXPECT_EQ(now.sa_handler, SIG_DFL);
}

}  // namespace
