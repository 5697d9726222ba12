// A SANE library that misbehaves on request, for the bridge's bad-input tests. One device,
// "fake:0"; $FAKE_SANE_MODE, read by sane_init, says how it behaves:
//   vanish    listed, but gone when opened
//   bare      no options at all; a 16 x 4 grey page
//   stubborn  resolution, mode and source options that refuse every value; a 16 x 4 grey page
//   stall     reads that never bring data
//   zeroes    a few reads without data, then a 16 x 4 grey page
//   short     announces 10 rows of grey, sends 4, then ends the frame
//   badline   a frame whose rows are too short for its width
//   jpeg      a frame in a format the bridge does not read
//   busyopen  sane_open reports the device busy the first $FAKE_SANE_COUNT times (default 2)
//   busystart sane_start reports the device busy the first $FAKE_SANE_COUNT times
//   warming   sane_start reports the lamp warming up the first $FAKE_SANE_COUNT times
//   nodocs    sane_start reports an empty feeder the first $FAKE_SANE_COUNT times
//   gone      sane_start reports an empty feeder the first $FAKE_SANE_COUNT times, then an I/O
//             error for good: the device went away while paper was waited for
//   reader    like SANE's thread-based backends: sane_start starts a reader thread that writes
//             the frame into a pipe, with asynchronous cancellation on; reads fail with
//             JAMMED; sane_cancel closes the pipe, cancels the reader and joins it. The reader,
//             woken by the closed pipe, winds down through the allocator's locked paths, so a
//             cancel that lands there leaves the allocator locked for good.
//   duplex    a feeder with a duplex unit: options that take values, sources "Flatbed", "ADF"
//             and "ADF Duplex", one side a frame, 420 x 590 grey (A4 at 50 dpi); $FAKE_SANE_SIDES
//             gives the sides in feeder order, 'C' text-like bars, 'B' blank paper; then the
//             feeder is empty
#include <pthread.h>
#include <sane/sane.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string g_mode;
int g_handle = 0;
int g_sent = 0;       // bytes of the frame sent
int g_zeroReads = 0;  // reads without data so far
int g_failures = 0;   // failures of open or start still to come
int g_pipe[2] = {-1, -1};
std::string g_sides;          // duplex: the sides still to come, the current one first
std::string g_source = "Flatbed";
int g_resolution = 100;
bool g_started = false;
pthread_t g_reader{};
bool g_readerRunning = false;

constexpr int kWidth = 16;

const SANE_Range kRes{50, 600, 1};
const SANE_String_Const kModes[] = {"Gray", "Color", nullptr};
const SANE_String_Const kSources[] = {"Flatbed", "ADF", nullptr};
const SANE_String_Const kDuplexSources[] = {"Flatbed", "ADF", "ADF Duplex", nullptr};
constexpr int kSideWidth = 420, kSideRows = 590;

bool Duplex() { return g_mode == "duplex"; }

// One grey pixel of the current side: paper, or for a side with content, rows of dark bars
// like lines of text.
SANE_Byte SidePixel(int i) {
  const int x = i % kSideWidth, y = i / kSideWidth;
  const bool text = !g_sides.empty() && g_sides[0] == 'C';
  const bool bar = text && y >= 60 && y < 520 && y % 24 < 5 && x >= 50 && x < 370 && (x / 23) % 4 != 3;
  return static_cast<SANE_Byte>(bar ? 20 : 235 + (i * 7) % 9);
}

SANE_Option_Descriptor g_options[4];

int Rows() { return g_mode == "short" ? 10 : 4; }
int OptionCount() { return g_mode == "stubborn" || Duplex() ? 4 : 1; }

void* Reader(void*) {
  pthread_setcanceltype(PTHREAD_CANCEL_ASYNCHRONOUS, nullptr);
  std::vector<char> chunk(4096, 0);
  for (int sent = 0; sent < (1 << 20); sent += 4096) {
    if (write(g_pipe[1], chunk.data(), chunk.size()) < 0) break;
  }
  // Winding down: blocks too large for the per-thread cache, so every call takes the lock.
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
  while (std::chrono::steady_clock::now() < until) {
    for (int i = 0; i < 1000; ++i) {
      void* volatile p = std::malloc(3000 + (i & 7) * 64);
      std::free(p);
    }
  }
  close(g_pipe[1]);
  return nullptr;
}

}  // namespace

