#pragma once
// A shared library loaded at run time: the program's optional modules, and the libraries that
// only some jobs need, so that every other job starts without them.
#include <memory>
#include <string>

namespace lumipage::platform {

class TSharedLibrary {
 public:
  TSharedLibrary() = default;
  // Opens the library (a path, or a name the dynamic loader looks up) with every symbol bound at
  // once, so that nothing is resolved later (in a forked child, say). Empty when it cannot be
  // opened; Failure() then gives the loader's reason.
  explicit TSharedLibrary(const std::string& name);

  [[nodiscard]] explicit operator bool() const { return handle_ != nullptr; }
  [[nodiscard]] const std::string& Failure() const { return failure_; }
  // The library's function of this name as F; nullptr when it has none.
  template <typename F>
  [[nodiscard]] F Function(const char* name) const {
    return reinterpret_cast<F>(Address(name));
  }

 private:
  [[nodiscard]] void* Address(const char* name) const;

  struct Closer {
    void operator()(void* handle) const;
  };
  std::unique_ptr<void, Closer> handle_;
  std::string failure_;
};

}  // namespace lumipage::platform
