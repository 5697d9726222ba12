#include "tests/support/ScriptedScanner.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "imaging/PackedDib.h"

namespace lumipage {
namespace {

// Grey level of the pattern at (x, y), rows counted from the top.
unsigned char patternAt(int x, int y, int w, int h) {
  if (x < 8 || y < 8 || x >= w - 8 || y >= h - 8) return 0;  // frame
  if (h > 0 && std::abs(x * h / w - y) < 3) return 0;          // diagonal
  return static_cast<unsigned char>(255 - (y * 4 / (h > 0 ? h : 1)) * 60);  // bands
}

}  // namespace

platform::HGLOBAL MakePackedDib(const TScriptedPage& page) {
  const int w = page.Width, h = page.Height, bits = page.BitCount;
  const int colors = bits <= 8 ? (1 << bits) : 0;
  const auto stride = static_cast<size_t>(DibStride(static_cast<std::uint64_t>(w), static_cast<unsigned>(bits)));
  const TBitmapInfoHeader header =
      PackedDibHeader(w, h, static_cast<unsigned>(bits), static_cast<std::uint32_t>(colors), page.XRes, page.YRes);
  platform::HGLOBAL handle = platform::GlobalAlloc(platform::GHND, static_cast<size_t>(PackedDibSize(header)));
  if (!handle) return nullptr;
  platform::GlobalLockGuard lock(handle);
  std::vector<TRgbQuad> greys(static_cast<size_t>(colors));
  for (int i = 0; i < colors; ++i) {
    auto g = static_cast<unsigned char>(colors == 1 ? 0 : i * 255 / (colors - 1));
    greys[static_cast<size_t>(i)] = TRgbQuad{g, g, g, 0};
  }
  unsigned char* pixels = WritePackedDibHead(lock.as<unsigned char>(), header, greys.data());
  for (int y = 0; y < h; ++y) {
    unsigned char* row = pixels + stride * static_cast<size_t>(h - 1 - y);  // bottom-up
    for (int x = 0; x < w; ++x) {
      unsigned char g = patternAt(x, y, w, h);
      if (bits == 24) {
        row[3 * x] = g;                                       // blue
        row[3 * x + 1] = g;                                   // green
        row[3 * x + 2] = static_cast<unsigned char>(g | 0x20);  // a red tint
      } else if (bits == 8) {
        row[x] = g;
      } else if (bits == 1) {
        if (g >= 128) row[x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
      }
    }
  }
  return handle;
}

void TScriptedScanner::RefreshSources() {
  ++Refreshes;
  if (NamesAfterRefresh.empty()) return;
  const std::string current = index_ >= 0 && static_cast<std::size_t>(index_) < SourceNames.size() ? SourceNames[index_] : "";
  SourceNames = NamesAfterRefresh;
  index_ = DefaultIndex < static_cast<int>(SourceNames.size()) ? DefaultIndex : -1;
  for (std::size_t i = 0; i < SourceNames.size(); ++i)
    if (SourceNames[i] == current) index_ = static_cast<int>(i);
}

void TScriptedScanner::Open() {
  if (Opened) return;
  if (!FailOpen.empty()) {
    if (ReportErrorThroughHandler && OnError) {
      OnError(this, FailOpen);
      return;
    }
    throw EScriptedScannerError(FailOpen);
  }
  Opened = true;
  index_ = DefaultIndex;
}

void TScriptedScanner::SelectSource(int index) {
  if (index >= 0 && static_cast<size_t>(index) < SourceNames.size()) index_ = index;
}

bool TScriptedScanner::SelectSourceDialog() {
  DialogShown = true;
  if (!DialogChooses) return false;
  SelectSource(DialogChoice);
  return true;
}

void TScriptedScanner::Acquire(std::intptr_t passThrough, TImageHandler handler) {
  ++AcquireCalls;
  PassThrough = passThrough;
  if (!FailAcquire.empty()) throw EScriptedScannerError(FailAcquire);
  if (!HandlerErrorInAcquire.empty() && OnError) OnError(this, HandlerErrorInAcquire);
  for (size_t i = 0; i < Pages.size(); ++i) {
    if (FailAtPage == static_cast<int>(i) + 1) throw EScriptedScannerError(FailPageMessage);
    platform::GlobalBlock dib(MakePackedDib(Pages[i]));
    if (!dib) throw EScriptedScannerError("GlobalAlloc failed");
    ++PagesDelivered;
    handler(dib, Pages[i].XRes, Pages[i].YRes, passThrough);
  }
  if (CallOnDone && OnDone) OnDone(this);
}

}  // namespace lumipage
