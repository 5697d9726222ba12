#include "dsm/DeviceCache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sstream>

namespace lumipage::dsm {
namespace {

// Fields are separated by tabs; a backslash, tab or line break inside one is escaped.
std::string Escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

std::optional<std::vector<std::string>> SplitFields(const std::string& line) {
  std::vector<std::string> fields(1);
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '\t') {
      fields.emplace_back();
    } else if (c == '\\') {
      if (++i >= line.size()) return std::nullopt;
      switch (line[i]) {
        case '\\': fields.back() += '\\'; break;
        case 't': fields.back() += '\t'; break;
        case 'n': fields.back() += '\n'; break;
        case 'r': fields.back() += '\r'; break;
        default: return std::nullopt;
      }
    } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      return std::nullopt;  // binary data: not our file
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

std::optional<long long> Number(const std::string& text) {
  if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  return std::stoll(text);
}

bool HasWriteBit(const std::string& folder) {
  struct stat st {};
  return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & 0222) != 0;
}

bool ReadSmallFile(const std::string& path, std::string& out) {
  // Without blocking: a FIFO in the file's place must not hold up the job; only a regular file is
  // read.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<std::size_t>(st.st_size) <= TDeviceCache::kMaxFileSize;
  // Room for the file as it is now and one byte more, grown if it grows meanwhile: a buffer of
  // the largest size would be zero-filled (and faulted in) at every start for a file of a few
  // hundred bytes.
  constexpr std::size_t kLimit = TDeviceCache::kMaxFileSize + 1;
  out.assign(ok ? std::min<std::size_t>(static_cast<std::size_t>(st.st_size) + 1, kLimit) : 0, '\0');
  std::size_t done = 0;
  while (ok && done < kLimit) {
    if (done == out.size()) out.resize(std::min(2 * out.size(), kLimit));
    const ssize_t n = ::read(fd, out.data() + done, out.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n >= 0;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
  out.resize(done);
  return ok && done <= TDeviceCache::kMaxFileSize;
}

// Writes text to folder/name through a temporary file in the same folder and a rename, so a
// reader never sees half a file.
bool WriteAtomically(const std::string& folder, const std::string& name, const std::string& text) {
  std::string temp = folder + "." + name + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return false;
  bool ok = ::fchmod(fd, 0644) == 0;
  for (std::size_t done = 0; ok && done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<std::size_t>(n);
  }
  ok = ::close(fd) == 0 && ok;
  ok = ok && ::rename(temp.c_str(), (folder + name).c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

// Creates each missing folder of path (ending in '/').
bool MakeFolders(const std::string& path) {
  for (std::size_t at = 1; at < path.size(); ++at) {
    if (path[at] != '/') continue;
    const std::string part = path.substr(0, at);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string UserCacheFolder() {
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  // The base directory specification ignores a relative path.
  if (xdg && xdg[0] == '/') return std::string(xdg) + "/lumipage/";
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return std::string(home) + "/.cache/lumipage/";
  return {};
}

}  // namespace

TDeviceCache::TDeviceCache(std::string settingsFolder, std::string key)
    : settingsFolder_(std::move(settingsFolder)), key_(std::move(key)) {}

std::string TDeviceCache::UserCacheFile() {
  const std::string folder = UserCacheFolder();
  return folder.empty() ? folder : folder + kFileName;
}

std::string TDeviceCache::Format(const std::vector<TCachedDevice>& devices, const std::string& key, long long now) {
  std::ostringstream out;
  out << kMagic << "\n";
  out << "key\t" << Escape(key) << "\n";
  out << "written\t" << now << "\n";
  for (const TCachedDevice& d : devices) {
    out << "device\t" << Escape(d.ListedName) << "\t" << Escape(d.Device.Name) << "\t" << Escape(d.Device.Vendor)
        << "\t" << Escape(d.Device.Model) << "\t" << Escape(d.Device.Type) << "\n";
  }
  out << "end\t" << devices.size() << "\n";
  return out.str();
}

std::optional<std::vector<TCachedDevice>> TDeviceCache::Parse(const std::string& text, const std::string& key,
                                                              long maxAgeSeconds, long long now) {
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != kMagic) return std::nullopt;
  std::vector<TCachedDevice> devices;
  bool keyMatches = false;
  std::optional<long long> written;
  while (std::getline(in, line)) {
    auto fields = SplitFields(line);
    if (!fields || fields->empty()) return std::nullopt;
    const std::string& tag = (*fields)[0];
    if (tag == "key" && fields->size() == 2) {
      keyMatches = (*fields)[1] == key;
    } else if (tag == "written" && fields->size() == 2) {
      written = Number((*fields)[1]);
    } else if (tag == "device" && fields->size() == 6) {
      if ((*fields)[2].empty() || devices.size() >= TSaneLibrary::kMaxDevices) return std::nullopt;
      devices.push_back({(*fields)[1], {(*fields)[2], (*fields)[3], (*fields)[4], (*fields)[5]}});
    } else if (tag == "end" && fields->size() == 2) {
      // The last line: a file cut short never has it, and nothing may follow it.
      const auto count = Number((*fields)[1]);
      if (!count || static_cast<std::size_t>(*count) != devices.size() || in.peek() != EOF) return std::nullopt;
      // A time in the future means the clock was set back: the file's age is unknown.
      if (!keyMatches || !written || *written > now || now - *written >= maxAgeSeconds) return std::nullopt;
      return devices;
    } else {
      return std::nullopt;
    }
  }
  return std::nullopt;
}

std::optional<std::vector<TCachedDevice>> TDeviceCache::Load(long maxAgeSeconds) const {
  if (maxAgeSeconds <= 0) return std::nullopt;
  const long long now = static_cast<long long>(std::time(nullptr));
  for (const std::string& file : {BesideSettings(), UserCacheFile()}) {
    std::string text;
    if (file.empty() || !ReadSmallFile(file, text)) continue;
    if (auto devices = Parse(text, key_, maxAgeSeconds, now)) return devices;
  }
  return std::nullopt;
}

bool TDeviceCache::Save(const std::vector<TCachedDevice>& devices) const {
  const std::string text = Format(devices, key_, static_cast<long long>(std::time(nullptr)));
  // The write bits first (root may write anywhere, but a folder without them is meant to stay
  // as it is), then the write itself, which may still be refused (a read-only file system).
  if (!settingsFolder_.empty() && HasWriteBit(settingsFolder_) && WriteAtomically(settingsFolder_, kFileName, text)) return true;
  const std::string folder = UserCacheFolder();
  return !folder.empty() && MakeFolders(folder) && WriteAtomically(folder, kFileName, text);
}

}  // namespace lumipage::dsm
