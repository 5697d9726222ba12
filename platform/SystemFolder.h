#pragma once
// The folder that plays the part of the Windows system folder: the TWAIN source manager library
// and its settings live there.
#include <string>

namespace lumipage::platform {

// $LUMIPAGE_SYSTEM_DIR when set and not empty, else the folder the build or installation put the
// source manager in; always with a trailing '/'. Empty only when neither is known.
[[nodiscard]] std::string SystemFolder();

}  // namespace lumipage::platform
