#pragma once
// libsane, loaded at run time so that the source manager works where SANE is not installed:
// the entry points the bridge uses, one sane_init per source manager session, and the list of
// devices found by discovery.
#include <sane/sane.h>

#include <memory>
#include <string>
#include <vector>

namespace lumipage::dsm {

struct TSaneDevice {
  std::string Name;    // SANE's device name, e.g. "test:0"
  std::string Vendor;
  std::string Model;
  std::string Type;
};

class TSaneLibrary {
 public:
  // The library's name as the dynamic loader finds it.
  static constexpr const char* kDefaultLibrary = "libsane.so.1";
  // Devices taken from one discovery; the rest are ignored.
  static constexpr std::size_t kMaxDevices = 64;

  // Null when the library cannot be loaded, lacks an entry point or fails to initialise.
  [[nodiscard]] static std::unique_ptr<TSaneLibrary> Load(const std::string& path);
  ~TSaneLibrary();
  TSaneLibrary(const TSaneLibrary&) = delete;
  TSaneLibrary& operator=(const TSaneLibrary&) = delete;

  // Devices SANE finds; localOnly leaves out network discovery.
  [[nodiscard]] std::vector<TSaneDevice> Devices(bool localOnly) const;

  decltype(&::sane_get_devices) GetDevices = nullptr;
  decltype(&::sane_open) Open = nullptr;
  decltype(&::sane_close) Close = nullptr;
  decltype(&::sane_get_option_descriptor) GetOptionDescriptor = nullptr;
  decltype(&::sane_control_option) ControlOption = nullptr;
  decltype(&::sane_get_parameters) GetParameters = nullptr;
  decltype(&::sane_start) Start = nullptr;
  decltype(&::sane_read) Read = nullptr;
  decltype(&::sane_cancel) Cancel = nullptr;

 private:
  explicit TSaneLibrary(void* handle) : handle_(handle) {}
  void* handle_;
  decltype(&::sane_exit) exit_ = nullptr;
  bool initialised_ = false;
};

}  // namespace lumipage::dsm
