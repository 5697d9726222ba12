#include "app/BarcodeReader.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "app/JobSettings.h"
#include "barcode/BarcodePlugin.h"
#include "platform/Files.h"
#include "platform/Interrupt.h"
#include "platform/SystemFolder.h"

namespace lumipage {

namespace {

// The decoder, loaded once for the process; a failure to load is kept and repeated.
class TBarcodeModule {
 public:
  static TBarcodeModule& Instance() {
    static TBarcodeModule module;
    return module;
  }
  // The read function, or null with the reason in problem.
  decltype(&lumi_barcode_read) Read(std::string& problem) {
    std::lock_guard lock(mutex_);
    if (!tried_) {
      tried_ = true;
      Load();
    }
    problem = problem_;
    return read_;
  }
  ~TBarcodeModule() {
    if (library_ != nullptr) ::dlclose(library_);
  }

 private:
  void Load() {
    const std::string path = platform::SystemFolder() + kBarcodeModuleFileName;
    if (!platform::FileExists(path)) {
      problem_ = "Barcode reading is not available: " + path + " is missing";
      return;
    }
    // Bound at once: the child that decodes must not resolve symbols lazily (the loader's lock
    // may be held by another thread at the fork).
    library_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library_ == nullptr) {
      const char* why = ::dlerror();
      problem_ = BarcodeModuleLoadFailure(why != nullptr ? why : "unknown reason");
      return;
    }
    auto version = reinterpret_cast<decltype(&lumi_barcode_abi_version)>(::dlsym(library_, "lumi_barcode_abi_version"));
    auto read = reinterpret_cast<decltype(&lumi_barcode_read)>(::dlsym(library_, "lumi_barcode_read"));
    if (version == nullptr || read == nullptr || version() != LUMI_BARCODE_ABI_VERSION) {
      problem_ = std::string("Barcode reading is not available: ") + kBarcodeModuleFileName +
                 " belongs to another version of the program";
      return;
    }
    read_ = read;
  }

  std::mutex mutex_;
  bool tried_ = false;
  void* library_ = nullptr;
  decltype(&lumi_barcode_read) read_ = nullptr;
  std::string problem_;
};

// --- The child's side: raw system calls only -------------------------------------------------

// The child's records on the pipe: 'T', a 4-byte length and the text, for each code; then 'E'
// and the decoder's 4-byte result. A child that ends without 'E' has failed.
bool WriteAll(int fd, const void* data, std::size_t size) {
  const auto* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool WriteRecord(int fd, char tag, std::uint32_t value, const void* data, std::size_t size) {
  char head[5];
  head[0] = tag;
  std::memcpy(head + 1, &value, 4);
  return WriteAll(fd, head, sizeof head) && (size == 0 || WriteAll(fd, data, size));
}

extern "C" void SendText(void* context, const unsigned char* bytes, std::size_t size) {
  const int fd = *static_cast<int*>(context);
  const std::size_t sent = std::min<std::size_t>(size, kBarcodeTextLimit + 1);
  if (!WriteRecord(fd, 'T', static_cast<std::uint32_t>(sent), bytes, sent)) ::_exit(3);
}

// A way for the tests to make the child misbehave as a broken decoder would; read only here,
// in the child, so the job itself never acts on it.
void TestFault(int fd) {
  const char* fault = std::getenv("LUMIPAGE_TEST_BARCODE_CHILD");
  if (fault == nullptr) return;
  if (std::strcmp(fault, "abort") == 0) std::abort();
  if (std::strcmp(fault, "hang") == 0)
    for (;;) ::pause();
  if (std::strcmp(fault, "flood") == 0) {
    static const char block[4096] = {};
    for (;;) SendText(&fd, reinterpret_cast<const unsigned char*>(block), sizeof block);
  }
}

[[noreturn]] void ChildMain(int fd, pid_t parent, decltype(&lumi_barcode_read) read, const TBarcodeImage& image,
                            int dpi) {
  // A signal meant for the job (a caller's time-out, Ctrl+C on the terminal) ends the child
  // plainly: the job's handler would report an interruption through the job's own wake-up pipe.
  for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGPIPE}) ::signal(sig, SIG_DFL);
  sigset_t all;
  sigemptyset(&all);
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&all, sig);
  ::pthread_sigmask(SIG_UNBLOCK, &all, nullptr);
  // The child never outlives the job, and an abort leaves no core file behind.
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent) ::_exit(4);
  const rlimit noCore{0, 0};
  ::setrlimit(RLIMIT_CORE, &noCore);
  TestFault(fd);
  const LumiBarcodeImage view{image.Pixels.data(), image.Width, image.Height, image.Width, dpi};
  char message[1] = {};
  int context = fd;
  const int found = read(&view, SendText, &context, message, sizeof message);
  if (!WriteRecord(fd, 'E', static_cast<std::uint32_t>(found), nullptr, 0)) ::_exit(3);
  // _exit: the parent's atexit handlers and stdio buffers belong to the parent alone.
  ::_exit(0);
}

