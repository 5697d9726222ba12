#include "platform/FileReplace.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <condition_variable>
#include <ctime>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/Files.h"

namespace lumipage::platform {

namespace {

constexpr const char* kTempMark = ".lumipage-";
constexpr const char* kTempSuffix = ".tmp";
constexpr int kRandomChars = 6;
constexpr size_t kMaxBaseInTempName = 180;  // keeps the temporary name under NAME_MAX
constexpr int kMaxLinks = 40;

// The names of this process's open temporary files, for RemoveOwnTemporaries in a signal
// handler: fixed storage, no allocation, a slot is published only once its name is complete.
constexpr int kSlots = 8;
char g_slotName[kSlots][PATH_MAX];
volatile sig_atomic_t g_slotUsed[kSlots];

int claimSlot(const std::string& name) {
  if (name.size() >= PATH_MAX) return -1;
  for (int i = 0; i < kSlots; ++i) {
    if (g_slotUsed[i] == 0) {
      std::memcpy(g_slotName[i], name.c_str(), name.size() + 1);
      g_slotUsed[i] = 1;
      return i;
    }
  }
  return -1;
}

void releaseSlot(int slot) {
  if (slot >= 0 && slot < kSlots) g_slotUsed[slot] = 0;
}

std::string folderOf(const std::string& path) {
  std::string dir = ExtractFilePath(path);
  return dir.empty() ? std::string("./") : dir;
}

std::string randomChars() {
  static const char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  unsigned char bytes[kRandomChars];
  if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
    static unsigned counter = 0;
    unsigned v = static_cast<unsigned>(std::time(nullptr)) ^ static_cast<unsigned>(::getpid()) * 2654435761u ^ ++counter * 40503u;
    for (auto& b : bytes) {
      v = v * 1103515245u + 12345u;
      b = static_cast<unsigned char>(v >> 16);
    }
  }
  std::string s;
  for (unsigned char b : bytes) s += alphabet[b % (sizeof alphabet - 1)];
  return s;
}

mode_t newFileMode() {
  // The umask can only be read by setting it; the job has one thread doing files.
  static const mode_t mask = [] {
    mode_t m = ::umask(022);
    ::umask(m);
    return m;
  }();
  return 0666 & ~mask;
}

std::string errnoText(int e) { return std::strerror(e); }

bool fsyncFd(int fd) {
  while (::fsync(fd) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

}  // namespace

std::string ResolveSaveTarget(const std::string& name, TSaveTarget& target) {
  target = TSaveTarget{};
  if (name.empty()) return errnoText(ENOENT);
  std::string path = name;
  for (int hops = 0;; ++hops) {
    if (hops > kMaxLinks) return errnoText(ELOOP);
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
      if (errno != ENOENT) return errnoText(errno);
      // A new file (or the missing end of a dangling link): its folder must be there.
      if (!DirectoryExists(folderOf(path))) return errnoText(ENOENT);
      target.Path = path;
      return {};
    }
    if (S_ISLNK(st.st_mode)) {
      std::vector<char> buf(PATH_MAX + 1);
      const ssize_t n = ::readlink(path.c_str(), buf.data(), buf.size() - 1);
      if (n <= 0) return errnoText(n < 0 ? errno : EINVAL);
      std::string link(buf.data(), static_cast<size_t>(n));
      path = link.front() == '/' ? link : ExtractFilePath(path) + link;
      continue;
    }
    if (S_ISDIR(st.st_mode)) return errnoText(EISDIR);
    if (!S_ISREG(st.st_mode)) return "Not a regular file";
    if ((st.st_mode & 0222) == 0) return errnoText(EACCES);
    target.Path = path;
    target.Exists = true;
    target.Mode = st.st_mode & 07777;
    target.Owner = st.st_uid;
    target.Group = st.st_gid;
    return {};
  }
}

pid_t TemporaryFileOwner(const std::string& fileName) {
  const std::string name = ExtractFileName(fileName);
  const size_t suffix = std::strlen(kTempSuffix);
  if (name.size() < 2 || name.front() != '.' || name.size() <= suffix ||
      name.compare(name.size() - suffix, suffix, kTempSuffix) != 0)
    return 0;
  const size_t mark = name.rfind(kTempMark);
  if (mark == std::string::npos || mark == 0) return 0;
  // "<pid>-<random>" between the mark and the suffix.
  const std::string tail = name.substr(mark + std::strlen(kTempMark), name.size() - suffix - mark - std::strlen(kTempMark));
  const size_t dash = tail.find('-');
  if (dash == std::string::npos || dash == 0 || dash > 10 || tail.size() - dash - 1 != kRandomChars) return 0;
  long long pid = 0;
  for (size_t i = 0; i < dash; ++i) {
    if (tail[i] < '0' || tail[i] > '9') return 0;
    pid = pid * 10 + (tail[i] - '0');
  }
  for (size_t i = dash + 1; i < tail.size(); ++i) {
    const char c = tail[i];
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return 0;
  }
  return pid > 0 && pid <= INT_MAX ? static_cast<pid_t>(pid) : 0;
}

bool IsTemporaryFileName(const std::string& fileName) { return TemporaryFileOwner(fileName) != 0; }

int RemoveStaleTemporaries(const std::string& folder) {
  const std::string dir = folder.empty() ? std::string("./") : (folder.back() == '/' ? folder : folder + "/");
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return 0;
  int removed = 0;
  std::vector<std::string> stale;
  while (const dirent* e = ::readdir(d)) {
    const pid_t owner = TemporaryFileOwner(e->d_name);
    if (owner == 0 || owner == ::getpid()) continue;
    // A writer that still runs keeps its file; only a vanished process's file is garbage.
    if (::kill(owner, 0) == 0 || errno != ESRCH) continue;
    stale.emplace_back(e->d_name);
  }
  ::closedir(d);
  for (const auto& name : stale) {
    struct stat st {};
    const std::string path = dir + name;
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::unlink(path.c_str()) == 0) ++removed;
  }
  if (removed > 0) (void)SyncFolder(dir);
  return removed;
}

