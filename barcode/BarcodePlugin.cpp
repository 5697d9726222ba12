// The barcode module on zxing-cpp. The program calls it in a process of its own: the library has
// been seen to abort on odd symbols, which must not end a scan job.
//
// Every different symbol is given once.
//
// Where the time goes on an A4 page: the library binarises the whole page for each matrix
// format (QR, Data Matrix), several times the cost of its row scans for linear codes, and its
// Data Matrix search only follows lines through the middle of the image, so that a symbol off
// the centre of a page is never seen. So the linear codes are looked for on the whole page, and
// the matrix codes only in crops around the page's compact patches of ink, each crop centred on
// its patch.
#include "barcode/BarcodePlugin.h"

#include <ZXing/ReadBarcode.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#define LUMI_EXPORT __attribute__((visibility("default")))

namespace {

void SetMessage(char* message, size_t size, const char* text) {
  if (message != nullptr && size > 0) std::snprintf(message, size, "%s", text);
}

struct TBox {
  int Left, Top, Right, Bottom;  // inclusive, in blocks
  int Count;                     // blocks with ink
};

// Patches of ink at most four and a half times as long as wide (a rectangular Data Matrix) and
// mostly filled, on a grid of blocks about 1.3 mm wide: where a QR code or a Data Matrix symbol
// may be, at least about 4 mm wide. Lines of text are long and flat and mostly paper, photos and
// dark edges are large; those are left out.
std::vector<TBox> MatrixCandidates(const LumiBarcodeImage& image, int block) {
  const int gw = (image.Width + block - 1) / block, gh = (image.Height + block - 1) / block;
  const std::size_t cells = static_cast<std::size_t>(gw) * gh;
  std::vector<std::uint8_t> lows(cells, 255), highs(cells, 0);
  std::vector<std::uint32_t> sums(cells, 0), counts(cells, 0);
  // Every second pixel of every second row: a module is at least two pixels wide.
  for (int y = 0; y < image.Height; y += 2) {
    const unsigned char* row = image.Pixels + static_cast<std::size_t>(y) * image.BytesPerLine;
    const std::size_t base = static_cast<std::size_t>(y / block) * gw;
    for (int bx = 0; bx < gw; ++bx) {
      const int end = std::min(image.Width, (bx + 1) * block);
      std::uint8_t low = lows[base + bx], high = highs[base + bx];
      std::uint32_t sum = 0, count = 0;
      for (int x = bx * block; x < end; x += 2, ++count) {
        low = std::min(low, row[x]);
        high = std::max(high, row[x]);
        sum += row[x];
      }
      lows[base + bx] = low;
      highs[base + bx] = high;
      sums[base + bx] += sum;
      counts[base + bx] += count;
    }
  }
  // The paper: the brightness most blocks reach.
  std::vector<std::uint8_t> sorted(highs);
  std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2), sorted.end());
  const int paper = sorted[sorted.size() / 2];
  const int inkBelow = paper - 48;
  std::vector<std::uint8_t> ink(cells);
  for (std::size_t i = 0; i < cells; ++i) ink[i] = lows[i] < inkBelow ? 1 : 0;
  std::vector<TBox> boxes;
  std::vector<int> stack;
  for (int start = 0; start < gw * gh; ++start) {
    if (ink[static_cast<std::size_t>(start)] != 1) continue;
    TBox box{start % gw, start / gw, start % gw, start / gw, 0};
    // How much of the blocks' contrast is ink: about half in a matrix symbol, little in the
    // thin strokes of text.
    double shade = 0, contrast = 0;
    ink[static_cast<std::size_t>(start)] = 2;
    stack.assign(1, start);
    while (!stack.empty()) {
      const int at = stack.back();
      stack.pop_back();
      const int x = at % gw, y = at / gw;
      ++box.Count;
      const std::size_t cell = static_cast<std::size_t>(at);
      shade += paper - static_cast<double>(sums[cell]) / std::max<std::uint32_t>(1, counts[cell]);
      contrast += paper - lows[cell];
      box.Left = std::min(box.Left, x);
      box.Right = std::max(box.Right, x);
      box.Top = std::min(box.Top, y);
      box.Bottom = std::max(box.Bottom, y);
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          const int nx = x + dx, ny = y + dy;
          if (nx < 0 || ny < 0 || nx >= gw || ny >= gh) continue;
          auto& cell = ink[static_cast<std::size_t>(ny) * gw + nx];
          if (cell == 1) {
            cell = 2;
            stack.push_back(ny * gw + nx);
          }
        }
    }
    const int w = box.Right - box.Left + 1, h = box.Bottom - box.Top + 1;
    const int longer = std::max(w, h), shorter = std::min(w, h);
    if (shorter >= 3 && longer * 2 <= std::max(gw, gh) && longer * 2 <= shorter * 9 && box.Count * 20 >= w * h * 9 &&
        shade >= 0.25 * contrast)
      boxes.push_back(box);
  }
  // A symbol whose modules are wider than a block falls apart into its finder patterns and
  // pieces of data, parted by blocks that lie wholly in a light module. Patches close together
  // are therefore also tried as one.
  const std::size_t pieces = boxes.size();
  std::vector<std::size_t> group(pieces);
  for (std::size_t i = 0; i < pieces; ++i) group[i] = i;
  const auto root = [&group](std::size_t i) {
    while (group[i] != i) i = group[i] = group[group[i]];
    return i;
  };
  const auto near = [](const TBox& a, const TBox& b) {
    constexpr int kGap = 2;  // blocks of paper between two pieces of one symbol
    return a.Left <= b.Right + kGap && b.Left <= a.Right + kGap && a.Top <= b.Bottom + kGap && b.Top <= a.Bottom + kGap;
  };
  for (std::size_t i = 0; i < pieces; ++i)
    for (std::size_t j = i + 1; j < pieces; ++j)
      if (near(boxes[i], boxes[j])) group[root(i)] = root(j);
  std::vector<TBox> joined(pieces, TBox{0, 0, -1, -1, 0});
  std::vector<int> members(pieces, 0);
  for (std::size_t i = 0; i < pieces; ++i) {
    TBox& all = joined[root(i)];
    const TBox& b = boxes[i];
    if (members[root(i)]++ == 0) {
      all = b;
      continue;
    }
    all = TBox{std::min(all.Left, b.Left), std::min(all.Top, b.Top), std::max(all.Right, b.Right),
               std::max(all.Bottom, b.Bottom), all.Count + b.Count};
  }
  for (std::size_t i = 0; i < pieces; ++i) {
    const TBox& all = joined[i];
    const int longer = std::max(all.Right - all.Left, all.Bottom - all.Top) + 1;
    if (members[i] > 1 && longer * 2 <= std::max(gw, gh)) boxes.push_back(all);
  }
  // The largest first; a page of small specks does not cost more than a few dozen crops.
  std::sort(boxes.begin(), boxes.end(), [](const TBox& a, const TBox& b) { return a.Count > b.Count; });
  if (boxes.size() > 32) boxes.resize(32);
  return boxes;
}

