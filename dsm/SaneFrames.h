#pragma once
// The frames of a SANE scan read into a packed device-independent bitmap: sane_start with the
// reader threads a backend starts for a frame, reading rows as they arrive with a time-out for a
// device that stops sending, each row converted to the bitmap's layout (bits inverted, 16-bit
// samples cut to 8, red-green-blue turned to blue-green-red, three one-colour frames merged), and
// sane_cancel.
#include <sane/sane.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "dsm/PageImage.h"
#include "dsm/SaneLibrary.h"

namespace lumipage::dsm {

// What the frames params describes become in the bitmap: colour (24 bits a pixel), black and
// white (1 bit) or grey (8 bits).
struct TBitmapKind {
  bool colour;
  bool bw;
  unsigned bits;
};
[[nodiscard]] TBitmapKind BitmapKindOf(const SANE_Parameters& params);

// The reader's working parts, defined beside its code.
struct TFrameLayout;
class TFrameBitmap;
struct TFramePlanes;

class TSaneFrameReader {
 public:
  // Largest frame accepted (a 1200 dpi A4 page with 16-bit colour is below it).
  static constexpr std::uint64_t kMaxFrameBytes = std::uint64_t{3} << 29;
  static constexpr std::int64_t kMaxBytesPerLine = std::int64_t{1} << 20;
  // How long a reader is given to end by itself before a backend's cancel goes ahead.
  static constexpr std::chrono::milliseconds kReaderExit{2000};

  // readTimeoutSeconds: how long a read may bring no data before the page fails.
  TSaneFrameReader(const TSaneLibrary& lib, SANE_Handle handle, int readTimeoutSeconds)
      : lib_(lib), handle_(handle), readTimeoutSeconds_(readTimeoutSeconds) {}

  // sane_start, noting the reader threads the backend started for the frame.
  SANE_Status Start();
  // sane_cancel. Backends that stop their reader thread with an asynchronous cancel (SANE's test
  // backend among them) have it wait until the reader, whose pipe they close first, has ended by
  // itself; see platform/ThreadCancel.h.
  void Cancel();
  // Reads the started page whose first frame params describes, at the resolutions given; the
  // page, or nothing with status saying why. The frames after the first are started here, and
  // params then describes the last one.
  std::optional<TPageImage> ReadPage(SANE_Parameters& params, double xdpi, double ydpi, SANE_Status& status);
  // Whether the last page read failed because the device stopped sending data.
  [[nodiscard]] bool Stalled() const { return stalled_; }

 private:
  // Rows of a single-pass frame of known height straight into the bitmap as they arrive.
  SANE_Status ReadIntoBitmap(const TFrameLayout& f, std::uint64_t lines, TFrameBitmap& page);
  // Every frame of the page kept whole, to be merged into the bitmap once the last one is in.
  SANE_Status ReadFrames(const TFrameLayout& f, SANE_Parameters& params, TFramePlanes& planes);
  // Reads the frame until its end, handing each complete row to sink (false: out of memory) and
  // counting the rows handed over, at most maxRows.
  SANE_Status ReadRows(std::size_t bytesPerLine, std::uint64_t maxRows,
                       const std::function<bool(const std::uint8_t*)>& sink, std::uint64_t& rows);

  const TSaneLibrary& lib_;
  SANE_Handle handle_;
  int readTimeoutSeconds_;
  std::vector<pid_t> readers_;  // threads the backend started for the frame
  bool stalled_ = false;
};

}  // namespace lumipage::dsm
