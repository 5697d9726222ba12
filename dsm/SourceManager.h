#pragma once
// The source manager: TWAIN states 1 to 3 for the application, the list of sources (the virtual
// scanners of twain_32.ini in the configuration folder, then the SANE devices), the default source, the
// selection dialog, and the routing of every other triplet to the one open source.
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dsm/SaneLibrary.h"
#include "dsm/Source.h"
#include "dsm/SourceConfig.h"
#include "platform/Messages.h"
#include "twain/TwainTypes.h"

namespace lumipage::dsm {

// The TWAIN states of the source manager that an application sees, numbered as the standard
// numbers them.
enum class EManagerState : std::uint8_t {
  Loaded = 2,  // the library is loaded, the manager not opened
  Open = 3,    // opened with the application's window; sources can be listed and opened
};

class TSourceManager {
 public:
  static constexpr const char* kSettingsName = "twain_32.ini";

  static TSourceManager& Instance();

  [[nodiscard]] twain::TW_UINT16 Entry(twain::TW_IDENTITY* origin, twain::TW_IDENTITY* dest, twain::TW_UINT32 dg,
                                       twain::TW_UINT16 dat, twain::TW_UINT16 msg, twain::TW_MEMREF data);

 private:
  twain::TW_UINT16 Fail(twain::TW_UINT16 condition);
  twain::TW_UINT16 ManagerEntry(twain::TW_IDENTITY* origin, twain::TW_UINT16 dat, twain::TW_UINT16 msg,
                                twain::TW_MEMREF data);
  twain::TW_UINT16 IdentityEntry(twain::TW_UINT16 msg, twain::TW_IDENTITY& id);
  twain::TW_UINT16 UserSelect(twain::TW_IDENTITY& id);
  twain::TW_UINT16 OpenSource(twain::TW_IDENTITY& id);
  twain::TW_UINT16 DeviceEntry(twain::TW_LP_DEVICE& query);
  // Position of the source of the SANE device of that name; -1 when none is listed.
  [[nodiscard]] int FindDevice(const std::string& deviceName) const;
  // The SANE devices of the session: from the device cache when it has them, else discovery.
  void ListSaneDevices();
  // Looks for the SANE devices anew and keeps them in the device cache.
  void Discover();
  // libsane, loaded on first need; null when it is missing or cannot start.
  TSaneLibrary* Sane();
  [[nodiscard]] std::string CacheKey() const;
  void FillIdentity(std::size_t index, twain::TW_UINT32 id, twain::TW_IDENTITY& out) const;
  [[nodiscard]] int FindSource(const twain::TW_IDENTITY& id) const;
  // A virtual scanner set to answer "busy" (BusyFor) that is still busy.
  bool VirtualSourceBusy(const TSourceConfig& c);

  EManagerState state_ = EManagerState::Loaded;
  twain::TW_UINT16 condition_ = twain::TWCC_SUCCESS;
  twain::TW_UINT32 appId_ = 0;
  platform::HWND parent_ = nullptr;
  TSourceConfigList config_;
  TSourceConfigList virtualOnly_;  // config_ before the SANE devices were added
  std::string settingsFolder_;    // the folder of twain_32.ini
  std::string cacheFolder_;       // where the device cache may lie besides the user's cache folder
  std::vector<std::string> namedDevices_;  // devices named by the application, not discovered
  bool fromCache_ = false;         // the SANE devices listed came from the device cache
  bool saneTried_ = false;         // loading libsane was tried in this session
  std::size_t cursor_ = 0;         // enumeration position of MSG_GETNEXT
  // libsane for the session, when the bridge is enabled and the library is there; declared before
  // open_ so that an open SANE source is closed before the library goes.
  std::unique_ptr<TSaneLibrary> sane_;
  std::unique_ptr<TSource> open_;
  twain::TW_UINT32 nextSourceId_ = 100;
  std::optional<std::chrono::steady_clock::time_point> busySince_;
};

}  // namespace lumipage::dsm
