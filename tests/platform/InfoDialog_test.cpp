#include "platform/InfoDialog.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/Interrupt.h"

using namespace lumipage::platform;

namespace {

// Answers the dialog on a pseudo-terminal and returns what it showed.
int answer(const std::string& input, std::string* shown) {
  int master = -1, slave = -1;
  char name[256] = {};
  if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) return -1;
  std::thread typist([&] {
    std::string out;
    char buf[256];
    // Wait for the prompt, then type.
    while (out.find("Cancel") == std::string::npos) {
      ssize_t n = ::read(master, buf, sizeof buf);
      if (n <= 0) break;
      out.append(buf, static_cast<size_t>(n));
    }
    if (shown) *shown = out;
    (void)!::write(master, input.data(), input.size());
  });
  int r = ShowInformationPage("Orrinwell Lumipage", "1.0.0", name);
  typist.join();
  ::close(master);
  ::close(slave);
  return r;
}

}  // namespace

TEST(InfoDialog, NoTerminalCountsAsCancelled) {
  EXPECT_EQ(ShowInformationPage("x", "1.0.0", "/nonexistent/tty"), mrCancel);
}

TEST(InfoDialog, AnswersOnATerminal) {
  std::string shown;
  EXPECT_EQ(answer("\n", &shown), mrOk);  // OK is the default button
  EXPECT_NE(shown.find("Orrinwell Lumipage"), std::string::npos);
  EXPECT_NE(shown.find("File version: 1.0.0"), std::string::npos);
  EXPECT_EQ(answer("ok\n", nullptr), mrOk);
  EXPECT_EQ(answer("cancel\n", nullptr), mrCancel);
  EXPECT_EQ(answer("\x1b\n", nullptr), mrCancel);  // Escape, then the line ends
}

TEST(InfoDialog, VersionText) { EXPECT_EQ(FileVersionText(), "1.0.0"); }

TEST(InfoDialog, CallersTimeOutEndsTheWaitForAnAnswer) {
  int master = -1, slave = -1;
  char name[256] = {};
  ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
  ClearInterrupt();
  // Nobody answers; the request comes from another thread, as the signal watcher's does.
  std::thread caller([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    RequestInterrupt();
  });
  EXPECT_EQ(ShowInformationPage("Orrinwell Lumipage", "1.0.0", name), mrCancel);
  caller.join();
  EXPECT_TRUE(InterruptRequested());
  ClearInterrupt();
  ::close(master);
  ::close(slave);
}
