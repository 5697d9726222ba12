#pragma once
// The virtual scanners of the source manager, as twain_32.ini in the system folder describes
// them. A missing file gives one virtual scanner with one sheet and rendered pages.
#include <string>
#include <vector>

namespace lumipage::dsm {

// Limits on what the settings file may ask for.
constexpr int kMaxSources = 16;
constexpr int kMaxSheets = 1000;

struct TSourceConfig {
  std::string Name;
  int Pages = 1;              // sheets in the feeder
  bool PagesSet = false;      // Pages was given in the file (limits a page folder)
  std::string PageFolder;     // empty: pages are rendered; relative to the settings file's folder
  bool Duplex = false;        // a duplex unit is fitted
  int CancelAfter = -1;       // the user cancels after this many pages; -1: never
  int FailAfter = -1;         // the transfer after this many pages fails; -1: never
};

class TSourceConfigList {
 public:
  // Reads iniPath; values that are not numbers or are out of range take their defaults.
  static TSourceConfigList Load(const std::string& iniPath);

  std::vector<TSourceConfig> Sources;
  // Position of the default source in Sources; -1 when there is none.
  int DefaultIndex = -1;
};

}  // namespace lumipage::dsm
