#pragma once
// The folder that plays the part of the Windows system folder: the TWAIN source manager library
// and its settings live there.
#include <string>

namespace lumipage::platform {

// The source manager library's file name in the system folder.
inline constexpr const char* kSourceManagerFileName = "libtwain_32.so";

// $LUMIPAGE_SYSTEM_DIR when set and not empty; else the executable's folder when the source
// manager library lies there (an installed or copied program); else the build folder. Always with
// a trailing '/'; empty only when none is known.
[[nodiscard]] std::string SystemFolder();

}  // namespace lumipage::platform
