#pragma once
// SANE's own "test" backend as a scanner for the tests: a private configuration folder holding
// dll.conf (the test backend only) and test.conf (the system's copy with an area large enough
// for A4, and the given settings), made SANE_CONFIG_DIR for the object's lifetime. No colon ends
// the variable, so SANE never falls back to the system's folders and the machine's own scanners
// stay out of the tests.
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>

#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

namespace lumipage::testing {

inline constexpr const char* kSystemTestConf = "/etc/sane.d/test.conf";

class SaneTestBackend {
 public:
  // settings: test.conf keys and their values, e.g. {"test-picture", "\"Color pattern\""}.
  explicit SaneTestBackend(const std::map<std::string, std::string>& settings = {}) {
    folder_.Write("dll.conf", "test\n");
    std::map<std::string, std::string> values = settings;
    if (!values.count("geometry_max")) values["geometry_max"] = "300.0";
    std::ifstream in(kSystemTestConf);
    std::ostringstream out;
    std::string line;
    while (std::getline(in, line)) {
      std::string key = line.substr(0, line.find(' '));
      auto it = values.find(key);
      if (!line.empty() && line[0] != '#' && it != values.end()) {
        out << key << " " << it->second << "\n";
        values.erase(it);
      } else {
        out << line << "\n";
      }
    }
    for (const auto& [key, value] : values) out << key << " " << value << "\n";
    folder_.Write("test.conf", out.str());
    env_.emplace("SANE_CONFIG_DIR", folder_.Path());
  }
  [[nodiscard]] const std::string& Folder() const { return folder_.Path(); }

 private:
  TempDir folder_;
  std::optional<ScopedEnv> env_;
};

// No SANE devices at all: an empty configuration folder.
class NoSaneDevices {
 public:
  NoSaneDevices() { env_.emplace("SANE_CONFIG_DIR", folder_.Path()); }
  [[nodiscard]] const std::string& Folder() const { return folder_.Path(); }

 private:
  TempDir folder_;
  std::optional<ScopedEnv> env_;
};

}  // namespace lumipage::testing
