#pragma once
// The information page: caption, "File version:" with the version, and a choice of OK or Cancel,
// asked on the controlling terminal. Without a terminal the page counts as cancelled.
#include <string>

namespace lumipage::platform {

constexpr int mrOk = 1;
constexpr int mrCancel = 2;

// Returns mrOk or mrCancel. ttyPath is the terminal to talk to (tests pass a pseudo-terminal).
[[nodiscard]] int ShowInformationPage(const std::string& caption, const std::string& versionText,
                                      const std::string& ttyPath = "/dev/tty");

// The executable's version as "major.minor.release".
[[nodiscard]] std::string FileVersionText();

}  // namespace lumipage::platform
