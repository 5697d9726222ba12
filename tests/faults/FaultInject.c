// Preloaded into the real program by the fault tests: makes the Nth file-system call of one kind
// fail with a chosen error, or kills the process right before it. Only calls on paths under
// LUMIPAGE_FAULT_PREFIX count, so loading libraries, fonts and the terminal are never hit.
//
//   LUMIPAGE_FAULT_PREFIX  folder whose files count (required; nothing is counted without it)
//   LUMIPAGE_FAULT_CALL    write | fsync | rename | open | any
//   LUMIPAGE_FAULT_AT      N: the Nth counted call of that kind fails (from 1)
//   LUMIPAGE_FAULT_ERRNO   ENOSPC | EIO | EACCES | KILL (SIGKILL before the call is made)
//   LUMIPAGE_FAULT_COUNTS  file that receives "write W\nfsync F\nrename R\nopen O\n" at exit
//   LUMIPAGE_FAULT_NOSYNC  1: fsync, fdatasync and sync_file_range succeed without flushing or
//                          starting writeback (for measurements)
//   LUMIPAGE_FAULT_SLOWSYNC  milliseconds every fsync and fdatasync under the folder takes (a slow
//                          disk: work queued behind a flush piles up)
//
// Kinds: write = write, pwrite, writev, pwritev, ftruncate; fsync = fsync, fdatasync;
// rename = rename, renameat, renameat2, link; open = open, openat, creat, fopen.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

enum { kWrite, kFsync, kRename, kOpen, kKinds };
static const char* const kKindNames[kKinds] = {"write", "fsync", "rename", "open"};

static char g_prefix[4096];
static size_t g_prefixLen;
static int g_kind = -2;  // -1: any kind; -2: none
static long g_at;
static int g_errno;
static int g_kill;
static int g_nosync;
static long g_slowSync;  // milliseconds
static long g_count[kKinds];
static long g_any;

#define REAL(name) ((__typeof__(&name))dlsym(RTLD_NEXT, #name))

__attribute__((constructor)) static void faultSetUp(void) {
  const char* prefix = getenv("LUMIPAGE_FAULT_PREFIX");
  if (prefix != NULL && strlen(prefix) < sizeof g_prefix) {
    strcpy(g_prefix, prefix);
    g_prefixLen = strlen(prefix);
  }
  const char* call = getenv("LUMIPAGE_FAULT_CALL");
  if (call != NULL) {
    if (strcmp(call, "any") == 0) g_kind = -1;
    for (int k = 0; k < kKinds; ++k)
      if (strcmp(call, kKindNames[k]) == 0) g_kind = k;
  }
  const char* at = getenv("LUMIPAGE_FAULT_AT");
  g_at = at != NULL ? atol(at) : 0;
  const char* e = getenv("LUMIPAGE_FAULT_ERRNO");
  g_errno = EIO;
  if (e != NULL && strcmp(e, "ENOSPC") == 0) g_errno = ENOSPC;
  if (e != NULL && strcmp(e, "EACCES") == 0) g_errno = EACCES;
  if (e != NULL && strcmp(e, "KILL") == 0) g_kill = 1;
  const char* nosync = getenv("LUMIPAGE_FAULT_NOSYNC");
  g_nosync = nosync != NULL && strcmp(nosync, "1") == 0;
  const char* slow = getenv("LUMIPAGE_FAULT_SLOWSYNC");
  g_slowSync = slow != NULL ? atol(slow) : 0;
}

