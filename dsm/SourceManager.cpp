#include "dsm/SourceManager.h"

#include <chrono>

#include <strings.h>

#include <cstdlib>
#include <cstring>

#include "dsm/DeviceCache.h"
#include "dsm/SaneSource.h"
#include "dsm/Terminal.h"
#include "dsm/VirtualSource.h"
#include "platform/SystemFolder.h"
#include "twain/TwainText.h"

namespace lumipage::dsm {

using namespace twain;

namespace {

std::string NameOf(const TW_IDENTITY& id) { return FieldText(id.ProductName); }

std::string Trim(const std::string& s) {
  auto b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

}  // namespace

TSourceManager& TSourceManager::Instance() {
  static TSourceManager manager;
  return manager;
}

TW_UINT16 TSourceManager::Fail(TW_UINT16 condition) {
  condition_ = condition;
  return TWRC_FAILURE;
}

TW_UINT16 TSourceManager::Entry(TW_IDENTITY* origin, TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                                TW_MEMREF data) {
  if (!origin) return Fail(TWCC_BADPROTOCOL);
  if (!dest) return dg == DG_CONTROL ? ManagerEntry(origin, dat, msg, data) : Fail(TWCC_BADPROTOCOL);

  // A triplet for a source.
  if (state_ == EManagerState::Loaded || !open_ || dest->Id != open_->Id()) {
    if (dg == DG_CONTROL && dat == DAT_STATUS && msg == MSG_GET && data) {
      // The status of a source that is not open is the source manager's.
      static_cast<TW_STATUS*>(data)->ConditionCode = state_ == EManagerState::Loaded ? TWCC_SEQERROR : TWCC_BADDEST;
      static_cast<TW_STATUS*>(data)->Reserved = 0;
      return TWRC_SUCCESS;
    }
    return Fail(state_ == EManagerState::Loaded ? TWCC_SEQERROR : TWCC_BADDEST);
  }
  if (dg == DG_CONTROL && dat == DAT_STATUS && msg == MSG_GET) {
    if (!data) return Fail(TWCC_BADVALUE);
    *static_cast<TW_STATUS*>(data) = TW_STATUS{open_->TakeCondition(), 0};
    return TWRC_SUCCESS;
  }
  return open_->Entry(dg, dat, msg, data);
}

TW_UINT16 TSourceManager::ManagerEntry(TW_IDENTITY* origin, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
  if (dat == DAT_STATUS && msg == MSG_GET) {
    if (!data) return Fail(TWCC_BADVALUE);
    *static_cast<TW_STATUS*>(data) = TW_STATUS{condition_, 0};
    condition_ = TWCC_SUCCESS;
    return TWRC_SUCCESS;
  }
  condition_ = TWCC_SUCCESS;
  if (dat == DAT_PARENT && msg == MSG_OPENDSM) {
    if (state_ != EManagerState::Loaded) return Fail(TWCC_SEQERROR);
    auto* window = static_cast<platform::HWND*>(data);
    if (!window || !platform::IsWindow(*window)) return Fail(TWCC_BADVALUE);
    parent_ = *window;
    const platform::TProgramFolders folders = platform::ProgramFolders();
    settingsFolder_ = folders.Config;
    cacheFolder_ = folders.DeviceCache;
    config_ = TSourceConfigList::Load(settingsFolder_ + kSettingsName);
    virtualOnly_ = config_;
    fromCache_ = false;
    saneTried_ = false;
    namedDevices_.clear();
    if (config_.Sane.Enabled) ListSaneDevices();
    cursor_ = 0;
    appId_ = 1;
    origin->Id = appId_;
    state_ = EManagerState::Open;
    return TWRC_SUCCESS;
  }
  if (dat == DAT_PARENT && msg == MSG_CLOSEDSM) {
    if (state_ != EManagerState::Open || open_) return Fail(TWCC_SEQERROR);
    state_ = EManagerState::Loaded;
    parent_ = nullptr;
    sane_.reset();
    saneTried_ = false;
    return TWRC_SUCCESS;
  }
  if (dat == DAT_LP_DEVICE && msg == MSG_GET) {
    if (state_ != EManagerState::Open) return Fail(TWCC_SEQERROR);
    if (!data) return Fail(TWCC_BADVALUE);
    return DeviceEntry(*static_cast<TW_LP_DEVICE*>(data));
  }
  if (dat == DAT_IDENTITY) {
    if (state_ != EManagerState::Open) return Fail(TWCC_SEQERROR);
    if (!data) return Fail(TWCC_BADVALUE);
    return IdentityEntry(msg, *static_cast<TW_IDENTITY*>(data));
  }
  return Fail(state_ == EManagerState::Open ? TWCC_BADPROTOCOL : TWCC_SEQERROR);
}

void TSourceManager::FillIdentity(std::size_t index, TW_UINT32 id, TW_IDENTITY& out) const {
  out = TW_IDENTITY{};
  out.Id = id;
  out.Version.MajorNum = 1;
  out.Version.MinorNum = 0;
  out.Version.Language = TWLG_ENGLISH;
  out.Version.Country = TWCY_USA;
  const TSourceConfig& c = config_.Sources[index];
  CopyText(out.Version.Info, c.Info);
  out.ProtocolMajor = 1;
  out.ProtocolMinor = 5;
  out.SupportedGroups = DG_SUPPORTED;
  CopyText(out.Manufacturer, c.Manufacturer);
  CopyText(out.ProductFamily, c.Family);
  CopyText(out.ProductName, c.Name);
}

int TSourceManager::FindSource(const TW_IDENTITY& id) const {
  std::string name = NameOf(id);
  for (std::size_t i = 0; i < config_.Sources.size(); ++i) {
    if (config_.Sources[i].Name == name) return static_cast<int>(i);
  }
  for (std::size_t i = 0; i < config_.Sources.size(); ++i) {
    if (strcasecmp(config_.Sources[i].Name.c_str(), name.c_str()) == 0) return static_cast<int>(i);
  }
  return -1;
}

namespace {

// A device name as SANE writes it: the backend's name (lower-case letters, digits, '_'), a colon
// and the backend's own part ("test:0", "airscan:e0:Brother", "net:host:fujitsu:fi-7160").
bool IsSaneDeviceName(const std::string& name) {
  const std::size_t colon = name.find(':');
  if (colon == 0 || colon == std::string::npos || colon + 1 >= name.size()) return false;
  for (std::size_t i = 0; i < colon; ++i) {
    const char c = name[i];
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) return false;
  }
  for (const char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  }
  return true;
}

}  // namespace

int TSourceManager::FindDevice(const std::string& deviceName) const {
  for (std::size_t i = 0; i < config_.Sources.size(); ++i) {
    if (!config_.Sources[i].SaneDevice.empty() && config_.Sources[i].SaneDevice == deviceName) return static_cast<int>(i);
  }
  return -1;
}

TW_UINT16 TSourceManager::DeviceEntry(TW_LP_DEVICE& query) {
  const std::string name = FieldText(query.DeviceName);
  if (!config_.Sane.Enabled || !IsSaneDeviceName(name)) return Fail(TWCC_NODS);
  int index = FindDevice(name);
  // A device attached since the cached list was made.
  if (index < 0 && fromCache_) {
    Discover();
    index = FindDevice(name);
  }
  // Not found by discovery, yet SANE may open it by name as scanimage -d does: a network scanner
  // that a local discovery leaves out, a device that does not list itself. Opening it tells.
  if (index < 0 && Sane()) {
    namedDevices_.push_back(name);
    config_.AddSaneDevices({TSaneDevice{name, "", "", ""}});
    index = FindDevice(name);
  }
  if (index < 0) return Fail(TWCC_NODS);
  FillIdentity(static_cast<std::size_t>(index), 0, query.Source);
  return TWRC_SUCCESS;
}

TW_UINT16 TSourceManager::IdentityEntry(TW_UINT16 msg, TW_IDENTITY& id) {
  const std::size_t count = config_.Sources.size();
  switch (msg) {
    case MSG_GETFIRST:
      cursor_ = 0;
      if (count == 0) return TWRC_ENDOFLIST;
      FillIdentity(0, 0, id);
      return TWRC_SUCCESS;
    case MSG_GETNEXT:
      if (cursor_ + 1 >= count) {
        cursor_ = count;
        return TWRC_ENDOFLIST;
      }
      FillIdentity(++cursor_, 0, id);
      return TWRC_SUCCESS;
    case MSG_GETDEFAULT:
      if (config_.DefaultIndex < 0) return Fail(TWCC_NODS);
      FillIdentity(static_cast<std::size_t>(config_.DefaultIndex), 0, id);
      return TWRC_SUCCESS;
    case MSG_USERSELECT:
      // The user chooses among the devices there now.
      if (fromCache_) Discover();
      return UserSelect(id);
    case MSG_LP_REFRESHLIST:
      if (fromCache_) Discover();
      cursor_ = 0;
      return TWRC_SUCCESS;
    case MSG_OPENDS:
      return OpenSource(id);
    case MSG_CLOSEDS:
      if (!open_ || id.Id != open_->Id()) return Fail(TWCC_NODS);
      if (open_->State() != ESourceState::Open) return Fail(TWCC_SEQERROR);
      open_.reset();
      return TWRC_SUCCESS;
    default:
      return Fail(TWCC_BADPROTOCOL);
  }
}

TW_UINT16 TSourceManager::OpenSource(TW_IDENTITY& id) {
  if (open_) return Fail(TWCC_MAXCONNECTIONS);
  const TW_IDENTITY asked = id;
  TW_UINT16 condition = TWCC_SUCCESS;
  for (;;) {
    // An empty product name asks for the default source.
    const int index = asked.ProductName[0] ? FindSource(asked) : config_.DefaultIndex;
    if (index < 0) {
      condition = TWCC_NODS;
    } else {
      const TSourceConfig& c = config_.Sources[static_cast<std::size_t>(index)];
      const TW_UINT32 sourceId = nextSourceId_;
      if (c.SaneDevice.empty() && VirtualSourceBusy(c)) {
        condition = TWCC_DENIED;
      } else if (c.SaneDevice.empty()) {
        open_ = std::make_unique<TVirtualSource>(c, sourceId);
      } else if (TSaneLibrary* sane = Sane()) {
        open_ = TSaneSource::Open(*sane, c, config_.Sane.ReadTimeoutSeconds, sourceId, condition);
      } else {
        condition = TWCC_NODS;
      }
      if (open_) {
        ++nextSourceId_;
        FillIdentity(static_cast<std::size_t>(index), sourceId, id);
        return TWRC_SUCCESS;
      }
    }
    // A device listed from the cache may have moved (another USB port) or gone: the list is
    // made anew and the open tried once more. A busy device is there; looking again would not
    // help it.
    if (!fromCache_ || condition == TWCC_DENIED) return Fail(condition);
    Discover();
  }
}

bool TSourceManager::VirtualSourceBusy(const TSourceConfig& c) {
  if (c.BusyFor <= 0) return false;
  // Busy from the first try to open it in this process on, as a scanner of another program.
  const auto now = std::chrono::steady_clock::now();
  if (!busySince_) busySince_ = now;
  return now - *busySince_ < std::chrono::seconds(c.BusyFor);
}

TW_UINT16 TSourceManager::UserSelect(TW_IDENTITY& id) {
  if (config_.Sources.empty()) return Fail(TWCC_NODS);
  auto tty = TTerminal::Open();
  if (!tty) return TWRC_CANCEL;
  std::string menu = "Select a TWAIN source:\n";
  for (std::size_t i = 0; i < config_.Sources.size(); ++i) {
    menu += (static_cast<int>(i) == config_.DefaultIndex ? "* " : "  ") + std::to_string(i + 1) + ". " +
            config_.Sources[i].Name + "\n";
  }
  tty->Write(menu);
  // A few attempts for a mistyped answer; then the dialog counts as cancelled.
  for (int attempt = 0; attempt < 3; ++attempt) {
    tty->Write("Number (Enter: the one marked *, c: cancel): ");
    auto line = tty->ReadLine();
    if (!line) return TWRC_CANCEL;
    std::string answer = Trim(*line);
    if (answer == "c" || answer == "C" || answer == "q") return TWRC_CANCEL;
    int index = -1;
    if (answer.empty()) {
      index = config_.DefaultIndex;
    } else if (answer.find_first_not_of("0123456789") == std::string::npos && answer.size() <= 3) {
      index = std::stoi(answer) - 1;
    }
    if (index >= 0 && static_cast<std::size_t>(index) < config_.Sources.size()) {
      // The chosen source is the default from now on.
      config_.DefaultIndex = index;
      FillIdentity(static_cast<std::size_t>(index), 0, id);
      return TWRC_SUCCESS;
    }
    tty->Write("No such source.\n");
  }
  return TWRC_CANCEL;
}

}  // namespace lumipage::dsm