extern "C" {

SANE_Status sane_init(SANE_Int* version, SANE_Auth_Callback) {
  const char* m = std::getenv("FAKE_SANE_MODE");
  g_mode = m ? m : "";
  const char* count = std::getenv("FAKE_SANE_COUNT");
  g_failures = count ? std::atoi(count) : 2;
  if (version) *version = SANE_VERSION_CODE(1, 0, 0);
  g_options[0] = {"", "Number of options", "", SANE_TYPE_INT, SANE_UNIT_NONE, sizeof(SANE_Word), SANE_CAP_SOFT_DETECT,
                  SANE_CONSTRAINT_NONE, {nullptr}};
  g_options[1] = {"resolution", "", "", SANE_TYPE_INT, SANE_UNIT_DPI, sizeof(SANE_Word),
                  SANE_CAP_SOFT_SELECT | SANE_CAP_SOFT_DETECT, SANE_CONSTRAINT_RANGE, {nullptr}};
  g_options[1].constraint.range = &kRes;
  g_options[2] = {"mode", "", "", SANE_TYPE_STRING, SANE_UNIT_NONE, 16, SANE_CAP_SOFT_SELECT | SANE_CAP_SOFT_DETECT,
                  SANE_CONSTRAINT_STRING_LIST, {nullptr}};
  g_options[2].constraint.string_list = kModes;
  g_options[3] = {"source", "", "", SANE_TYPE_STRING, SANE_UNIT_NONE, 16, SANE_CAP_SOFT_SELECT | SANE_CAP_SOFT_DETECT,
                  SANE_CONSTRAINT_STRING_LIST, {nullptr}};
  g_options[3].constraint.string_list = Duplex() ? kDuplexSources : kSources;
  const char* sides = std::getenv("FAKE_SANE_SIDES");
  g_sides = sides ? sides : "";
  g_started = false;
  return SANE_STATUS_GOOD;
}

void sane_exit() {}

SANE_Status sane_get_devices(const SANE_Device*** list, SANE_Bool) {
  static const SANE_Device device{"fake:0", "Fake", "Misbehaving", "flatbed scanner"};
  static const SANE_Device* devices[] = {&device, nullptr};
  *list = devices;
  return SANE_STATUS_GOOD;
}

SANE_Status sane_open(SANE_String_Const, SANE_Handle* h) {
  if (g_mode == "vanish") return SANE_STATUS_INVAL;
  if (g_mode == "busyopen" && g_failures > 0) {
    --g_failures;
    return SANE_STATUS_DEVICE_BUSY;
  }
  *h = &g_handle;
  return SANE_STATUS_GOOD;
}

void sane_close(SANE_Handle) {}

const SANE_Option_Descriptor* sane_get_option_descriptor(SANE_Handle, SANE_Int n) {
  return n >= 0 && n < OptionCount() ? &g_options[n] : nullptr;
}

SANE_Status sane_control_option(SANE_Handle, SANE_Int n, SANE_Action action, void* value, SANE_Int* info) {
  if (info) *info = 0;
  if (n < 0 || n >= OptionCount()) return SANE_STATUS_INVAL;
  if (Duplex() && action == SANE_ACTION_SET_VALUE && n > 0) {
    if (n == 1) g_resolution = *static_cast<SANE_Word*>(value);
    if (n == 3) g_source = static_cast<const char*>(value);
    return SANE_STATUS_GOOD;
  }
  if (Duplex() && action == SANE_ACTION_GET_VALUE && (n == 1 || n == 3)) {
    if (n == 1) *static_cast<SANE_Word*>(value) = g_resolution;
    if (n == 3) std::strcpy(static_cast<char*>(value), g_source.c_str());
    return SANE_STATUS_GOOD;
  }
  if (action != SANE_ACTION_GET_VALUE) return SANE_STATUS_INVAL;  // nothing is ever accepted
  if (n == 0) *static_cast<SANE_Word*>(value) = OptionCount();
  if (n == 1) *static_cast<SANE_Word*>(value) = 100;
  if (n == 2) std::strcpy(static_cast<char*>(value), "Gray");
  if (n == 3) std::strcpy(static_cast<char*>(value), "Flatbed");
  return SANE_STATUS_GOOD;
}

SANE_Status sane_get_parameters(SANE_Handle, SANE_Parameters* p) {
  if (Duplex()) {
    p->format = SANE_FRAME_GRAY;
    p->last_frame = SANE_TRUE;
    p->bytes_per_line = p->pixels_per_line = kSideWidth;
    p->lines = kSideRows;
    p->depth = 8;
    return SANE_STATUS_GOOD;
  }
  p->format = g_mode == "jpeg" ? static_cast<SANE_Frame>(0x0B) : SANE_FRAME_GRAY;
  p->last_frame = SANE_TRUE;
  p->pixels_per_line = kWidth;
  p->bytes_per_line = g_mode == "badline" ? kWidth / 2 : kWidth;
  p->lines = Rows();
  p->depth = 8;
  return SANE_STATUS_GOOD;
}

SANE_Status sane_start(SANE_Handle) {
  g_sent = 0;
  g_zeroReads = 0;
  if (g_failures > 0 && (g_mode == "busystart" || g_mode == "warming" || g_mode == "nodocs" || g_mode == "gone")) {
    --g_failures;
    if (g_mode == "busystart") return SANE_STATUS_DEVICE_BUSY;
    if (g_mode == "warming") return static_cast<SANE_Status>(12);
    return SANE_STATUS_NO_DOCS;
  }
  if (g_mode == "gone") return SANE_STATUS_IO_ERROR;
  if (Duplex()) {
    // Each start after the first takes the next side; the flatbed gives the first side only.
    if (g_started && !g_sides.empty()) g_sides.erase(0, 1);
    if (g_started && g_source == "Flatbed") return SANE_STATUS_NO_DOCS;
    g_started = true;
    if (g_sides.empty()) return SANE_STATUS_NO_DOCS;
  }
  if (g_mode == "reader") {
    signal(SIGPIPE, SIG_IGN);
    if (pipe(g_pipe) != 0 || pthread_create(&g_reader, nullptr, Reader, nullptr) != 0) return SANE_STATUS_NO_MEM;
    g_readerRunning = true;
  }
  return SANE_STATUS_GOOD;
}

SANE_Status sane_read(SANE_Handle, SANE_Byte* data, SANE_Int max, SANE_Int* len) {
  *len = 0;
  if (g_mode == "stall") return SANE_STATUS_GOOD;
  if (g_mode == "reader") return SANE_STATUS_JAMMED;
  if (g_mode == "zeroes" && g_zeroReads < 5) {
    ++g_zeroReads;
    return SANE_STATUS_GOOD;
  }
  if (Duplex()) {
    const int all = kSideWidth * kSideRows;
    if (g_sent >= all) return SANE_STATUS_EOF;
    const int n = std::min(max, all - g_sent);
    for (int i = 0; i < n; ++i) data[i] = SidePixel(g_sent + i);
    g_sent += n;
    *len = n;
    return SANE_STATUS_GOOD;
  }
  const int total = (g_mode == "short" ? 4 : Rows()) * kWidth;
  if (g_sent >= total) return SANE_STATUS_EOF;
  // A few bytes at a time, rows split across reads.
  const int n = std::min({max, total - g_sent, 5});
  for (int i = 0; i < n; ++i) data[i] = static_cast<SANE_Byte>(g_sent + i);
  g_sent += n;
  *len = n;
  return SANE_STATUS_GOOD;
}

void sane_cancel(SANE_Handle) {
  if (!g_readerRunning) return;
  close(g_pipe[0]);
  // The window a real backend leaves by chance (debug output, bookkeeping), held open here: the
  // reader is winding down when the cancel comes.
  usleep(5000);
  pthread_cancel(g_reader);
  pthread_join(g_reader, nullptr);
  g_readerRunning = false;
}

}  // extern "C"
