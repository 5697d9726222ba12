#include "imaging/RowDither.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <limits>
#include <thread>
#include <vector>

#include "platform/SpareCore.h"

namespace lumipage {

namespace {

inline int Clamp255(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

// Diffuse's sums for one channel, kept in registers from one pixel to the next: the pixel itself
// (its value with the error carried from the left) and the row below at x - 1 and x (x + 1
// starts at zero). Each is clamped after every addition, in Diffuse's order.
struct TChannelSums {
  int here;
  int belowLeft = 0;
  int below = 0;
  // Spreads the pixel's error e: right is the next pixel's own value, the sum below at x - 1
  // is complete and returned.
  int Spread(int e, int right) {
    here = Clamp255(right + e * 7 / 16);
    const int done = Clamp255(belowLeft + e * 3 / 16);
    belowLeft = Clamp255(below + e * 5 / 16);
    below = Clamp255(e / 16);
    return done;
  }
};

// One row of the row-wise dither to black and white or to 256 grey levels: the same sums as
// Diffuse, the running ones held in registers. The row's own values are its pixels plus the
// sums the row above left below it (`above`); what it leaves below goes to `below`. The row can
// be advanced in steps, as far as the row above has completed its sums: this is what lets two
// threads dither alternate rows, each a little behind the other, with the very same result.
class TDitherRow {
 public:
  TDitherRow(const std::uint8_t* in, const int* above, int* below, std::uint8_t* out, std::int32_t width,
             bool blackWhite)
      : in_(in), above_(above), below_(below), out_(out), width_(width), blackWhite_(blackWhite) {}

  // How far the row's sums below are complete: below_[0, Done()) holds final values.
  [[nodiscard]] std::int32_t Done() const { return done_; }

  // Advances the row as far as the row above's first `ready` sums allow (ready == width: all).
  void Advance(std::int32_t ready) {
    if (done_ == width_) return;
    if (x_ == 0) {
      if (ready < std::min(width_, 2)) return;
      // The first pixel is quantised without spreading its error.
      Quantize(0, Value(0, 0) + Value(0, 1) + Value(0, 2));
      x_ = 1;
      if (width_ < 3) {
        if (width_ == 2) Quantize(1, Value(1, 0) + Value(1, 1) + Value(1, 2));
        std::fill(below_, below_ + 3 * static_cast<std::size_t>(width_), 0);
        x_ = done_ = width_;
        return;
      }
      r_.here = Value(1, 2);
      g_.here = Value(1, 1);
      b_.here = Value(1, 0);
    }
    // Pixel x needs the value of x + 1, which needs the row above's sums up to x + 1.
    const std::int32_t end = std::min(width_ - 1, ready - 1);
    std::int32_t x = x_;
    for (; x < end; ++x) {
      const std::size_t i = 3 * static_cast<std::size_t>(x);
      const int a = Quantize(x, r_.here + g_.here + b_.here);
      // Memory order is blue, green, red; the channels are spread alike.
      below_[i - 3] = b_.Spread(b_.here - a, Value(x + 1, 0));
      below_[i - 2] = g_.Spread(g_.here - a, Value(x + 1, 1));
      below_[i - 1] = r_.Spread(r_.here - a, Value(x + 1, 2));
    }
    x_ = x;
    done_ = x - 1;
    if (x == width_ - 1 && ready >= width_) {
      // The last pixel is quantised without spreading, with what its left neighbour gave it.
      Quantize(x, r_.here + g_.here + b_.here);
      const std::size_t last = 3 * static_cast<std::size_t>(x);
      below_[last - 3] = b_.belowLeft;
      below_[last - 2] = g_.belowLeft;
      below_[last - 1] = r_.belowLeft;
      below_[last] = b_.below;
      below_[last + 1] = g_.below;
      below_[last + 2] = r_.below;
      x_ = done_ = width_;
    }
  }

 private:
  [[nodiscard]] int Value(std::int32_t x, int c) const {
    const std::size_t i = 3 * static_cast<std::size_t>(x) + static_cast<std::size_t>(c);
    return Clamp255(above_[i] + in_[i]);
  }
  // Writes the pixel nearest to the sum of its three channels and returns its level.
  int Quantize(std::int32_t x, int sum) {
    if (blackWhite_) {
      // Without a branch: on dithered paper black and white alternate unpredictably.
      const unsigned white = sum >= 383 ? 1u : 0u;
      const unsigned bit = 0x80u >> (x & 7);
      out_[x >> 3] = static_cast<std::uint8_t>((out_[x >> 3] & ~bit) | (bit & (0u - white)));
      return static_cast<int>(255 * white);
    }
    const int level = (sum + 1) / 3;
    out_[x] = static_cast<std::uint8_t>(level);
    return level;
  }

  const std::uint8_t* in_;
  const int* above_;
  int* below_;
  std::uint8_t* out_;
  std::int32_t width_;
  bool blackWhite_;
  std::int32_t x_ = 0;
  std::int32_t done_ = 0;
  TChannelSums r_{0}, g_{0}, b_{0};
};

// Pixels a row advances between two looks at the row above.
constexpr std::int32_t kWaveStep = 256;

// The sums a row leaves below it, ring-buffered for the rows that are under way, each with its
// progress stamped by its row number so that a slot reused for a later row is never mistaken
// for the earlier row's.
class TDitherWave {
 public:
  explicit TDitherWave(std::int32_t width) : width_(width), zeros_(3 * static_cast<std::size_t>(width), 0) {
    for (auto& b : below_) b.assign(3 * static_cast<std::size_t>(width), 0);
  }
  [[nodiscard]] int* Below(std::int32_t y) { return below_[Slot(y)].data(); }
  // Row -1 (none) is all zeros and complete.
  [[nodiscard]] const int* Above(std::int32_t y) const { return y == 0 ? zeros_.data() : below_[Slot(y - 1)].data(); }
  void Publish(std::int32_t y, std::int32_t done) {
    auto& stamp = stamps_[Slot(y)];
    stamp.store(Stamp(y, done), std::memory_order_release);
    stamp.notify_all();
  }
  // How far row y - 1 has completed its sums, waiting until it has more than `have` (or is
  // complete); -1 when the wave was stopped.
  std::int32_t WaitAbove(std::int32_t y, std::int32_t have) {
    if (y == 0) return width_;
    auto& stamp = stamps_[Slot(y - 1)];
    const std::int64_t base = Stamp(y - 1, 0);
    for (;;) {
      if (stopped_.load(std::memory_order_acquire)) return -1;
      const std::int64_t s = stamp.load(std::memory_order_acquire);
      if (s - base > have || s - base >= width_) return static_cast<std::int32_t>(std::min<std::int64_t>(s - base, width_));
      stamp.wait(s, std::memory_order_acquire);
    }
  }
  void Stop() {
    stopped_.store(true, std::memory_order_release);
    // A waiter wakes only for a changed value.
    for (auto& stamp : stamps_) {
      stamp.store(std::numeric_limits<std::int64_t>::max() / 2, std::memory_order_release);
      stamp.notify_all();
    }
  }

 private:
  static std::size_t Slot(std::int32_t y) { return static_cast<std::size_t>(y) % 3; }
  [[nodiscard]] std::int64_t Stamp(std::int32_t y, std::int32_t done) const {
    return static_cast<std::int64_t>(y) * (static_cast<std::int64_t>(width_) + 1) + done;
  }
  std::int32_t width_;
  std::vector<int> zeros_;  // above the first row
  std::array<std::vector<int>, 3> below_;
  std::array<std::atomic<std::int64_t>, 3> stamps_{};
  std::atomic<bool> stopped_{false};
};

// Dithers row y in steps behind row y - 1; false when the wave was stopped.
bool DitherWaveRow(TDitherWave& wave, const TDibGraphic& source, TDibGraphic& dest, std::int32_t y, bool blackWhite) {
  const std::int32_t width = source.Width();
  TDitherRow row(source.RowBits(y), wave.Above(y), wave.Below(y), dest.RowBits(y), width, blackWhite);
  std::int32_t ready = 0;
  while (row.Done() < width) {
    ready = wave.WaitAbove(y, ready);
    if (ready < 0) return false;
    // Small steps, each published, so that the row below can follow closely.
    for (;;) {
      const std::int32_t before = row.Done();
      row.Advance(std::min(ready, before + kWaveStep + 2));
      if (row.Done() == before) break;
      wave.Publish(y, row.Done());
    }
  }
  return true;
}

}  // namespace

bool TwoDitherThreadsPay(const TDibGraphic& page) {
  // Each row waits for the row above many times: two threads pay only with a core each.
  return page.Height() >= 2 && platform::TwoThreadsPay(static_cast<std::int64_t>(page.Width()) * page.Height());
}

void DitherRowsOneThread(const TDibGraphic& source, TDibGraphic& dest, bool blackWhite,
                         const std::function<void(std::int32_t)>& rowDone) {
  const std::int32_t width = source.Width();
  std::vector<int> above(3 * static_cast<std::size_t>(width), 0), below(above.size());
  for (std::int32_t y = 0; y < source.Height(); ++y) {
    TDitherRow row(source.RowBits(y), above.data(), below.data(), dest.RowBits(y), width, blackWhite);
    row.Advance(width);
    above.swap(below);
    rowDone(y);
  }
}

// The row-wise dither on two threads: this one takes the even rows, a helper the odd ones, each
// row a few hundred pixels behind the row above. Rows are reported done on this thread, in
// order; an exception from the report stops the helper before it leaves.
void DitherRowsTwoThreads(const TDibGraphic& source, TDibGraphic& dest, bool blackWhite,
                          const std::function<void(std::int32_t)>& rowDone) {
  const std::int32_t height = source.Height();
  TDitherWave wave(source.Width());
  std::jthread odd([&] {
    for (std::int32_t y = 1; y < height; y += 2)
      if (!DitherWaveRow(wave, source, dest, y, blackWhite)) return;
  });
  struct StopOnLeave {
    TDitherWave& wave;
    std::jthread& helper;
    ~StopOnLeave() {
      wave.Stop();
      helper.join();
    }
  } stopOnLeave{wave, odd};
  for (std::int32_t y = 0; y < height; y += 2) {
    DitherWaveRow(wave, source, dest, y, blackWhite);
    // Row y - 1 is complete: row y could not finish before it.
    if (y > 0) rowDone(y - 1);
    rowDone(y);
  }
  if (height % 2 == 0) {
    // The last row is the helper's: its sums complete means the row is (the wait returns then).
    (void)wave.WaitAbove(height, source.Width() - 1);
    rowDone(height - 1);
  }
}

}  // namespace lumipage