namespace lumipage::dsm {

TSaneLibrary* TSourceManager::Sane() {
  if (!sane_ && !saneTried_) {
    saneTried_ = true;
    sane_ = TSaneLibrary::Load(config_.Sane.Library);
  }
  return sane_.get();
}

std::string TSourceManager::CacheKey() const {
  // What decides which devices discovery finds; the settings file too, since the user's cache
  // folder is shared by every installation.
  const char* saneConfig = std::getenv("SANE_CONFIG_DIR");
  return settingsFolder_ + kSettingsName + "|" + config_.Sane.Library + "|" +
         (config_.Sane.LocalOnly ? "local" : "network") + "|" + (saneConfig ? saneConfig : "");
}

void TSourceManager::ListSaneDevices() {
  const TDeviceCache cache(cacheFolder_, CacheKey());
  if (auto cached = cache.Load(config_.Sane.CacheSeconds)) {
    std::vector<TSaneDevice> devices;
    for (TCachedDevice& d : *cached) devices.push_back(std::move(d.Device));
    config_.AddSaneDevices(devices);
    fromCache_ = true;
    return;
  }
  Discover();
}

void TSourceManager::Discover() {
  fromCache_ = false;
  // Without libsane, or when it cannot start, there are only the virtual scanners.
  TSaneLibrary* sane = Sane();
  const std::vector<TSaneDevice> devices = sane ? sane->Devices(config_.Sane.LocalOnly) : std::vector<TSaneDevice>{};
  config_ = virtualOnly_;
  config_.AddSaneDevices(devices);
  // Devices a job named that discovery does not list stay sources of the session.
  std::vector<TSaneDevice> named;
  for (const std::string& name : namedDevices_) {
    if (FindDevice(name) < 0) named.push_back(TSaneDevice{name, "", "", ""});
  }
  if (!named.empty()) config_.AddSaneDevices(named);
  if (!sane || config_.Sane.CacheSeconds <= 0) return;
  std::vector<TCachedDevice> entries;
  for (const TSourceConfig& c : config_.Sources) {
    if (c.SaneDevice.empty()) continue;
    for (const TSaneDevice& d : devices) {
      if (d.Name == c.SaneDevice) entries.push_back({c.Name, d});
    }
  }
  // A cache that cannot be written only costs the next job a discovery.
  (void)TDeviceCache(cacheFolder_, CacheKey()).Save(entries);
}

}  // namespace lumipage::dsm
