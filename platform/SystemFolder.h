#pragma once
// The folders a program finds its pieces and its job's files in. A program copied into a folder
// of its own (or run from the build folder) keeps everything there, as the Windows design keeps
// it beside the executable and in the system folder. An installed program (/usr/bin/lumipage)
// cannot write beside itself: its source manager lies in the install's library folder, the
// source manager's settings in the configuration folder, and a job's files in $LUMIPAGE_HOME or
// the working folder.
#include <string>

namespace lumipage::platform {

// The source manager library's file name in the system folder.
inline constexpr const char* kSourceManagerFileName = "libtwain_32.so";

struct TProgramFolders {
  bool Installed = false;
  // The source manager library and the text recognition module.
  std::string System;
  // twain_32.ini.
  std::string Config;
  // Where the source manager may keep its device cache besides the user's cache folder; empty
  // for the installed configuration folder, which holds configuration only.
  std::string DeviceCache;
  // The job's settings file, report, lock, default outputs and intermediate pages; empty when
  // the working folder cannot be known.
  std::string Job;
};

// What the folders are worked out from; the environment variables are null when unset.
struct TProgramPlace {
  std::string ExeFolder;        // with its trailing '/'
  std::string WorkingFolder;    // empty when unknown
  const char* SystemDir = nullptr;  // $LUMIPAGE_SYSTEM_DIR
  const char* Home = nullptr;       // $LUMIPAGE_HOME
};

// The rules, for any place. Every folder ends in '/' unless empty. The program counts as
// installed when its folder lacks the source manager and the install's library folder, found
// from the executable's folder, holds it (or the executable lies in the configured bindir).
// $LUMIPAGE_SYSTEM_DIR, when set and not empty, is the system and configuration folder of any
// program.
[[nodiscard]] TProgramFolders ResolveProgramFolders(const TProgramPlace& place);
// The folders of this process.
[[nodiscard]] TProgramFolders ProgramFolders();

// Shorthands for this process: the system folder (empty only when none is known) and the
// source manager's configuration folder.
[[nodiscard]] std::string SystemFolder();
[[nodiscard]] std::string SourceManagerConfigFolder();

// The install's library and configuration folders as configured: relative to the folder of the
// installed executable, or absolute when they lie outside the install prefix (/etc).
[[nodiscard]] const char* InstalledLibraryFolder();
[[nodiscard]] const char* InstalledConfigFolder();

}  // namespace lumipage::platform
