#pragma once
// The sources of the source manager: the virtual scanners as twain_32.ini in the system folder
// describes them (a missing file gives one virtual scanner with one sheet and rendered pages),
// followed by the SANE devices when the bridge is enabled.
#include <string>
#include <vector>

#include "dsm/SaneLibrary.h"

namespace lumipage::dsm {

// Limits on what the settings file may ask for.
constexpr int kMaxSources = 16;
constexpr int kMaxSheets = 1000;
// Longest product name: identities carry it in a 34-byte field.
constexpr std::size_t kMaxNameLength = 32;
// A read from a SANE device that brings no data for this long ends the transfer.
constexpr int kDefaultReadTimeoutSeconds = 60;
constexpr int kMaxReadTimeoutSeconds = 3600;
// Age up to which the devices of the last discovery are used instead of looking again (at most
// a year).
constexpr int kDefaultCacheSeconds = 3600;
constexpr int kMaxCacheSeconds = 366 * 24 * 3600;
// Longest wait a setting may ask for.
constexpr int kMaxWaitSeconds = 3600;

struct TSourceConfig {
  std::string Name;
  int Pages = 1;              // sheets in the feeder
  bool PagesSet = false;      // Pages was given in the file (limits a page folder)
  std::string PageFolder;     // empty: pages are rendered; relative to the settings file's folder
  bool Duplex = false;        // a duplex unit is fitted
  int CancelAfter = -1;       // the user cancels after this many pages; -1: never
  int FailAfter = -1;         // the transfer after this many pages fails; -1: never
  int PaperAfter = 0;         // the feeder stays empty for this many seconds after enabling
  int BusyFor = 0;            // opening answers "busy" for this many seconds after the first try
  // Identity texts.
  std::string Manufacturer = "lumipage";
  std::string Family = "Virtual Scanner";
  std::string Info = "Virtual scanner 1.0";
  std::string SaneDevice;     // non-empty: this source is the SANE device of that name
};

// [Sane] of twain_32.ini.
struct TSaneSettings {
  bool Enabled = true;
  bool LocalOnly = true;      // no network discovery, so start-up never waits on it
  std::string Library = TSaneLibrary::kDefaultLibrary;
  int ReadTimeoutSeconds = kDefaultReadTimeoutSeconds;
  // How long the devices found stay usable from the device cache; 0: no cache.
  int CacheSeconds = kDefaultCacheSeconds;
};

class TSourceConfigList {
 public:
  // Reads iniPath; values that are not numbers or are out of range take their defaults.
  static TSourceConfigList Load(const std::string& iniPath);

  // Appends the devices after the sources listed so far, each named after its vendor and model,
  // unique in the list; then chooses the default again.
  void AddSaneDevices(const std::vector<TSaneDevice>& devices);

  std::vector<TSourceConfig> Sources;
  // Position of the default source in Sources; -1 when there is none.
  int DefaultIndex = -1;
  std::string DefaultName;  // [Sources] Default; empty: the first source
  TSaneSettings Sane;

 private:
  void ChooseDefault();
};

}  // namespace lumipage::dsm
