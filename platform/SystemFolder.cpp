#include "platform/SystemFolder.h"

#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/Files.h"

#ifndef LUMIPAGE_DEFAULT_SYSTEM_DIR
#define LUMIPAGE_DEFAULT_SYSTEM_DIR ""
#endif
#ifndef LUMIPAGE_INSTALL_BINDIR
#define LUMIPAGE_INSTALL_BINDIR "/usr/local/bin"
#endif
#ifndef LUMIPAGE_INSTALL_LIBRARY_FOLDER
#define LUMIPAGE_INSTALL_LIBRARY_FOLDER "../lib/lumipage"
#endif
#ifndef LUMIPAGE_INSTALL_CONFIG_FOLDER
#define LUMIPAGE_INSTALL_CONFIG_FOLDER "../etc/lumipage"
#endif

namespace lumipage::platform {

namespace {

std::string WithSlash(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/' && folder[folder.size() - 2] == '/') folder.pop_back();
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

// A configured folder: relative ones lie below the executable's folder.
std::string Below(const std::string& exeFolder, const char* configured) {
  const std::string folder = configured;
  return WithSlash(!folder.empty() && folder[0] == '/' ? folder : exeFolder + folder);
}

std::string WorkingFolder() {
  std::vector<char> buf(4096);
  return ::getcwd(buf.data(), buf.size()) ? std::string(buf.data()) : std::string();
}

bool IsInstalled(const std::string& exeFolder) {
  if (FileExists(exeFolder + kSourceManagerFileName)) return false;
  return FileExists(Below(exeFolder, InstalledLibraryFolder()) + kSourceManagerFileName) ||
         exeFolder == WithSlash(LUMIPAGE_INSTALL_BINDIR);
}

std::string InstalledJobFolder(const TProgramPlace& place) {
  const std::string home = place.Home ? place.Home : "";
  if (home.empty()) return WithSlash(place.WorkingFolder);
  if (home[0] == '/') return WithSlash(home);
  // A relative $LUMIPAGE_HOME means the same folder wherever the job then looks.
  return place.WorkingFolder.empty() ? std::string() : WithSlash(WithSlash(place.WorkingFolder) + home);
}

}  // namespace

const char* InstalledLibraryFolder() { return LUMIPAGE_INSTALL_LIBRARY_FOLDER; }
const char* InstalledConfigFolder() { return LUMIPAGE_INSTALL_CONFIG_FOLDER; }

TProgramFolders ResolveProgramFolders(const TProgramPlace& place) {
  TProgramFolders f;
  const std::string& exe = place.ExeFolder;
  f.Installed = IsInstalled(exe);
  if (f.Installed) {
    f.System = Below(exe, InstalledLibraryFolder());
    f.Config = Below(exe, InstalledConfigFolder());
    f.Job = InstalledJobFolder(place);
  } else {
    // A copied program uses the source manager copied beside it, else the build's.
    f.System = WithSlash(FileExists(exe + kSourceManagerFileName) ? exe : LUMIPAGE_DEFAULT_SYSTEM_DIR);
    f.Config = f.System;
    f.DeviceCache = f.Config;
    f.Job = exe;
  }
  if (place.SystemDir && *place.SystemDir) {
    f.System = WithSlash(place.SystemDir);
    f.Config = f.System;
    f.DeviceCache = f.Config;
  }
  return f;
}

TProgramFolders ProgramFolders() {
  TProgramPlace place;
  place.ExeFolder = ExeFolder();
  place.WorkingFolder = WorkingFolder();
  place.SystemDir = std::getenv("LUMIPAGE_SYSTEM_DIR");
  place.Home = std::getenv("LUMIPAGE_HOME");
  return ResolveProgramFolders(place);
}

std::string SystemFolder() { return ProgramFolders().System; }

std::string SourceManagerConfigFolder() { return ProgramFolders().Config; }

}  // namespace lumipage::platform
