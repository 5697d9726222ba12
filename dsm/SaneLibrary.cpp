#include "dsm/SaneLibrary.h"

#include <dlfcn.h>

namespace lumipage::dsm {

namespace {

template <typename F>
bool Resolve(void* handle, const char* name, F& out) {
  out = reinterpret_cast<F>(dlsym(handle, name));
  return out != nullptr;
}

std::string Text(const char* s) { return s ? std::string(s) : std::string(); }

}  // namespace

std::unique_ptr<TSaneLibrary> TSaneLibrary::Load(const std::string& path) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) return nullptr;
  std::unique_ptr<TSaneLibrary> lib(new TSaneLibrary(handle));
  decltype(&::sane_init) init = nullptr;
  bool ok = Resolve(handle, "sane_init", init) && Resolve(handle, "sane_exit", lib->exit_) &&
            Resolve(handle, "sane_get_devices", lib->GetDevices) && Resolve(handle, "sane_open", lib->Open) &&
            Resolve(handle, "sane_close", lib->Close) &&
            Resolve(handle, "sane_get_option_descriptor", lib->GetOptionDescriptor) &&
            Resolve(handle, "sane_control_option", lib->ControlOption) &&
            Resolve(handle, "sane_get_parameters", lib->GetParameters) && Resolve(handle, "sane_start", lib->Start) &&
            Resolve(handle, "sane_read", lib->Read) && Resolve(handle, "sane_cancel", lib->Cancel);
  if (!ok) return nullptr;
  SANE_Int version = 0;
  if (init(&version, nullptr) != SANE_STATUS_GOOD) return nullptr;
  lib->initialised_ = true;
  return lib;
}

TSaneLibrary::~TSaneLibrary() {
  if (initialised_) exit_();
  dlclose(handle_);
}

std::vector<TSaneDevice> TSaneLibrary::Devices(bool localOnly) const {
  std::vector<TSaneDevice> out;
  const SANE_Device** list = nullptr;
  if (GetDevices(&list, localOnly ? SANE_TRUE : SANE_FALSE) != SANE_STATUS_GOOD || !list) return out;
  for (std::size_t i = 0; list[i] && out.size() < kMaxDevices; ++i) {
    if (!list[i]->name || !*list[i]->name) continue;
    out.push_back({list[i]->name, Text(list[i]->vendor), Text(list[i]->model), Text(list[i]->type)});
  }
  return out;
}

}  // namespace lumipage::dsm