constexpr int kMaxLinearSymbols = 8;
constexpr long kWholeImageArea = 1600L * 1200L;

// The number of changes between dark and light along a line of pixels.
int Edges(const unsigned char* p, int count, std::ptrdiff_t step) {
  int lo = 255, hi = 0;
  for (int i = 0; i < count; ++i) {
    lo = std::min<int>(lo, p[i * step]);
    hi = std::max<int>(hi, p[i * step]);
  }
  if (hi - lo < 48) return 0;
  const int middle = (lo + hi) / 2;
  int edges = 0;
  bool dark = p[0] < middle;
  for (int i = 1; i < count; ++i)
    if ((p[i * step] < middle) != dark) {
      dark = !dark;
      ++edges;
    }
  return edges;
}

// Paints a linear symbol white: the library gives the few lines it read across the bars; the
// bars reach on either side as far as lines across them still cross about as many edges.
void PaintOut(std::vector<unsigned char>& pixels, int width, int height, const ZXing::Position& where) {
  int x0 = width, x1 = -1, y0 = height, y1 = -1;
  for (const auto& p : where) {
    x0 = std::min(x0, p.x);
    x1 = std::max(x1, p.x);
    y0 = std::min(y0, p.y);
    y1 = std::max(y1, p.y);
  }
  x0 = std::clamp(x0, 0, width - 1);
  x1 = std::clamp(x1, 0, width - 1);
  y0 = std::clamp(y0, 0, height - 1);
  y1 = std::clamp(y1, 0, height - 1);
  const bool across = x1 - x0 >= y1 - y0;  // the lines read run along the rows
  const int length = across ? x1 - x0 + 1 : y1 - y0 + 1;
  // A turned symbol's bars wander sideways along their length: a little room at the ends.
  const int room = length / 8 + 4;
  auto edgesAt = [&](int at) {
    return across ? Edges(&pixels[static_cast<std::size_t>(at) * width + x0], length, 1)
                  : Edges(&pixels[static_cast<std::size_t>(y0) * width + at], length, width);
  };
  const int middle = across ? (y0 + y1) / 2 : (x0 + x1) / 2;
  const int wanted = std::max(4, edgesAt(middle) / 2);
  const int limit = across ? height : width;
  int from = across ? y0 : x0, to = across ? y1 : x1;
  while (from > 0 && edgesAt(from - 1) >= wanted) --from;
  while (to < limit - 1 && edgesAt(to + 1) >= wanted) ++to;
  from = std::max(0, from - room);
  to = std::min(limit - 1, to + room);
  const int a0 = std::max(0, (across ? x0 : y0) - room), a1 = std::min(across ? width - 1 : height - 1, (across ? x1 : y1) + room);
  for (int i = from; i <= to; ++i)
    for (int j = a0; j <= a1; ++j) {
      const int x = across ? j : i, y = across ? i : j;
      pixels[static_cast<std::size_t>(y) * width + x] = 255;
    }
}

