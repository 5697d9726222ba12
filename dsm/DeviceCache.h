#pragma once
// The SANE devices found by the last discovery, kept in a small text file so that a job that names
// its scanner does not wait for discovery (seconds with network scanners) on every run. The file
// lies beside twain_32.ini when that folder can be written, else in the user's cache folder (always
// there for an installed program, whose configuration folder holds configuration only). It
// names the configuration it was found with; a file that is damaged, of another format, of
// another configuration or too old is not used, and the next discovery writes it anew.
#include <optional>
#include <string>
#include <vector>

#include "dsm/SaneLibrary.h"

namespace lumipage::dsm {

struct TCachedDevice {
  std::string ListedName;  // the product name the source manager listed it under
  TSaneDevice Device;
};

class TDeviceCache {
 public:
  static constexpr const char* kFileName = "sane-devices.cache";
  static constexpr const char* kMagic = "lumipage SANE device cache 1";
  // Larger files are not ours.
  static constexpr std::size_t kMaxFileSize = 256 * 1024;

  // settingsFolder: the folder of twain_32.ini, with its trailing '/', or empty when the cache
  // must not go there. key: what the devices were found with (library, network discovery, SANE's
  // configuration folder).
  TDeviceCache(std::string settingsFolder, std::string key);

  // The devices of the first file, beside the settings or in the user's cache folder, that is
  // whole, of this format and key, and younger than maxAgeSeconds.
  [[nodiscard]] std::optional<std::vector<TCachedDevice>> Load(long maxAgeSeconds) const;
  // Writes the file through a temporary file and a rename, beside the settings when that folder
  // has a write bit and takes the file, else in the user's cache folder. False when neither can.
  bool Save(const std::vector<TCachedDevice>& devices) const;

  // The files looked at, in order: beside the settings, then the user's cache folder
  // ($XDG_CACHE_HOME/lumipage, else ~/.cache/lumipage; empty when neither is known).
  [[nodiscard]] std::string BesideSettings() const {
    return settingsFolder_.empty() ? settingsFolder_ : settingsFolder_ + kFileName;
  }
  [[nodiscard]] static std::string UserCacheFile();

  // The file's text for the devices, written now; and the devices of a text, when it is valid
  // for key and younger than maxAgeSeconds at time now (Unix seconds).
  [[nodiscard]] static std::string Format(const std::vector<TCachedDevice>& devices, const std::string& key,
                                          long long now);
  [[nodiscard]] static std::optional<std::vector<TCachedDevice>> Parse(const std::string& text, const std::string& key,
                                                                       long maxAgeSeconds, long long now);

 private:
  std::string settingsFolder_;
  std::string key_;
};

}  // namespace lumipage::dsm
