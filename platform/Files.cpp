#include "platform/Files.h"

#include "platform/FileReplace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

namespace lumipage::platform {

std::string ExeFolder() {
  std::vector<char> buf(4096);
  ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) return "./";
  std::string exe(buf.data(), static_cast<size_t>(n));
  std::string folder = ExtractFilePath(exe);
  return folder.empty() ? "./" : folder;
}

std::string TempFolder() {
  const char* t = std::getenv("TMPDIR");
  std::string dir = (t && *t) ? t : "/tmp";
  if (dir.back() != '/') dir += '/';
  return dir;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsReadOnly(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return false;
  return (st.st_mode & 0222) == 0;
}

bool DeleteFile(const std::string& path) {
  if (path.empty() || DirectoryExists(path)) return false;
  return ::unlink(path.c_str()) == 0;
}

bool ForceDirectories(const std::string& path) {
  if (path.empty()) return false;
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  // Walk the prefixes from the outermost folder inwards.
  for (size_t pos = 1; pos <= p.size(); ++pos) {
    if (pos == p.size() || p[pos] == '/') {
      std::string prefix = p.substr(0, pos);
      if (!DirectoryExists(prefix)) ::mkdir(prefix.c_str(), 0777);
    }
  }
  return DirectoryExists(p);
}

std::string SystemErrorText(int error) {
  char buf[256];
  // GNU strerror_r returns the text, which need not be in buf.
  return ::strerror_r(error, buf, sizeof buf);
}

bool WriteAll(int fd, const std::string& data) { return WriteAll(fd, data.data(), data.size()); }

bool WriteAll(int fd, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const char*>(data);
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(fd, bytes + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool ReplaceFileDurably(const std::string& path, const std::string& data, std::string& error) {
  TFileReplacement file(path);
  if (file.Ok() && !WriteAll(file.Handle(), data)) {
    error = path + ": " + SystemErrorText(errno);
    return false;  // the replacement removes its temporary file
  }
  if (!file.Ok() || !file.Commit()) {
    error = path + ": " + file.Error();
    return false;
  }
  return true;
}

std::string ExtractFilePath(const std::string& name) {
  auto slash = name.rfind('/');
  return slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
}

std::string ExtractFileName(const std::string& name) {
  auto slash = name.rfind('/');
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

std::string ExtractFileExt(const std::string& name) {
  auto slash = name.rfind('/');
  auto dot = name.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return name.substr(dot);
}

std::string ChangeFileExt(const std::string& name, const std::string& ext) {
  auto slash = name.rfind('/');
  auto dot = name.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return name + ext;
  return name.substr(0, dot) + ext;
}

std::string AbsoluteFileName(const std::string& path) {
  if (path.empty()) return path;
  std::string base;
  if (path[0] != '/') {
    char* cwd = ::getcwd(nullptr, 0);
    if (cwd == nullptr) return path;
    base = cwd;
    std::free(cwd);
  }
  const bool folder = path.back() == '/';
  std::vector<std::string> parts;
  auto joined = [&parts] {
    std::string out;
    for (const std::string& p : parts) out += "/" + p;
    return out.empty() ? std::string("/") : out;
  };
  std::function<void(const std::string&)> add = [&](const std::string& text) {
    std::size_t start = 0;
    while (start <= text.size()) {
      std::size_t slash = text.find('/', start);
      if (slash == std::string::npos) slash = text.size();
      const std::string part = text.substr(start, slash - start);
      start = slash + 1;
      if (part.empty() || part == ".") continue;
      if (part != "..") {
        parts.push_back(part);
        continue;
      }
      if (parts.empty()) continue;
      struct stat st {};
      if (::lstat(joined().c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        // ".." after a link leaves the folder the link points to, not the one holding the link.
        if (char* real = ::realpath(joined().c_str(), nullptr)) {
          const std::string resolved = real;
          std::free(real);
          parts.clear();
          add(resolved);
        }
      }
      if (!parts.empty()) parts.pop_back();
    }
  };
  add(base);
  add(path);
  std::string out = joined();
  if (folder && out.back() != '/') out += '/';
  return out;
}

}  // namespace lumipage::platform
