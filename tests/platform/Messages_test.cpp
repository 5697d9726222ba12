#include "platform/Messages.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace lumipage::platform;

TEST(Messages, PostGetDispatchInOrder) {
  std::vector<std::uint32_t> seen;
  HWND w = CreateWindow("STATIC", "Twain Window", [&](const MSG& m) { seen.push_back(m.message); });
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(GetWindowClassName(w), "STATIC");
  EXPECT_TRUE(PostMessage(w, WM_USER + 1, 7, -3));
  EXPECT_TRUE(PostMessage(w, WM_USER + 2));
  MSG m;
  ASSERT_TRUE(GetMessage(m));
  EXPECT_EQ(m.hwnd, w);
  EXPECT_EQ(m.wParam, 7u);
  EXPECT_EQ(m.lParam, -3);
  DispatchMessage(m);
  ProcessMessages();
  EXPECT_EQ(seen, (std::vector<std::uint32_t>{WM_USER + 1, WM_USER + 2}));
  EXPECT_TRUE(DestroyWindow(w));
  EXPECT_FALSE(PostMessage(w, WM_USER));
  EXPECT_FALSE(IsWindow(w));
}

TEST(Messages, QuitEndsGetMessageAndSurvivesProcessMessages) {
  PostQuitMessage(0);
  ProcessMessages();  // leaves the quit message for the loop further out
  MSG m;
  EXPECT_FALSE(GetMessage(m));
  EXPECT_EQ(m.message, WM_QUIT);
  EXPECT_EQ(PendingMessageCount(), 0u);
}

TEST(Messages, EnableWindowReportsPreviousState) {
  HWND w = CreateWindow("STATIC", "");
  EXPECT_TRUE(IsWindowEnabled(w));
  EXPECT_FALSE(EnableWindow(w, false));  // was enabled
  EXPECT_FALSE(IsWindowEnabled(w));
  EXPECT_TRUE(EnableWindow(w, true));  // was disabled
  DestroyWindow(w);
}

TEST(Messages, PostFromAnotherThreadWakesTheOwner) {
  HWND w = CreateWindow("STATIC", "");
  std::thread t([w] { PostMessage(w, WM_USER + 9); });
  MSG m;
  ASSERT_TRUE(GetMessage(m));
  EXPECT_EQ(m.message, WM_USER + 9);
  t.join();
  DestroyWindow(w);
}
