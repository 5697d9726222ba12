#include "dsm/SaneFrames.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "dsm/RowConvert.h"
#include "imaging/PackedDib.h"
#include "platform/Interrupt.h"
#include "platform/LargeMemory.h"
#include "platform/ThreadCancel.h"

namespace lumipage::dsm {

// A frame's rows as SANE sends them and as the bitmap keeps them.
struct TFrameLayout {
  int width;
  std::int64_t bpl;  // bytes of a row as sent
  int depth;         // bits of a sample as sent: 1, 8 or 16
  bool threePass;    // one frame per colour
  bool colour;
  bool bw;           // one bit per pixel
  unsigned bits;     // bits of a bitmap pixel
  unsigned colours;  // entries of the bitmap's colour table
  std::uint64_t stride;
  std::size_t used;  // bytes of a bitmap row that hold pixels
  std::uint64_t maxRows;
};

// The bitmap being filled, locked until the page is complete.
class TFrameBitmap {
 public:
  TFrameBitmap(const TFrameLayout& f, double xdpi, double ydpi) : f_(f), xdpi_(xdpi), ydpi_(ydpi) {}
  // The bitmap for a height; its pixel rows, bottom row first; null when memory runs out.
  std::uint8_t* Allocate(std::uint64_t rows);
  TPageImage Finish() {
    lock_.reset();
    return std::move(page_);
  }

