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
  // Sets out to the library's function of that name, typed as out is. A name the library lacks
  // leaves out nullptr and is kept: Missing() gives the first such name, empty when none.
  template <typename F>
  void Bind(const char* name, F& out) {
    out = Function<F>(name);
    if (out == nullptr && missing_.empty()) missing_ = name;
  }
  [[nodiscard]] const std::string& Missing() const { return missing_; }

 private:
  [[nodiscard]] void* Address(const char* name) const;

  struct Closer {
    void operator()(void* handle) const;
  };
  std::unique_ptr<void, Closer> handle_;
  std::string failure_;
  std::string missing_;
};

}  // namespace lumipage::platform
