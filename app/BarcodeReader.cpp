#include "app/BarcodeReader.h"

#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
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
#include "platform/SharedLibrary.h"
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
 private:
  void Load() {
    const std::string path = platform::SystemFolder() + kBarcodeModuleFileName;
    if (!platform::FileExists(path)) {
      problem_ = "Barcode reading is not available: " + path + " is missing";
      return;
    }
    // Bound at once: the child that decodes must not resolve symbols lazily (the loader's lock
    // may be held by another thread at the fork).
    library_ = platform::TSharedLibrary(path);
    if (!library_) {
      problem_ = BarcodeModuleLoadFailure(library_.Failure());
      return;
    }
    auto version = library_.Function<decltype(&lumi_barcode_abi_version)>("lumi_barcode_abi_version");
    auto read = library_.Function<decltype(&lumi_barcode_read)>("lumi_barcode_read");
    if (version == nullptr || read == nullptr || version() != LUMI_BARCODE_ABI_VERSION) {
      problem_ = std::string("Barcode reading is not available: ") + kBarcodeModuleFileName +
                 " belongs to another version of the program";
      return;
    }
    read_ = read;
  }

  std::mutex mutex_;
  bool tried_ = false;
  platform::TSharedLibrary library_;
  decltype(&lumi_barcode_read) read_ = nullptr;
  std::string problem_;
};

// --- The child's side: raw system calls only -------------------------------------------------