// What tells one symbol from another: its kind and its bytes.
std::string SymbolKey(const ZXing::Result& result) {
  return std::to_string(static_cast<int>(result.format())) + ":" +
         std::string(result.bytes().begin(), result.bytes().end());
}

void Send(const ZXing::Result& result, LumiBarcodeSink sink, void* context) {
  const ZXing::ContentType type = result.contentType();
  if (type == ZXing::ContentType::Text || type == ZXing::ContentType::GS1) {
    const std::string text = result.text();
    sink(context, reinterpret_cast<const unsigned char*>(text.data()), text.size());
  } else {
    const ZXing::ByteArray& bytes = result.bytes();
    sink(context, bytes.data(), bytes.size());
  }
}

}  // namespace

extern "C" LUMI_EXPORT int lumi_barcode_abi_version(void) { return LUMI_BARCODE_ABI_VERSION; }

extern "C" LUMI_EXPORT int lumi_barcode_read(const LumiBarcodeImage* image, LumiBarcodeSink sink, void* context,
                                             char* message, size_t messageSize) {
  if (image == nullptr || image->Pixels == nullptr || image->Width <= 0 || image->Height <= 0 ||
      image->BytesPerLine < image->Width) {
    SetMessage(message, messageSize, "no image");
    return -1;
  }
  try {
    using ZXing::BarcodeFormat;
    int found = 0;
    // Linear codes on the whole page, sideways ones by the turned pass, one at a time: the
    // library's search for several at once aborts on a tall linear symbol (it takes the far
    // rows of one symbol for a second symbol and then trips over its own check). Each symbol
    // found is painted out of a copy of the page before the next search.
    ZXing::DecodeHints linear;
    linear.setFormats(BarcodeFormat::Code39 | BarcodeFormat::Code128);
    linear.setTryHarder(true);
    linear.setTryRotate(true);
    linear.setTryDownscale(false);
    linear.setMaxNumberOfSymbols(0xFF);
    std::vector<unsigned char> copy;
    const unsigned char* pixels = image->Pixels;
    int stride = image->BytesPerLine;
    std::vector<std::string> seen;
    const ZXing::ImageView page(image->Pixels, image->Width, image->Height, ZXing::ImageFormat::Lum,
                                image->BytesPerLine);
    for (int round = 0; round < kMaxLinearSymbols; ++round) {
      const ZXing::Result result = ZXing::ReadBarcode(
          ZXing::ImageView(pixels, image->Width, image->Height, ZXing::ImageFormat::Lum, stride), linear);
      if (!result.isValid()) break;
      const std::string key = SymbolKey(result);
      if (std::find(seen.begin(), seen.end(), key) == seen.end()) {
        seen.push_back(key);
        Send(result, sink, context);
        ++found;
      }
      if (copy.empty()) {
        copy.resize(static_cast<std::size_t>(image->Width) * image->Height);
        for (int y = 0; y < image->Height; ++y)
          std::copy_n(image->Pixels + static_cast<std::size_t>(y) * image->BytesPerLine, image->Width,
                      copy.data() + static_cast<std::size_t>(y) * image->Width);
        pixels = copy.data();
        stride = image->Width;
      }
      PaintOut(copy, image->Width, image->Height, result.position());
    }
    // Matrix codes in a crop around each candidate patch, with a quiet zone.
    ZXing::DecodeHints matrix;
    matrix.setFormats(BarcodeFormat::QRCode | BarcodeFormat::DataMatrix);
    matrix.setTryHarder(true);
    matrix.setTryRotate(true);
    matrix.setTryDownscale(false);
    // A small image (a photograph, a label) is cheap to search whole.
    if (static_cast<long>(image->Width) * image->Height <= kWholeImageArea) {
      for (const ZXing::Result& result : ZXing::ReadBarcodes(page, matrix)) {
        if (!result.isValid()) continue;
        Send(result, sink, context);
        ++found;
      }
      return found;
    }
    const int block = std::max(4, (image->Dpi > 0 ? image->Dpi : 200) / 20);
    // Symbols given, by where they are: crops of joined patches overlap those of their pieces.
    struct TGiven {
      std::string Key;
      int X, Y;
    };
    std::vector<TGiven> given;
    for (const TBox& box : MatrixCandidates(*image, block)) {
      const int margin = (std::max(box.Right - box.Left, box.Bottom - box.Top) + 1) * block / 4 + 2 * block;
      const int left = std::max(0, box.Left * block - margin), top = std::max(0, box.Top * block - margin);
      const int right = std::min(image->Width, (box.Right + 1) * block + margin);
      const int bottom = std::min(image->Height, (box.Bottom + 1) * block + margin);
      const ZXing::ImageView crop(image->Pixels + static_cast<std::size_t>(top) * image->BytesPerLine + left,
                                  right - left, bottom - top, ZXing::ImageFormat::Lum, image->BytesPerLine);
      // A crop is mostly the symbol and its paper, which one threshold splits best, faint print
      // too; the library's local threshold is the second try.
      ZXing::Results results;
      for (auto binarizer : {ZXing::Binarizer::GlobalHistogram, ZXing::Binarizer::LocalAverage}) {
        matrix.setBinarizer(binarizer);
        results = ZXing::ReadBarcodes(crop, matrix);
        if (std::any_of(results.begin(), results.end(), [](const ZXing::Result& r) { return r.isValid(); })) break;
      }
      for (const ZXing::Result& result : results) {
        if (!result.isValid()) continue;
        // A neighbour's symbol seen in this crop is read in its own.
        const ZXing::PointI centre = ZXing::Center(result.position());
        const int cx = (left + centre.x) / block, cy = (top + centre.y) / block;
        if (cx < box.Left - 1 || cx > box.Right + 1 || cy < box.Top - 1 || cy > box.Bottom + 1) continue;
        const std::string key = SymbolKey(result);
        const int x = left + centre.x, y = top + centre.y;
        if (std::any_of(given.begin(), given.end(), [&](const TGiven& g) {
              return g.Key == key && std::abs(g.X - x) <= 2 * block && std::abs(g.Y - y) <= 2 * block;
            }))
          continue;
        given.push_back(TGiven{key, x, y});
        Send(result, sink, context);
        ++found;
      }
    }
    return found;
  } catch (const std::exception& e) {
    SetMessage(message, messageSize, e.what());
  } catch (...) {
    SetMessage(message, messageSize, "unknown failure");
  }
  return -1;
}
