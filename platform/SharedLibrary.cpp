#include "platform/SharedLibrary.h"

#include <dlfcn.h>

namespace lumipage::platform {

TSharedLibrary::TSharedLibrary(const std::string& name) : handle_(::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL)) {
  if (handle_) return;
  const char* why = ::dlerror();
  failure_ = why != nullptr ? why : name;
}

void* TSharedLibrary::Address(const char* name) const {
  return handle_ ? ::dlsym(handle_.get(), name) : nullptr;
}

void TSharedLibrary::Closer::operator()(void* handle) const {
  if (handle != nullptr) ::dlclose(handle);
}

}  // namespace lumipage::platform