// The child's answer for a page on the socket: 'T', a 4-byte length and the text, for each
// code; then 'E' and the decoder's 4-byte result. A child that ends before its 'E' has failed.
bool WriteRecord(int fd, char tag, std::uint32_t value, const void* data, std::size_t size) {
  char head[5];
  head[0] = tag;
  std::memcpy(head + 1, &value, 4);
  return platform::WriteAll(fd, head, sizeof head) && (size == 0 || platform::WriteAll(fd, data, size));
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

std::uint8_t Luma(std::uint32_t rgb) {
  const unsigned r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
  return static_cast<std::uint8_t>((r * 77 + g * 150 + b * 29) >> 8);
}

// The request: the page's width, height and resolution; its pixels lie in the shared memory.
struct TRequest {
  std::uint32_t Width, Height, Dpi;
};

bool ReadAll(int fd, void* data, std::size_t size) {
  auto* p = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t n = ::read(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// The decoding child: waits for a page, decodes it from the shared memory and sends the texts,
// until the job closes its end or ends.
[[noreturn]] void ChildMain(int fd, int memory, pid_t parent, decltype(&lumi_barcode_read) read) {
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
  TRequest request;
  while (ReadAll(fd, &request, sizeof request)) {
    TestFault(fd);
    const std::size_t size = static_cast<std::size_t>(request.Width) * request.Height;
    void* pixels = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, memory, 0);
    if (pixels == MAP_FAILED) ::_exit(5);
    const LumiBarcodeImage view{static_cast<const unsigned char*>(pixels), static_cast<int>(request.Width),
                                static_cast<int>(request.Height), static_cast<int>(request.Width),
                                static_cast<int>(request.Dpi)};
    char message[1] = {};
    int context = fd;
    const int found = read(&view, SendText, &context, message, sizeof message);
    ::munmap(pixels, size);
    if (!WriteRecord(fd, 'E', static_cast<std::uint32_t>(found), nullptr, 0)) ::_exit(3);
  }
  // _exit: the parent's atexit handlers and stdio buffers belong to the parent alone.
  ::_exit(0);
}

// --- The parent's side -------------------------------------------------------------------

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

// Why a child process, forked from the job and kept for the next pages: the module is already
// loaded and the child inherits it, a page reaches it through shared memory without a copy of
// the process, and nothing has to be installed beside the program. A child per page would
// cost a fork of the whole job and the child's copy-on-write faults each time, several times
// the decoding itself on an A4 page. A helper program would be the textbook answer for a
// process with threads, which the job is (text recognition, the source manager): after a fork
// only the forking thread lives on, and a lock another thread held stays locked. The child
// therefore does as little as it can: the module is loaded and bound before the fork, glibc's
// allocator is fork-safe, and what remains are system calls and the library's decoding. Should
// the decoder still find a lock held, the child hangs, the time limit ends it, and the page
// counts as unread; the next page gets a fresh child.
class TDecoderProcess {
 public:
  static TDecoderProcess& Instance() {
    static TDecoderProcess process;
    return process;
  }
  ~TDecoderProcess() { Stop(); }

  TBarcodeRead Read(decltype(&lumi_barcode_read) read, const TBarcodeImage& image, int dpi,
                    std::chrono::milliseconds limit) {
    std::lock_guard lock(mutex_);
    // A child that ended meanwhile (it dies with the thread that started it) is replaced.
    if (pid_ > 0) {
      int status;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        Stop();
      }
    }
    if (pid_ <= 0) {
      std::string problem = Start(read);
      if (!problem.empty()) return Failed(problem);
    }
    const std::size_t size = image.Pixels.size();
    if (size > mapped_) {
      if (map_ != nullptr) ::munmap(map_, mapped_);
      map_ = nullptr;
      mapped_ = 0;
      if (::ftruncate(memory_, static_cast<off_t>(size)) != 0) return Failed(Sentence("could not share the page"));
      void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, memory_, 0);
      if (p == MAP_FAILED) return Failed(Sentence("could not share the page"));
      map_ = static_cast<unsigned char*>(p);
      mapped_ = size;
    }
    std::memcpy(map_, image.Pixels.data(), size);
    const TRequest request{static_cast<std::uint32_t>(image.Width), static_cast<std::uint32_t>(image.Height),
                           static_cast<std::uint32_t>(dpi)};
    if (::send(socket_, &request, sizeof request, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof request))
      return EndWith(Sentence("could not reach its process"));

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + limit;
    std::string data;
    std::vector<std::string> texts;
    bool malformed = false;
    char buffer[16384];
    for (;;) {
      if (platform::InterruptRequested()) {
        Stop();
        platform::CheckInterrupt();
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0)
        return EndWith("The barcode decoder did not finish within " + std::to_string(limit.count()) + " ms");
      // Short slices, so that an interruption is seen within a few tens of milliseconds.
      pollfd wait{socket_, POLLIN, 0};
      const int r = ::poll(&wait, 1, static_cast<int>(std::min<std::int64_t>(left.count(), 50)));
      if (r < 0 && errno != EINTR) return EndWith(Sentence(std::strerror(errno)));
      if (r <= 0) continue;
      const ssize_t n = ::recv(socket_, buffer, sizeof buffer, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return EndWith(Crashed());
      data.append(buffer, static_cast<std::size_t>(n));
      if (data.size() > kBarcodeTextLimit + 4096)
        return EndWith("The barcode decoder sent more than " + std::to_string(kBarcodeTextLimit / 1024) +
                       " KB of text");
      if (ParseRecords(data, texts, malformed)) break;
      if (malformed) return EndWith("The barcode decoder sent a malformed answer");
    }
    std::uint32_t found;
    std::memcpy(&found, data.data() + data.size() - 4, 4);
    if (static_cast<std::int32_t>(found) < 0) return Failed("The barcode decoder failed on the page");
    TBarcodeRead result;
    result.Texts = std::move(texts);
    result.Status = result.Texts.empty() ? TBarcodeRead::TStatus::NoCode : TBarcodeRead::TStatus::Read;
    return result;
  }

  // Ends the child (killed: it may be stuck) and reaps it.
  void Stop() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      int status;
      while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
    }
    pid_ = -1;
    CloseAll();
  }

  void StopLocked() {
    std::lock_guard lock(mutex_);
    Stop();
  }

 private:
  static std::string Sentence(const std::string& why) { return "The barcode decoder " + why; }

  std::string Start(decltype(&lumi_barcode_read) read) {
    CloseAll();
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
      return std::string("Barcode reading could not start: ") + std::strerror(errno);
    socket_ = pair[0];
    memory_ = ::memfd_create("lumipage-barcode-page", MFD_CLOEXEC);
    if (memory_ < 0) {
      ::close(pair[1]);
      return std::string("Barcode reading could not start: ") + std::strerror(errno);
    }
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ < 0) {
      ::close(pair[1]);
      return std::string("Barcode reading could not start: ") + std::strerror(errno);
    }
    if (pid_ == 0) {
      ::close(pair[0]);
      ChildMain(pair[1], memory_, parent, read);
    }
    ::close(pair[1]);
    return {};
  }

  // The child's end as one sentence, once it closed its socket.
  std::string Crashed() {
    int status = 0;
    pid_t r;
    while ((r = ::waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    if (r > 0 && WIFSIGNALED(status)) {
      const int sig = WTERMSIG(status);
      const char* name = ::sigabbrev_np(sig);
      return "The barcode decoder crashed (" + (name != nullptr ? "SIG" + std::string(name) : "signal " + std::to_string(sig)) + ")";
    }
    return "The barcode decoder ended without a result";
  }

  TBarcodeRead EndWith(std::string error) {
    Stop();
    return Failed(std::move(error));
  }

  void CloseAll() {
    if (map_ != nullptr) ::munmap(map_, mapped_);
    map_ = nullptr;
    mapped_ = 0;
    if (socket_ >= 0) ::close(socket_);
    if (memory_ >= 0) ::close(memory_);
    socket_ = memory_ = -1;
  }

  std::mutex mutex_;
  pid_t pid_ = -1;
  int socket_ = -1;
  int memory_ = -1;
  unsigned char* map_ = nullptr;
  std::size_t mapped_ = 0;
};

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

TBarcodeRead ReadBarcodes(const TDibGraphic& page, std::uint16_t dpi, std::chrono::milliseconds limit) {
  std::string problem;
  const auto read = TBarcodeModule::Instance().Read(problem);
  if (read == nullptr) return Failed(problem);
  const std::uint16_t pageDpi = dpi != 0 ? dpi : page.DpiX();
  const TBarcodeImage image = BarcodeImageOf(page, pageDpi);
  if (image.Pixels.empty()) return {};
  return TDecoderProcess::Instance().Read(read, image, pageDpi / std::max(1, pageDpi / 200), limit);
}

void StopBarcodeReader() { TDecoderProcess::Instance().StopLocked(); }

}  // namespace lumipage
