#pragma once
// A fresh folder per test, removed afterwards with everything in it, and small file helpers.
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace lumipage::testing {

class TempDir {
 public:
  // The tag goes into the folder's name, to tell the folders of different tests apart.
  explicit TempDir(const std::string& tag = "test") {
    std::string tmpl = (std::filesystem::temp_directory_path() / ("lumipage-" + tag + "-XXXXXX")).string();
    path_ = ::mkdtemp(tmpl.data()) ? tmpl : std::string();
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() {
    if (path_.empty()) return;
    std::error_code ec;
    // Restore write bits so read-only fixtures can be removed.
    for (auto& e : std::filesystem::recursive_directory_iterator(path_, ec))
      ::chmod(e.path().c_str(), 0755);
    std::filesystem::remove_all(path_, ec);
  }
  [[nodiscard]] const std::string& Path() const { return path_; }
  // Folder with a trailing '/'.
  [[nodiscard]] std::string Folder() const { return path_ + "/"; }
  [[nodiscard]] std::string File(const std::string& name) const { return path_ + "/" + name; }
  [[nodiscard]] std::string operator/(const std::string& name) const { return File(name); }
  void Write(const std::string& name, const std::string& text) const {
    std::ofstream(File(name), std::ios::binary) << text;
  }

 private:
  std::string path_;
};

inline void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline bool Exists(const std::string& path) { return std::filesystem::exists(path); }

}  // namespace lumipage::testing