void RemoveOwnTemporaries() noexcept {
  for (int i = 0; i < kSlots; ++i) {
    if (g_slotUsed[i] != 0) ::unlink(g_slotName[i]);
  }
}

namespace {
std::vector<std::string>& deferredSyncs() {
  static std::vector<std::string> paths;
  return paths;
}
}  // namespace

void DeferSync(const std::string& path) {
  auto& paths = deferredSyncs();
  for (const auto& p : paths)
    if (p == path) return;
  paths.push_back(path);
}

bool SyncDeferred(std::string& failedPath) {
  std::vector<std::string> paths;
  paths.swap(deferredSyncs());
  for (const auto& p : paths) {
    const bool folder = !p.empty() && p.back() == '/';
    if (!(folder ? SyncFolder(p) : SyncFile(p))) {
      failedPath = p;
      return false;
    }
  }
  return true;
}

namespace {

// One piece of work for the helper thread: a replacement to flush, close and rename (Temp set),
// or an open file to flush (Temp empty; its descriptor stays its owner's).
struct TBackgroundItem {
  int Fd = -1;
  int Slot = -1;
  std::string Temp;
  std::string Path;  // the target, or the name of the file flushed
};

// The helper thread and the work queued for it, done in order. After a failure the rest of the
// queue is dropped (temporary files removed) until the failure has been collected.
class TBackgroundQueue {
 public:
  ~TBackgroundQueue() {
    {
      std::lock_guard lock(mutex_);
      quit_ = true;
    }
    changed_.notify_all();
    if (worker_.joinable()) worker_.join();
  }

  void Push(TBackgroundItem item) {
    std::unique_lock lock(mutex_);
    if (!worker_.joinable()) {
      try {
        worker_ = std::thread([this] { Run(); });
      } catch (const std::system_error&) {
        // No thread to be had: here and now.
        lock.unlock();
        Process(item);
        return;
      }
    }
    // A few waiting at most: each holds a temporary file until it is done.
    changed_.wait(lock, [this] { return items_.size() < kMaxWaiting; });
    items_.push_back(std::move(item));
    changed_.notify_all();
  }

