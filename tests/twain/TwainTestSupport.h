#pragma once
// Helpers shared by the scanner tests: a system folder of its own with the source manager library
// and a twain_32.ini, the text of an expected failure, and a clean message queue.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/Messages.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

namespace lumipage::testing {

// A system folder holding the real source manager (linked from the build folder) and the given
// twain_32.ini, made the process's system folder for its lifetime.
class VirtualSystemFolder {
 public:
  explicit VirtualSystemFolder(const std::optional<std::string>& ini) {
    std::filesystem::create_symlink(std::string(LUMIPAGE_BUILD_DIR) + "/libtwain_32.so", folder_.File("libtwain_32.so"));
    if (ini) folder_.Write("twain_32.ini", *ini);
    env_.emplace("LUMIPAGE_SYSTEM_DIR", folder_.Path());
    // Unless a test set up its own SANE devices, SANE sees no configuration, so scanners attached
    // to the machine never join the test's list.
    if (!std::getenv("SANE_CONFIG_DIR")) saneEnv_.emplace("SANE_CONFIG_DIR", folder_.Path());
  }
  [[nodiscard]] const TempDir& Folder() const { return folder_; }

 private:
  TempDir folder_;
  std::optional<ScopedEnv> env_;
  std::optional<ScopedEnv> saneEnv_;
};

// What the failure of type E that call raises says: its Text() where it has one, else what().
// A test failure when call raises nothing.
template <class E, class Call>
std::string FailureOf(Call&& call) {
  try {
    call();
  } catch (const E& e) {
    if constexpr (requires { e.Text(); }) {
      return e.Text();
    } else {
      return e.what();
    }
  }
  ADD_FAILURE() << "no failure";
  return "<no failure>";
}

// Drops whatever a test left in the thread's message queue.
inline void DrainMessages() {
  platform::MSG msg;
  while (platform::PeekMessage(msg)) {
  }
}

}  // namespace lumipage::testing
