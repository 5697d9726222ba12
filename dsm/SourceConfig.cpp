#include "dsm/SourceConfig.h"

#include <strings.h>

#include <cerrno>
#include <cstdlib>

#include "platform/IniFile.h"
#include "platform/IntegerText.h"

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

// A number of seconds: values beyond [lo, hi] are cut to the bounds, as the job's own waits are.
int ReadSeconds(const platform::IniFile& ini, const std::string& section, const std::string& key, int fallback,
                int lo, int hi) {
  const auto value = platform::ParseClampedInteger(ini.ReadString(section, key, ""), true, lo, hi);
  return value ? static_cast<int>(*value) : fallback;
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
    if (c.Name.size() > kMaxNameLength) c.Name.resize(kMaxNameLength);
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
    c.PaperAfter = ReadSeconds(ini, section, "PaperAfter", 0, 0, kMaxWaitSeconds);
    c.BusyFor = ReadSeconds(ini, section, "BusyFor", 0, 0, kMaxWaitSeconds);
    list.Sources.push_back(std::move(c));
  }
  list.DefaultName = ini.ReadString("Sources", "Default", "");
  list.Sane.Enabled = ReadInt(ini, "Sane", "Enabled", 1, 0, 1) == 1;
  list.Sane.LocalOnly = ReadInt(ini, "Sane", "LocalOnly", 1, 0, 1) == 1;
  list.Sane.Library = ini.ReadString("Sane", "Library", TSaneLibrary::kDefaultLibrary);
  if (list.Sane.Library.empty()) list.Sane.Library = TSaneLibrary::kDefaultLibrary;
  list.Sane.ReadTimeoutSeconds =
      ReadSeconds(ini, "Sane", "ReadTimeout", kDefaultReadTimeoutSeconds, 1, kMaxReadTimeoutSeconds);
  list.Sane.CacheSeconds = ReadSeconds(ini, "Sane", "CacheSeconds", kDefaultCacheSeconds, 0, kMaxCacheSeconds);
  list.ChooseDefault();
  return list;
}

void TSourceConfigList::ChooseDefault() {
  DefaultIndex = -1;
  if (Sources.empty()) return;
  if (DefaultName.empty()) {
    DefaultIndex = 0;
    return;
  }
  for (std::size_t i = 0; i < Sources.size(); ++i) {
    if (strcasecmp(Sources[i].Name.c_str(), DefaultName.c_str()) == 0) {
      DefaultIndex = static_cast<int>(i);
      return;
    }
  }
}

void TSourceConfigList::AddSaneDevices(const std::vector<TSaneDevice>& devices) {
  auto taken = [this](const std::string& name) {
    for (const auto& s : Sources) {
      if (strcasecmp(s.Name.c_str(), name.c_str()) == 0) return true;
    }
    return false;
  };
  for (const TSaneDevice& d : devices) {
    std::string base = d.Vendor.empty() ? d.Model : d.Model.empty() ? d.Vendor : d.Vendor + " " + d.Model;
    if (base.empty()) base = d.Name;
    std::string name = base.substr(0, kMaxNameLength);
    // The same model twice: a number at the end tells them apart within the name's length.
    for (int n = 2; taken(name) && n < 1000; ++n) {
      std::string suffix = " " + std::to_string(n);
      name = base.substr(0, kMaxNameLength - suffix.size()) + suffix;
    }
    TSourceConfig c;
    c.Name = name;
    c.Manufacturer = d.Vendor.substr(0, kMaxNameLength);
    c.Family = d.Type.substr(0, kMaxNameLength);
    c.Info = ("SANE " + d.Name).substr(0, kMaxNameLength);
    c.SaneDevice = d.Name;
    Sources.push_back(std::move(c));
  }
  ChooseDefault();
}

}  // namespace lumipage::dsm