__attribute__((destructor)) static void faultReport(void) {
  const char* file = getenv("LUMIPAGE_FAULT_COUNTS");
  if (file == NULL) return;
  char text[256];
  const int n = snprintf(text, sizeof text, "write %ld\nfsync %ld\nrename %ld\nopen %ld\n", g_count[kWrite],
                         g_count[kFsync], g_count[kRename], g_count[kOpen]);
  const int fd = (int)syscall(SYS_openat, AT_FDCWD, file, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  if (syscall(SYS_write, fd, text, (size_t)n) < 0) {
  }
  syscall(SYS_close, fd);
}

static int underPrefix(const char* path) {
  if (g_prefixLen == 0 || path == NULL) return 0;
  return strncmp(path, g_prefix, g_prefixLen) == 0;
}

static int fdUnderPrefix(int fd) {
  if (g_prefixLen == 0 || fd < 0) return 0;
  char link[64], path[4096];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = readlink(link, path, sizeof path - 1);
  if (n <= 0) return 0;
  path[n] = '\0';
  return underPrefix(path);
}

static int atUnderPrefix(int dirfd, const char* path) {
  if (path == NULL) return 0;
  if (path[0] == '/' || dirfd == AT_FDCWD) {
    if (path[0] == '/') return underPrefix(path);
    char cwd[4096];
    return getcwd(cwd, sizeof cwd) != NULL && underPrefix(cwd);
  }
  return fdUnderPrefix(dirfd);
}

// Counts a call of kind k; nonzero when this call is the one to fail (errno set).
static int faultHere(int k) {
  // The program may flush on a helper thread.
  const long kindCount = __atomic_add_fetch(&g_count[k], 1, __ATOMIC_SEQ_CST);
  const long anyCount = __atomic_add_fetch(&g_any, 1, __ATOMIC_SEQ_CST);
  const long n = g_kind == -1 ? anyCount : (g_kind == k ? kindCount : 0);
  if (g_at <= 0 || n != g_at) return 0;
  if (g_kill) kill(getpid(), SIGKILL);
  errno = g_errno;
  return 1;
}

ssize_t write(int fd, const void* buf, size_t count) {
  if (fdUnderPrefix(fd) && faultHere(kWrite)) return -1;
  return REAL(write)(fd, buf, count);
}

ssize_t pwrite(int fd, const void* buf, size_t count, off_t offset) {
  if (fdUnderPrefix(fd) && faultHere(kWrite)) return -1;
  return REAL(pwrite)(fd, buf, count, offset);
}

ssize_t pwrite64(int fd, const void* buf, size_t count, off64_t offset) {
  if (fdUnderPrefix(fd) && faultHere(kWrite)) return -1;
  return REAL(pwrite64)(fd, buf, count, offset);
}

ssize_t writev(int fd, const struct iovec* iov, int iovcnt) {
  if (fdUnderPrefix(fd) && faultHere(kWrite)) return -1;
  return REAL(writev)(fd, iov, iovcnt);
}

ssize_t pwritev(int fd, const struct iovec* iov, int iovcnt, off_t offset) {
  if (fdUnderPrefix(fd) && faultHere(kWrite)) return -1;
  return REAL(pwritev)(fd, iov, iovcnt, offset);
}

int ftruncate(int fd, off_t length) {
  if (fdUnderPrefix(fd) && faultHere(kWrite)) return -1;
  return REAL(ftruncate)(fd, length);
}

int ftruncate64(int fd, off64_t length) {
  if (fdUnderPrefix(fd) && faultHere(kWrite)) return -1;
  return REAL(ftruncate64)(fd, length);
}

static void slowSync(void) {
  if (g_slowSync <= 0) return;
  const struct timespec pause = {g_slowSync / 1000, (g_slowSync % 1000) * 1000000L};
  nanosleep(&pause, NULL);
}

int fsync(int fd) {
  if (!fdUnderPrefix(fd)) return REAL(fsync)(fd);
  slowSync();
  if (faultHere(kFsync)) return -1;
  return g_nosync ? 0 : REAL(fsync)(fd);
}

int fdatasync(int fd) {
  if (!fdUnderPrefix(fd)) return REAL(fdatasync)(fd);
  slowSync();
  if (faultHere(kFsync)) return -1;
  return g_nosync ? 0 : REAL(fdatasync)(fd);
}

// Never made to fail: it only starts writeback early and the program ignores its result.
int sync_file_range(int fd, off64_t offset, off64_t nbytes, unsigned int flags) {
  return g_nosync ? 0 : REAL(sync_file_range)(fd, offset, nbytes, flags);
}

int rename(const char* from, const char* to) {
  if ((underPrefix(from) || underPrefix(to)) && faultHere(kRename)) return -1;
  return REAL(rename)(from, to);
}

int renameat(int fromDir, const char* from, int toDir, const char* to) {
  if ((atUnderPrefix(fromDir, from) || atUnderPrefix(toDir, to)) && faultHere(kRename)) return -1;
  return REAL(renameat)(fromDir, from, toDir, to);
}

int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned flags) {
  if ((atUnderPrefix(fromDir, from) || atUnderPrefix(toDir, to)) && faultHere(kRename)) return -1;
  return REAL(renameat2)(fromDir, from, toDir, to, flags);
}

int link(const char* from, const char* to) {
  if ((underPrefix(from) || underPrefix(to)) && faultHere(kRename)) return -1;
  return REAL(link)(from, to);
}

static mode_t modeArgument(int flags, va_list ap) {
  return (flags & (O_CREAT | O_TMPFILE)) != 0 ? (mode_t)va_arg(ap, int) : 0;
}

int open(const char* path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = modeArgument(flags, ap);
  va_end(ap);
  if (atUnderPrefix(AT_FDCWD, path) && faultHere(kOpen)) return -1;
  return REAL(open)(path, flags, mode);
}

int open64(const char* path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = modeArgument(flags, ap);
  va_end(ap);
  if (atUnderPrefix(AT_FDCWD, path) && faultHere(kOpen)) return -1;
  return REAL(open64)(path, flags, mode);
}

int openat(int dirfd, const char* path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = modeArgument(flags, ap);
  va_end(ap);
  if (atUnderPrefix(dirfd, path) && faultHere(kOpen)) return -1;
  return REAL(openat)(dirfd, path, flags, mode);
}

int openat64(int dirfd, const char* path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = modeArgument(flags, ap);
  va_end(ap);
  if (atUnderPrefix(dirfd, path) && faultHere(kOpen)) return -1;
  return REAL(openat64)(dirfd, path, flags, mode);
}

int creat(const char* path, mode_t mode) {
  if (atUnderPrefix(AT_FDCWD, path) && faultHere(kOpen)) return -1;
  return REAL(creat)(path, mode);
}

FILE* fopen(const char* path, const char* mode) {
  if (atUnderPrefix(AT_FDCWD, path) && faultHere(kOpen)) return NULL;
  return REAL(fopen)(path, mode);
}

FILE* fopen64(const char* path, const char* mode) {
  if (atUnderPrefix(AT_FDCWD, path) && faultHere(kOpen)) return NULL;
  return REAL(fopen64)(path, mode);
}