 private:
  const TFrameLayout& f_;
  double xdpi_, ydpi_;
  TPageImage page_;
  std::unique_ptr<platform::GlobalLockGuard> lock_;
};

struct TFramePlanes {
  std::array<std::vector<std::uint8_t>, 3> data;  // red, green, blue; a single-pass frame in the first
  std::array<std::uint64_t, 3> rows{0, 0, 0};
  std::array<bool, 3> have{false, false, false};
};

namespace {

std::uint16_t Sample16(const std::uint8_t* p) {
  std::uint16_t v;
  std::memcpy(&v, p, 2);  // SANE sends 16-bit samples in the host's byte order
  return v;
}

// One sample of a channel of pixel x in a row of the given depth, as 0-255; bits are white when 1
// except in a grey 1-bit frame, where 1 is black.
std::uint8_t SampleAt(const std::uint8_t* row, std::size_t index, int depth) {
  switch (depth) {
    case 1:
      return (row[index / 8] & (0x80 >> (index % 8))) ? 255 : 0;
    case 16:
      return static_cast<std::uint8_t>(Sample16(row + 2 * index) >> 8);
    default:
      return row[index];
  }
}

// The layout of a page whose first frame params describes; none for a frame the bitmap cannot
// take or that does not hold its own pixels.
std::optional<TFrameLayout> LayoutOf(const SANE_Parameters& params) {
  TFrameLayout f{};
  f.width = params.pixels_per_line;
  f.bpl = params.bytes_per_line;
  f.depth = params.depth;
  f.threePass = params.format == SANE_FRAME_RED || params.format == SANE_FRAME_GREEN || params.format == SANE_FRAME_BLUE;
  const TBitmapKind kind = BitmapKindOf(params);
  f.colour = kind.colour;
  const int channels = params.format == SANE_FRAME_RGB ? 3 : 1;
  if (params.format > SANE_FRAME_BLUE || f.width <= 0 || f.bpl <= 0 || f.bpl > TSaneFrameReader::kMaxBytesPerLine ||
      (f.depth != 1 && f.depth != 8 && f.depth != 16) ||
      static_cast<std::uint64_t>(f.bpl) * 8 <
          static_cast<std::uint64_t>(f.width) * channels * static_cast<unsigned>(f.depth)) {
    return std::nullopt;
  }
  f.bw = kind.bw;
  f.bits = kind.bits;
  f.colours = f.colour ? 0 : f.bw ? 2 : 256;
  f.stride = DibStride(static_cast<std::uint64_t>(f.width), f.bits);
  f.used = (static_cast<std::size_t>(f.width) * f.bits + 7) / 8;
  f.maxRows = std::min<std::uint64_t>(TSaneFrameReader::kMaxFrameBytes / static_cast<std::uint64_t>(f.bpl), 0x7FFFFFFF);
  return f;
}

// One row of a single-pass frame into a bitmap row.
void ConvertRow(const TFrameLayout& f, const std::uint8_t* src, std::uint8_t* dst) {
  if (f.bw) {
    // SANE's 1 is black; the palette's index 1 is white.
    for (std::size_t i = 0; i < f.used; ++i) dst[i] = static_cast<std::uint8_t>(~src[i]);
    if (f.width % 8) dst[f.used - 1] &= static_cast<std::uint8_t>(0xFF00 >> (f.width % 8));
  } else if (!f.colour) {
    if (f.depth == 8) {
      std::memcpy(dst, src, f.used);
    } else {
      for (int x = 0; x < f.width; ++x) dst[x] = SampleAt(src, static_cast<std::size_t>(x), f.depth);
    }
  } else if (f.depth == 8) {
    RgbToBgrRow(src, dst, static_cast<std::size_t>(f.width));
  } else {
    for (int x = 0; x < f.width; ++x) {
      for (int c = 0; c < 3; ++c) dst[3 * x + 2 - c] = SampleAt(src, static_cast<std::size_t>(3 * x + c), f.depth);
    }
  }
  std::memset(dst + f.used, 0, f.stride - f.used);
}

// One row of each of the three one-colour frames into a bitmap row.
void MergeRow(const TFrameLayout& f, const std::uint8_t* r, const std::uint8_t* g, const std::uint8_t* b,
              std::uint8_t* dst) {
  for (int x = 0; x < f.width; ++x) {
    dst[3 * x] = SampleAt(b, static_cast<std::size_t>(x), f.depth);
    dst[3 * x + 1] = SampleAt(g, static_cast<std::size_t>(x), f.depth);
    dst[3 * x + 2] = SampleAt(r, static_cast<std::size_t>(x), f.depth);
  }
  std::memset(dst + f.used, 0, f.stride - f.used);
}

std::size_t PlaneOf(SANE_Frame format) {
  if (format == SANE_FRAME_GREEN) return 1;
  if (format == SANE_FRAME_BLUE) return 2;
  return 0;
}

// The frames kept, as the bitmap.
SANE_Status MergeFrames(const TFrameLayout& f, const TFramePlanes& planes, TFrameBitmap& page) {
  if (f.threePass && !(planes.have[0] && planes.have[1] && planes.have[2])) return SANE_STATUS_INVAL;
  std::uint64_t rows = planes.rows[0];
  if (f.threePass) rows = std::min({rows, planes.rows[1], planes.rows[2]});
  if (rows == 0) return SANE_STATUS_IO_ERROR;
  std::uint8_t* pixels = page.Allocate(rows);
  if (!pixels) return SANE_STATUS_NO_MEM;
  const auto bpl = static_cast<std::uint64_t>(f.bpl);
  for (std::uint64_t y = 0; y < rows; ++y) {
    // SANE sends rows top first; a DIB keeps the bottom row first.
    std::uint8_t* dst = pixels + (rows - 1 - y) * f.stride;
    const std::uint8_t* r = planes.data[0].data() + y * bpl;
    if (!f.threePass) {
      ConvertRow(f, r, dst);
      continue;
    }
    MergeRow(f, r, planes.data[1].data() + y * bpl, planes.data[2].data() + y * bpl, dst);
  }
  return SANE_STATUS_GOOD;
}

}  // namespace

TBitmapKind BitmapKindOf(const SANE_Parameters& params) {
  const bool colour = params.format != SANE_FRAME_GRAY;
  const bool bw = !colour && params.depth == 1;
  return TBitmapKind{colour, bw, colour ? 24u : bw ? 1u : 8u};
}

std::uint8_t* TFrameBitmap::Allocate(std::uint64_t rows) {
  const auto height = static_cast<std::int32_t>(rows);
  page_.Dib = platform::GlobalBlock(platform::GMEM_MOVEABLE,
                                    PackedDibSize(PackedDibHeader(f_.width, height, f_.bits, f_.colours, 0, 0)));
  if (!page_.Dib) return nullptr;
  lock_ = std::make_unique<platform::GlobalLockGuard>(page_.Dib.get());
  auto* out = lock_->as<std::uint8_t>();
  if (!out) return nullptr;
  TRgbQuad table[256];
  for (unsigned i = 0; i < f_.colours; ++i) {
    const auto v = static_cast<std::uint8_t>(f_.bw ? i * 255 : i);
    table[i] = TRgbQuad{v, v, v, 0};
  }
  return WritePackedDibHead(out, PackedDibHeader(f_.width, height, f_.bits, f_.colours, xdpi_, ydpi_), table);
}

SANE_Status TSaneFrameReader::Start() {
  const std::vector<pid_t> before = platform::ThreadIds();
  const SANE_Status st = lib_.Start(handle_);
  // Threads that appeared during the start are the backend's readers for this frame.
  readers_.clear();
  if (st == SANE_STATUS_GOOD) {
    for (pid_t tid : platform::ThreadIds())
      if (std::find(before.begin(), before.end(), tid) == before.end()) readers_.push_back(tid);
  }
  return st;
}

void TSaneFrameReader::Cancel() {
  {
    platform::TCancelDeferral defer(readers_, kReaderExit);
    lib_.Cancel(handle_);
  }
  readers_.clear();
}

std::optional<TPageImage> TSaneFrameReader::ReadPage(SANE_Parameters& params, double xdpi, double ydpi,
                                                     SANE_Status& status) {
  stalled_ = false;
  const std::optional<TFrameLayout> f = LayoutOf(params);
  if (!f) {
    status = SANE_STATUS_INVAL;
    return std::nullopt;
  }
  TFrameBitmap page(*f, xdpi, ydpi);
  SANE_Status st = SANE_STATUS_GOOD;
  if (!f->threePass && params.lines > 0) {
    // The height is known: rows go straight into the bitmap as they arrive.
    st = ReadIntoBitmap(*f, std::min<std::uint64_t>(static_cast<std::uint64_t>(params.lines), f->maxRows), page);
  } else {
    // Unknown height or one frame per colour: the frames are kept until the last one is in.
    TFramePlanes planes;
    st = ReadFrames(*f, params, planes);
    if (st == SANE_STATUS_GOOD) st = MergeFrames(*f, planes, page);
  }
  if (st != SANE_STATUS_GOOD) {
    status = st;
    return std::nullopt;
  }
  return page.Finish();
}

SANE_Status TSaneFrameReader::ReadIntoBitmap(const TFrameLayout& f, std::uint64_t lines, TFrameBitmap& page) {
  std::uint8_t* pixels = page.Allocate(lines);
  if (!pixels) return SANE_STATUS_NO_MEM;
  // The top row, which comes first, is the last in the bitmap.
  platform::TPrefaulter prefault(pixels, static_cast<std::size_t>(f.stride * lines), true);
  std::uint64_t y = 0;
  std::uint64_t rows = 0;
  SANE_Status st = ReadRows(static_cast<std::size_t>(f.bpl), lines, [&](const std::uint8_t* src) {
    ConvertRow(f, src, pixels + (lines - 1 - y++) * f.stride);
    return true;
  }, rows);
  if (st != SANE_STATUS_GOOD) return st;
  if (rows == 0) return SANE_STATUS_IO_ERROR;
  // A page cut short is completed with white paper.
  for (std::uint64_t r = rows; r < lines; ++r) std::memset(pixels + (lines - 1 - r) * f.stride, 0xFF, f.stride);
  return SANE_STATUS_GOOD;
}

SANE_Status TSaneFrameReader::ReadFrames(const TFrameLayout& f, SANE_Parameters& params, TFramePlanes& planes) {
  for (int frame = 0;; ++frame) {
    if (params.pixels_per_line != f.width || params.bytes_per_line != f.bpl || params.depth != f.depth) {
      return SANE_STATUS_INVAL;
    }
    const std::size_t slot = PlaneOf(params.format);
    std::vector<std::uint8_t>& plane = planes.data[slot];
    plane.clear();
    const std::uint64_t limit = params.lines > 0 ? std::min<std::uint64_t>(params.lines, f.maxRows) : f.maxRows;
    SANE_Status st = ReadRows(static_cast<std::size_t>(f.bpl), limit, [&](const std::uint8_t* src) {
      plane.insert(plane.end(), src, src + f.bpl);
      return true;
    }, planes.rows[slot]);
    if (st != SANE_STATUS_GOOD) return st;
    planes.have[slot] = true;
    if (params.last_frame || !f.threePass || frame >= 2) return SANE_STATUS_GOOD;
    st = Start();
    if (st != SANE_STATUS_GOOD) return st;
    if (lib_.GetParameters(handle_, &params) != SANE_STATUS_GOOD) return SANE_STATUS_IO_ERROR;
  }
}

SANE_Status TSaneFrameReader::ReadRows(std::size_t bpl, std::uint64_t maxRows,
                                       const std::function<bool(const std::uint8_t*)>& sink, std::uint64_t& rows) {
  using Clock = std::chrono::steady_clock;
  constexpr std::size_t kChunk = std::size_t{1} << 20;
  // A small buffer used over and over: rows go on as soon as they are complete. Left
  // uninitialised: most backends hand over far less than a chunk per read, and only the part
  // the reads reach is ever faulted in.
  const std::size_t bufSize = std::max(kChunk, 2 * bpl);
  const auto buf = std::make_unique_for_overwrite<std::uint8_t[]>(bufSize);
  std::size_t have = 0;
  rows = 0;
  auto lastProgress = Clock::now();
  auto pause = std::chrono::milliseconds(1);
  // The read that returns a frame's last bytes is where some backends stop their reader.
  platform::TCancelDeferral defer(readers_, kReaderExit);
  for (;;) {
    // A caller's time-out also ends a page whose data trickles in.
    if (platform::InterruptRequested()) return SANE_STATUS_CANCELLED;
    SANE_Int len = 0;
    const auto room = static_cast<SANE_Int>(std::min<std::size_t>(bufSize - have, kChunk));
    SANE_Status st = lib_.Read(handle_, buf.get() + have, room, &len);
    if (st == SANE_STATUS_EOF) {
      readers_.clear();  // the frame ran its course; the backend has ended its reader
      break;
    }
    if (st != SANE_STATUS_GOOD) return st;
    if (len > 0 && len <= room) {
      have += static_cast<std::size_t>(len);
      std::size_t off = 0;
      for (; have - off >= bpl; off += bpl) {
        // Rows beyond the announced height are read and dropped.
        if (rows < maxRows) {
          if (!sink(buf.get() + off)) return SANE_STATUS_NO_MEM;
          ++rows;
        }
      }
      std::memmove(buf.get(), buf.get() + off, have - off);
      have -= off;
      lastProgress = Clock::now();
      pause = std::chrono::milliseconds(1);
      continue;
    }
    // A read without data: wait a little, and give up once nothing has come for the timeout.
    if (Clock::now() - lastProgress > std::chrono::seconds(readTimeoutSeconds_)) {
      stalled_ = true;
      return SANE_STATUS_IO_ERROR;
    }
    if (!platform::SleepUnlessInterrupted(pause)) return SANE_STATUS_CANCELLED;
    pause = std::min(pause * 2, std::chrono::milliseconds(50));
  }
  return SANE_STATUS_GOOD;
}

}  // namespace lumipage::dsm