// --- The parent's side -------------------------------------------------------------------

struct TFd {
  int Fd = -1;
  ~TFd() {
    if (Fd >= 0) ::close(Fd);
  }
};

// Ends and reaps the child on every way out of the wait.
struct TChild {
  pid_t Pid = -1;
  int Status = 0;
  bool Reaped = false;
  // Waits for the child's end; false when it cannot be known (children are reaped elsewhere).
  bool Reap() {
    while (!Reaped) {
      const pid_t r = ::waitpid(Pid, &Status, 0);
      if (r == Pid) Reaped = true;
      else if (!(r < 0 && errno == EINTR)) return false;
    }
    return true;
  }
  void Kill() {
    if (!Reaped) ::kill(Pid, SIGKILL);
  }
  ~TChild() {
    if (Pid > 0 && !Reaped) {
      Kill();
      Reap();
    }
  }
};

// Parses the records read so far; true once the end record arrived.
bool ParseRecords(const std::string& data, std::vector<std::string>& texts, bool& malformed) {
  std::size_t at = 0;
  texts.clear();
  while (at + 5 <= data.size()) {
    std::uint32_t value;
    std::memcpy(&value, data.data() + at + 1, 4);
    if (data[at] == 'E') return at + 5 == data.size() || (malformed = true, false);
    if (data[at] != 'T') {
      malformed = true;
      return false;
    }
    if (data.size() - at - 5 < value) return false;
    texts.emplace_back(data, at + 5, value);
    at += 5 + value;
  }
  return false;
}

TBarcodeRead Failed(std::string error) {
  TBarcodeRead read;
  read.Status = TBarcodeRead::TStatus::Failed;
  read.Error = std::move(error);
  return read;
}

std::uint8_t Luma(std::uint32_t rgb) {
  const unsigned r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
  return static_cast<std::uint8_t>((r * 77 + g * 150 + b * 29) >> 8);
}

}  // namespace

std::string BarcodeModuleLoadFailure(const std::string& reason) {
  if (reason.find("libZXing.so") != std::string::npos)
    return "Barcode reading needs zxing-cpp: install the package libzxing2 (" + reason + ")";
  return "Barcode reading is not available: " + reason;
}

void RequireBarcodeReader() {
  std::string problem;
  if (TBarcodeModule::Instance().Read(problem) == nullptr) throw EJobError(problem);
}

TBarcodeImage BarcodeImageOf(const TDibGraphic& page, std::uint16_t dpi) {
  TBarcodeImage image;
  if (page.Width() <= 0 || page.Height() <= 0) return image;
  // Whole factors keep the bars' edges sharp. A 0.33 mm module shrunk to 150 dpi is two pixels
  // with a half-grey edge, which the decoder misreads in a Code 128; 200 to 399 dpi keeps it
  // at 2.6 pixels or more. The decoder's time goes mostly into the crops, not the page.
  const int factor = std::max(1, dpi / 200);
  const int w = std::max(1, page.Width() / factor), h = std::max(1, page.Height() / factor);
  image.Width = w;
  image.Height = h;
  image.Pixels.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
  // Grey level of each palette entry; true colour is weighed in place.
  std::uint8_t levels[256] = {};
  const TImageKind kind = page.ImageKind();
  const unsigned bits = BitsPerPixelOf(kind);
  if (kind != ikTrueColor) {
    const TLogPalette& palette = page.LogPalette();
    for (unsigned i = 0; i < std::min<unsigned>(palette.palNumEntries, 256); ++i) {
      const auto& e = palette.palPalEntry[i];
      levels[i] = Luma((static_cast<std::uint32_t>(e.peRed) << 16) | (e.peGreen << 8) | e.peBlue);
    }
  }
  const int used = w * factor;
  auto levelsOf = [&](const std::uint8_t* row, std::uint8_t* out) {
    if (kind == ikTrueColor) {
      for (int x = 0; x < used; ++x, row += 3)  // blue, green, red
        out[x] = static_cast<std::uint8_t>((row[2] * 77u + row[1] * 150u + row[0] * 29u) >> 8);
    } else if (bits == 8) {
      for (int x = 0; x < used; ++x) out[x] = levels[row[x]];
    } else {
      const unsigned perByte = 8 / bits, mask = (1u << bits) - 1;
      for (int x = 0; x < used; ++x) {
        const unsigned shift = 8 - bits * (static_cast<unsigned>(x) % perByte + 1);
        out[x] = levels[(row[static_cast<unsigned>(x) / perByte] >> shift) & mask];
      }
    }
  };
  if (factor == 1) {
    for (int y = 0; y < h; ++y) levelsOf(page.RowBits(y), image.Pixels.data() + static_cast<std::size_t>(y) * w);
    return image;
  }
  std::vector<std::uint8_t> line(static_cast<std::size_t>(used));
  std::vector<std::uint32_t> sums(static_cast<std::size_t>(w));
  const std::uint32_t area = static_cast<std::uint32_t>(factor * factor);
  for (int oy = 0; oy < h; ++oy) {
    std::fill(sums.begin(), sums.end(), 0);
    for (int dy = 0; dy < factor; ++dy) {
      levelsOf(page.RowBits(oy * factor + dy), line.data());
      for (int x = 0, at = 0; x < w; ++x)
        for (int i = 0; i < factor; ++i) sums[static_cast<std::size_t>(x)] += line[static_cast<std::size_t>(at++)];
    }
    std::uint8_t* out = image.Pixels.data() + static_cast<std::size_t>(oy) * static_cast<std::size_t>(w);
    for (int x = 0; x < w; ++x) out[x] = static_cast<std::uint8_t>(sums[static_cast<std::size_t>(x)] / area);
  }
  return image;
}

