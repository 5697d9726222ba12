#include "dsm/SourceConfig.h"

#include <strings.h>

#include <cerrno>
#include <cstdlib>

#include "platform/IniFile.h"

namespace lumipage::dsm {
namespace {

// A whole decimal number within [lo, hi], else fallback.
int ReadInt(const platform::IniFile& ini, const std::string& section, const std::string& key, int fallback,
            int lo, int hi, bool* present = nullptr) {
  std::string text = ini.ReadString(section, key, "");
  if (present) *present = false;
  if (text.empty()) return fallback;
  errno = 0;
  char* end = nullptr;
  long value = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str() || *end != '\0' || value < lo || value > hi) return fallback;
  if (present) *present = true;
  return static_cast<int>(value);
}

}  // namespace

TSourceConfigList TSourceConfigList::Load(const std::string& iniPath) {
  platform::IniFile ini(iniPath);
  TSourceConfigList list;
  int count = ReadInt(ini, "Sources", "Count", 1, 0, kMaxSources);
  for (int i = 1; i <= count; ++i) {
    std::string section = "Source" + std::to_string(i);
    TSourceConfig c;
    c.Name = ini.ReadString(section, "Name", i == 1 ? "Virtual Scanner" : "Virtual Scanner " + std::to_string(i));
    // Product names travel in 34-byte fields with a terminating zero.
    if (c.Name.size() > 32) c.Name.resize(32);
    if (c.Name.empty()) c.Name = "Virtual Scanner " + std::to_string(i);
    c.Pages = ReadInt(ini, section, "Pages", 1, 0, kMaxSheets, &c.PagesSet);
    c.PageFolder = ini.ReadString(section, "PageFolder", "");
    // A relative folder lies beside the settings file, wherever the program was started.
    if (!c.PageFolder.empty() && c.PageFolder[0] != '/') {
      auto slash = iniPath.rfind('/');
      if (slash != std::string::npos) c.PageFolder = iniPath.substr(0, slash + 1) + c.PageFolder;
    }
    c.Duplex = ReadInt(ini, section, "Duplex", 0, 0, 1) == 1;
    c.CancelAfter = ReadInt(ini, section, "CancelAfter", -1, 0, 2 * kMaxSheets);
    c.FailAfter = ReadInt(ini, section, "FailAfter", -1, 0, 2 * kMaxSheets);
    list.Sources.push_back(std::move(c));
  }
  if (!list.Sources.empty()) {
    std::string def = ini.ReadString("Sources", "Default", "");
    if (def.empty()) {
      list.DefaultIndex = 0;
    } else {
      for (std::size_t i = 0; i < list.Sources.size(); ++i) {
        if (strcasecmp(list.Sources[i].Name.c_str(), def.c_str()) == 0) {
          list.DefaultIndex = static_cast<int>(i);
          break;
        }
      }
    }
  }
  return list;
}

}  // namespace lumipage::dsm