  // How many items were done since the last call (done), and whether one failed. With wait,
  // or once one failed, waits until the queue is empty and then starts afresh.
  bool Collect(bool wait, int& done, std::string& target, std::string& error) {
    std::unique_lock lock(mutex_);
    if (wait || failed_) changed_.wait(lock, [this] { return items_.empty() && !busy_; });
    done = std::exchange(done_, 0);
    for (auto& folder : std::exchange(renamedFolders_, {})) DeferSync(folder);
    if (!failed_) return true;
    failed_ = false;
    target = std::exchange(failedTarget_, {});
    error = std::exchange(failedError_, {});
    return false;
  }

 private:
  static constexpr std::size_t kMaxWaiting = 3;

  void Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return quit_ || !items_.empty(); });
      if (items_.empty()) return;
      TBackgroundItem item = std::move(items_.front());
      items_.pop_front();
      busy_ = true;
      changed_.notify_all();
      lock.unlock();
      Process(item);
      lock.lock();
      busy_ = false;
      changed_.notify_all();
    }
  }

  void Process(TBackgroundItem& item) {
    bool drop;
    {
      std::lock_guard lock(mutex_);
      drop = failed_;
    }
    int e = 0;
    if (!drop && !fsyncFd(item.Fd)) e = errno;
    if (!item.Temp.empty()) {
      if (::close(item.Fd) != 0 && e == 0 && !drop) e = errno;
      if (!drop && e == 0 && ::rename(item.Temp.c_str(), item.Path.c_str()) != 0) e = errno;
      if (drop || e != 0) ::unlink(item.Temp.c_str());
      releaseSlot(item.Slot);
    }
    std::lock_guard lock(mutex_);
    if (drop) return;
    if (e != 0) {
      failed_ = true;
      failedTarget_ = item.Path;
      failedError_ = errnoText(e);
      return;
    }
    ++done_;
    if (!item.Temp.empty()) renamedFolders_.push_back(folderOf(item.Path));
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<TBackgroundItem> items_;
  std::thread worker_;
  bool busy_ = false;
  bool quit_ = false;
  int done_ = 0;
  bool failed_ = false;
  std::string failedTarget_;
  std::string failedError_;
  std::vector<std::string> renamedFolders_;
};

TBackgroundQueue& backgroundQueue() {
  static TBackgroundQueue queue;
  return queue;
}

}  // namespace

bool BackgroundProgress(int& done, std::string& target, std::string& error) {
  return backgroundQueue().Collect(false, done, target, error);
}

bool FinishBackground(int& done, std::string& target, std::string& error) {
  return backgroundQueue().Collect(true, done, target, error);
}

void FlushInBackground(int fd, const std::string& name) {
  TBackgroundItem item;
  item.Fd = fd;
  item.Path = name;
  backgroundQueue().Push(std::move(item));
}

bool SyncFolder(const std::string& folder) {
  const std::string dir = folder.empty() ? std::string(".") : folder;
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = fsyncFd(fd);
  // Some file systems cannot flush a folder; what they hold is as durable as they make it.
  if (!ok && (errno == EINVAL || errno == EROFS)) ok = true;
  const int e = errno;
  ::close(fd);
  errno = e;
  return ok;
}

bool SyncFile(const std::string& fileName) {
  const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = fsyncFd(fd);
  ::close(fd);
  return ok;
}

TFileReplacement::TFileReplacement(const std::string& target) {
  error_ = ResolveSaveTarget(target, target_);
  if (!error_.empty()) return;
  const std::string dir = folderOf(target_.Path);
  std::string base = ExtractFileName(target_.Path);
  if (base.size() > kMaxBaseInTempName) base.resize(kMaxBaseInTempName);
  const std::string stem = dir + "." + base + kTempMark + std::to_string(::getpid()) + "-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = stem + randomChars() + kTempSuffix;
    // Published before the file exists, so a signal between the two leaves nothing behind.
    slot_ = claimSlot(name);
    fd_ = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd_ >= 0) {
      tempName_ = std::move(name);
      return;
    }
    const int e = errno;
    releaseSlot(slot_);
    slot_ = -1;
    if (e != EEXIST) {
      errno_ = e;
      error_ = errnoText(e);
      return;
    }
  }
  error_ = errnoText(EEXIST);
}

