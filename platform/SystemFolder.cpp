#include "platform/SystemFolder.h"

#include <cstdlib>

#include "platform/Files.h"

#ifndef LUMIPAGE_DEFAULT_SYSTEM_DIR
#define LUMIPAGE_DEFAULT_SYSTEM_DIR ""
#endif

namespace lumipage::platform {

std::string SystemFolder() {
  std::string folder;
  if (const char* env = std::getenv("LUMIPAGE_SYSTEM_DIR"); env && *env) {
    folder = env;
  } else if (std::string exe = ExeFolder(); !exe.empty() && FileExists(exe + kSourceManagerFileName)) {
    // A program copied or installed together with its source manager uses that one.
    folder = exe;
  } else {
    folder = LUMIPAGE_DEFAULT_SYSTEM_DIR;
  }
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

}  // namespace lumipage::platform