// Why a child per page, forked from the job: the page is already in memory and the child sees
// it without a copy, a fork of the job costs about a millisecond, and nothing has to be
// installed beside the program. A helper program that reads the page from a pipe would be the
// textbook answer for a process with threads, which the job is (text recognition, the
// source manager): after a fork only the forking thread lives on, and a lock another thread held
// stays locked. The child therefore does as little as it can: the module is loaded and bound
// before the fork, the page is converted before it, glibc's allocator is fork-safe, and what
// remains are system calls and the library's decoding. Should the decoder still find a lock
// held, the child hangs, the time limit ends it, and the page counts as unread.
TBarcodeRead ReadBarcodes(const TDibGraphic& page, std::uint16_t dpi, std::chrono::milliseconds limit) {
  std::string problem;
  const auto read = TBarcodeModule::Instance().Read(problem);
  if (read == nullptr) return Failed(problem);
  const std::uint16_t pageDpi = dpi != 0 ? dpi : page.DpiX();
  const TBarcodeImage image = BarcodeImageOf(page, pageDpi);
  const int imageDpi = pageDpi / std::max(1, pageDpi / 200);
  if (image.Pixels.empty()) return {};

  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return Failed(std::string("Barcode reading could not start: ") + std::strerror(errno));
  TFd in{fds[0]}, out{fds[1]};
  const pid_t parent = ::getpid();
  TChild child;
  child.Pid = ::fork();
  if (child.Pid < 0) return Failed(std::string("Barcode reading could not start: ") + std::strerror(errno));
  if (child.Pid == 0) {
    ::close(fds[0]);
    ChildMain(fds[1], parent, read, image, imageDpi);
  }
  ::close(out.Fd);
  out.Fd = -1;

  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + limit;
  std::string data;
  std::vector<std::string> texts;
  bool malformed = false, complete = false;
  char buffer[16384];
  for (;;) {
    if (platform::InterruptRequested()) {
      child.Kill();
      child.Reap();
      platform::CheckInterrupt();
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      child.Kill();
      child.Reap();
      return Failed("The barcode decoder did not finish within " + std::to_string(limit.count()) + " ms");
    }
    // Short slices, so that an interruption is seen within a few tens of milliseconds.
    pollfd wait{in.Fd, POLLIN, 0};
    const int r = ::poll(&wait, 1, static_cast<int>(std::min<std::int64_t>(left.count(), 50)));
    if (r < 0 && errno != EINTR) {
      child.Kill();
      child.Reap();
      return Failed(std::string("Barcode reading failed: ") + std::strerror(errno));
    }
    if (r <= 0) continue;
    const ssize_t n = ::read(in.Fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // the child closed its end: it has ended
    data.append(buffer, static_cast<std::size_t>(n));
    if (data.size() > kBarcodeTextLimit + 4096) {
      child.Kill();
      child.Reap();
      return Failed("The barcode decoder sent more than " + std::to_string(kBarcodeTextLimit / 1024) + " KB of text");
    }
    complete = ParseRecords(data, texts, malformed);
    if (complete || malformed) break;
  }
  if (!complete && !malformed) complete = ParseRecords(data, texts, malformed);
  // The end record comes right before the child's _exit; anything else ended it early.
  const bool known = child.Reap();
  if (known && WIFSIGNALED(child.Status)) {
    const int sig = WTERMSIG(child.Status);
    const char* name = ::sigabbrev_np(sig);
    return Failed("The barcode decoder crashed (" + (name != nullptr ? "SIG" + std::string(name) : "signal " + std::to_string(sig)) + ")");
  }
  if (malformed || !complete || (known && (!WIFEXITED(child.Status) || WEXITSTATUS(child.Status) != 0)))
    return Failed("The barcode decoder ended without a result");
  std::uint32_t found;
  std::memcpy(&found, data.data() + data.size() - 4, 4);
  if (static_cast<std::int32_t>(found) < 0) return Failed("The barcode decoder failed on the page");
  TBarcodeRead result;
  result.Texts = std::move(texts);
  result.Status = result.Texts.empty() ? TBarcodeRead::TStatus::NoCode : TBarcodeRead::TStatus::Read;
  return result;
}

}  // namespace lumipage