TFileReplacement::~TFileReplacement() { Discard(); }

void TFileReplacement::Discard() noexcept {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!committed_ && !tempName_.empty()) ::unlink(tempName_.c_str());
  releaseSlot(slot_);
  slot_ = -1;
}

bool TFileReplacement::Commit(TFlush flush) {
  if (!Ok() || committed_) {
    if (error_.empty()) error_ = errnoText(EBADF);
    return false;
  }
  auto fail = [this](int e) {
    error_ = errnoText(e);
    Discard();
    return false;
  };
  const mode_t mode = target_.Exists ? target_.Mode : newFileMode();
  if (target_.Exists && ::geteuid() == 0 && ::fchown(fd_, target_.Owner, target_.Group) != 0) return fail(errno);
  // After fchown, which may clear set-id bits.
  if (::fchmod(fd_, mode) != 0) return fail(errno);
  if (flush == TFlush::Background) {
    TBackgroundItem item;
    item.Fd = fd_;
    item.Slot = slot_;
    item.Temp = tempName_;
    item.Path = target_.Path;
    // The helper thread owns the descriptor and the temporary file now.
    fd_ = -1;
    slot_ = -1;
    committed_ = true;
    backgroundQueue().Push(std::move(item));
    return true;
  }
  if (flush != TFlush::None && !fsyncFd(fd_)) return fail(errno);
  if (::close(fd_) != 0) {
    fd_ = -1;
    return fail(errno);
  }
  fd_ = -1;
  if (::rename(tempName_.c_str(), target_.Path.c_str()) != 0) return fail(errno);
  committed_ = true;
  releaseSlot(slot_);
  slot_ = -1;
  if (flush == TFlush::None) return true;
  if (flush == TFlush::FileNow) {
    DeferSync(folderOf(target_.Path));
    return true;
  }
  // The new name is on disk only once the folder is. When that fails, a new file goes again,
  // so that a failed save leaves no file behind; a replaced file stays the new one, as its old
  // content is gone.
  if (!SyncFolder(folderOf(target_.Path))) {
    error_ = errnoText(errno);
    if (!target_.Exists) ::unlink(target_.Path.c_str());
    return false;
  }
  return true;
}

bool DeleteTargetFile(const std::string& name) {
  TSaveTarget target;
  if (!ResolveSaveTarget(name, target).empty() || !target.Exists) return false;
  return ::unlink(target.Path.c_str()) == 0;
}

bool NameTaken(const std::string& name) {
  struct stat st {};
  return !name.empty() && ::lstat(name.c_str(), &st) == 0;
}

int MoveFileNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    (void)SyncFolder(folderOf(to));
    // A move within one folder is on disk with that one flush.
    if (folderOf(from) != folderOf(to)) (void)SyncFolder(folderOf(from));
    return 0;
  }
  int e = errno;
  if (e == EINVAL || e == ENOSYS) {
    // File systems without the flag: a hard link fails the same way when the name is taken.
    if (::link(from.c_str(), to.c_str()) == 0) {
      ::unlink(from.c_str());
      (void)SyncFolder(folderOf(to));
      return 0;
    }
    e = errno;
  }
  if (e != EXDEV && e != EPERM) return e;
  // Another file system: copy into a new file of that name, then remove the original.
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return errno;
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, newFileMode());
  if (out < 0) {
    e = errno;
    ::close(in);
    return e;
  }
  std::vector<char> buf(1 << 16);
  e = 0;
  for (;;) {
    const ssize_t n = ::read(in, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      e = errno;
      break;
    }
    if (n == 0) break;
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = ::write(out, buf.data() + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        e = w < 0 ? errno : EIO;
        break;
      }
      done += w;
    }
    if (e != 0) break;
  }
  if (e == 0 && !fsyncFd(out)) e = errno;
  if (::close(out) != 0 && e == 0) e = errno;
  ::close(in);
  if (e != 0) {
    ::unlink(to.c_str());
    return e;
  }
  (void)SyncFolder(folderOf(to));
  ::unlink(from.c_str());
  return 0;
}

}  // namespace lumipage::platform
