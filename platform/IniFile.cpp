#include "platform/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cerrno>

#include "platform/FileReplace.h"
#include "platform/Files.h"

namespace lumipage::platform {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && isBlank(s[b])) ++b;
  while (e > b && isBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

bool sameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

// Section name of a header line, or false when the line is no header.
bool sectionOf(const std::string& line, std::string& name) {
  std::string t = trim(line);
  if (t.empty() || t[0] != '[') return false;
  auto close = t.find(']');
  name = trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
  return true;
}

// Key and value of a key line, or false for comments and lines without '='.
bool keyOf(const std::string& line, std::string& key, std::string* value) {
  std::string t = trim(line);
  if (t.empty() || t[0] == ';') return false;
  auto eq = t.find('=');
  if (eq == std::string::npos) return false;
  key = trim(t.substr(0, eq));
  if (value) *value = trim(t.substr(eq + 1));
  return true;
}

std::string unquote(const std::string& v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    return v.substr(1, v.size() - 2);
  return v;
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { close(); }
  int get() const { return fd_; }
  bool close() {
    if (fd_ < 0) return true;
    int r = ::close(fd_);
    fd_ = -1;
    return r == 0;
  }

 private:
  int fd_;
};

// Replaces the file's content; the old content stays whole when anything fails on the way.
bool replaceFile(const std::string& name, const std::string& data, const std::string& previous) {
  // Write through symbolic links to the file they name.
  std::string path = name;
  if (char* real = ::realpath(name.c_str(), nullptr)) {
    path = real;
    std::free(real);
  }
  struct stat st {};
  bool existed = ::stat(path.c_str(), &st) == 0;
  if (existed && !S_ISREG(st.st_mode)) {
    // Never replace a device or other special file: write into it, without waiting for a FIFO's
    // reader.
    Fd dev(::open(path.c_str(), O_WRONLY | O_TRUNC | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (dev.get() < 0) return false;
    bool ok = WriteAll(dev.get(), data);
    return dev.close() && ok;
  }
  TFileReplacement tmp(path);
  if (tmp.Ok()) {
    // Flushed and renamed; the folder is flushed with the job's other folders before its report
    // (SyncDeferred), once for both settings writes of a job.
    return WriteAll(tmp.Handle(), data) && tmp.Commit(TFlush::FileNow);
  }
  // A folder we may not create files in (a writable settings file in a read-only program
  // folder): write in place. Any other reason (a full disk, an I/O error) fails the write, as
  // rewriting in place would then likely cut the file short.
  if (tmp.ErrorNumber() != EACCES && tmp.ErrorNumber() != EPERM) return false;
  Fd out(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
  if (out.get() < 0) return false;
  if (WriteAll(out.get(), data) && ::fsync(out.get()) == 0 && out.close()) return true;
  // Put the old content back as well as we can.
  Fd again(::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
  if (again.get() >= 0 && WriteAll(again.get(), previous)) (void)again.close();
  return false;
}

bool writableKey(const std::string& key) {
  return !key.empty() && IniTextIsOneLine(key) && key.find('=') == std::string::npos && key == trim(key) &&
         key[0] != ';' && key[0] != '[';
}

bool writableSection(const std::string& name) {
  return !name.empty() && IniTextIsOneLine(name) && name.find(']') == std::string::npos && name == trim(name);
}

std::string oneLine(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r' || c == '\0') c = ' ';
  return text;
}

}  // namespace

bool IniTextIsOneLine(const std::string& text) { return text.find_first_of(std::string("\n\r\0", 3)) == std::string::npos; }

std::string IniSectionText(const std::string& name) {
  std::string t = oneLine(name);
  for (char& c : t)
    if (c == ']') c = ' ';
  t = trim(t);
  return t.empty() ? "_" : t;
}

std::string IniKeyText(const std::string& key) {
  std::string t = oneLine(key);
  for (char& c : t)
    if (c == '=') c = ' ';
  t = trim(t);
  if (t.empty() || t[0] == ';' || t[0] == '[') t.insert(0, "_");
  return t;
}

std::string IniValueText(const std::string& value) {
  std::string t = oneLine(value);
  // Reading trims blanks and takes off one pair of enclosing quotes: such a value is quoted.
  if (t != trim(t) || unquote(t) != t) return "\"" + t + "\"";
  return t;
}

IniFile::IniFile(std::string fileName) : fileName_(std::move(fileName)) { Load(); }

void IniFile::Load() {
  lines_.clear();
  crlf_ = false;
  // Only regular files are read: a folder, FIFO or device in the file's place reads as empty.
  // Opening without blocking and checking the opened file leaves no window in which a FIFO
  // swapped in after a check could hold the job.
  readError_.clear();
  Fd fd(::open(fileName_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (fd.get() < 0) {
    if (errno != ENOENT && errno != ENOTDIR) readError_ = std::strerror(errno);
    return;
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  std::string text;
  truncated_ = false;
  try {
    char buf[65536];
    while (text.size() < kMaxIniFileSize) {
      const std::size_t want = std::min(sizeof buf, kMaxIniFileSize - text.size());
      ssize_t n = ::read(fd.get(), buf, want);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        readError_ = std::strerror(errno);
        return;
      }
      if (n == 0) break;
      text.append(buf, static_cast<size_t>(n));
    }
    if (text.size() >= kMaxIniFileSize && static_cast<std::uint64_t>(st.st_size) > kMaxIniFileSize) {
      truncated_ = true;
      // The last line may be cut in the middle: it counts as absent too.
      const auto nl = text.rfind('\n');
      text.resize(nl == std::string::npos ? 0 : nl + 1);
    }
  } catch (const std::exception&) {
    readError_ = std::strerror(ENOMEM);
    return;
  }
  size_t start = 0;
  bool first = true;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    std::string line = text.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
      if (first) crlf_ = true;
    }
    first = false;
    lines_.push_back(std::move(line));
    if (nl == std::string::npos) break;
    start = nl + 1;
  }
}

long IniFile::Find(const std::string& section, const std::string& key, long* sectionEnd) const {
  bool inSection = false, seen = false;
  long end = -1;
  std::string name, k;
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (sectionOf(lines_[i], name)) {
      if (seen && inSection) break;  // only the first section of that name counts
      inSection = sameText(name, section);
      if (inSection) {
        seen = true;
        end = static_cast<long>(i) + 1;
      }
      continue;
    }
    if (!inSection) continue;
    if (keyOf(lines_[i], k, nullptr)) {
      end = static_cast<long>(i) + 1;
      if (sameText(k, key)) {
        if (sectionEnd) *sectionEnd = end;
        return static_cast<long>(i);
      }
    }
  }
  if (sectionEnd) *sectionEnd = seen ? end : -1;
  return -1;
}

std::string IniFile::ReadString(const std::string& section, const std::string& key,
                                const std::string& defaultValue) const {
  long i = Find(section, key, nullptr);
  if (i < 0) return defaultValue;
  std::string k, v;
  keyOf(lines_[static_cast<size_t>(i)], k, &v);
  return unquote(v);
}

bool IniFile::ValueExists(const std::string& section, const std::string& key) const {
  return Find(section, key, nullptr) >= 0;
}

void IniFile::SetString(const std::string& section, const std::string& key, const std::string& value) {
  long sectionEnd = -1;
  long i = Find(section, key, &sectionEnd);
  if (i >= 0) {
    std::string k;
    keyOf(lines_[static_cast<size_t>(i)], k, nullptr);
    lines_[static_cast<size_t>(i)] = k + "=" + value;
  } else if (sectionEnd >= 0) {
    lines_.insert(lines_.begin() + sectionEnd, key + "=" + value);
  } else {
    lines_.push_back("[" + section + "]");
    lines_.push_back(key + "=" + value);
  }
}

void IniFile::EraseSection(const std::string& section) {
  std::vector<std::string> kept;
  bool erasing = false;
  std::string name;
  for (auto& line : lines_) {
    if (sectionOf(line, name)) erasing = sameText(name, section);
    if (!erasing) kept.push_back(std::move(line));
  }
  lines_ = std::move(kept);
}

std::string IniFile::Text() const {
  const char* eol = crlf_ ? "\r\n" : "\n";
  std::string out;
  for (const auto& l : lines_) {
    out += l;
    out += eol;
  }
  return out;
}

bool IniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  return WriteStrings(section, {{key, value}});
}

bool IniFile::WriteStrings(const std::string& section, const std::vector<std::pair<std::string, std::string>>& values) {
  // Nothing that would read back as other keys or sections than these is written.
  if (!writableSection(section)) return false;
  for (const auto& [key, value] : values)
    if (!writableKey(key) || !IniTextIsOneLine(value)) return false;
  if (IsReadOnly(fileName_) || DirectoryExists(fileName_)) return false;
  Load();
  // A file that is there but cannot be read (or only in part) would be written back with only
  // these keys.
  if (!readError_.empty() || truncated_) return false;
  const std::string previous = Text();
  for (const auto& [key, value] : values) SetString(section, key, value);
  const std::string text = Text();
  // The same scanners as last time: nothing to write, nothing to flush.
  if (text == previous) return true;
  return replaceFile(fileName_, text, previous);
}

std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& fileName) {
  return IniFile(fileName).ReadString(section, key, defaultValue);
}

bool WritePrivateProfileString(const std::string& section, const std::string& key, const std::string& value,
                               const std::string& fileName) {
  return IniFile(fileName).WriteString(section, key, value);
}

}  // namespace lumipage::platform
