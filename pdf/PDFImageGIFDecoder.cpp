#include "pdf/PDFImageGIFDecoder.h"

#include <algorithm>
#include <memory>
#include <string>

#include "pdf/PDFLZWDecompressor.h"
#include "pdf/PDFStream.h"
#include "platform/ByteOrder.h"

namespace lumipage {

namespace {

class Cursor {
 public:
  explicit Cursor(std::string_view b) : b_(b) {}
  [[nodiscard]] bool Has(size_t n) const { return b_.size() - pos_ >= n; }
  uint8_t Byte() { return static_cast<uint8_t>(b_[pos_++]); }
  uint16_t Word() {
    const uint16_t v = platform::LoadLE16(b_.data() + pos_);
    pos_ += 2;
    return v;
  }
  std::string_view Take(size_t n) {
    const std::string_view v = b_.substr(pos_, n);
    pos_ += n;
    return v;
  }
  // Data sub-blocks up to the zero-length terminator (appended to out when given). False when
  // the bytes end first.
  bool SubBlocks(std::string* out) {
    for (;;) {
      if (!Has(1)) return false;
      const uint8_t n = Byte();
      if (n == 0) return true;
      if (!Has(n)) {
        if (out != nullptr) out->append(Take(b_.size() - pos_));
        return false;
      }
      const std::string_view block = Take(n);
      if (out != nullptr) out->append(block);
    }
  }

 private:
  std::string_view b_;
  size_t pos_ = 0;
};

// A colour table of 2^(size+1) entries; false when the bytes end inside it.
bool ReadColorTable(Cursor& in, uint8_t sizeBits, std::vector<uint32_t>& table) {
  const size_t n = size_t{2} << (sizeBits & 7);
  if (!in.Has(3 * n)) return false;
  table.resize(n);
  for (auto& c : table) {
    const uint32_t r = in.Byte();
    const uint32_t g = in.Byte();
    const uint32_t b = in.Byte();
    c = r << 16 | g << 8 | b;
  }
  return true;
}

// Stored row i of an image of h rows: its row in the picture. Interlaced images store rows
// 0, 8, 16, ... then 4, 12, ... then 2, 6, ... then 1, 3, ...
uint32_t InterlacedRow(uint32_t i, uint32_t h) {
  const uint32_t pass1 = (h + 7) / 8;
  if (i < pass1) return i * 8;
  i -= pass1;
  const uint32_t pass2 = (h + 3) / 8;
  if (i < pass2) return 4 + i * 8;
  i -= pass2;
  const uint32_t pass3 = (h + 1) / 4;
  if (i < pass3) return 2 + i * 4;
  i -= pass3;
  return 1 + i * 2;
}

}  // namespace

bool TPDFGIFDecoder::Read(std::string_view bytes) {
  Cursor in(bytes);
  if (!in.Has(13)) return false;
  const std::string_view signature = in.Take(6);
  if (signature != "GIF87a" && signature != "GIF89a") return false;
  ScreenWidth = in.Word();
  ScreenHeight = in.Word();
  const uint8_t packed = in.Byte();
  BackgroundIndex = in.Byte();
  (void)in.Byte();  // pixel aspect ratio
  HasGlobalColors = (packed & 0x80) != 0;
  if (HasGlobalColors && !ReadColorTable(in, packed & 7, GlobalColors)) {
    HasGlobalColors = false;
    GlobalColors.clear();
    return true;
  }
  TGraphicControl control;
  while (in.Has(1) && Images.size() < kMaxImages) {
    const uint8_t introducer = in.Byte();
    if (introducer == ';') break;
    if (introducer == '!') {
      if (!in.Has(1)) break;
      const uint8_t label = in.Byte();
      std::string data;
      const bool whole = in.SubBlocks(&data);
      if (label == 0xF9 && data.size() >= 4) {
        control.Present = true;
        control.Disposal = static_cast<uint8_t>(data[0]) >> 2 & 7;
        control.Transparent = (data[0] & 1) != 0;
        control.Delay = platform::LoadLE16(data.data() + 1);
        control.TransparentIndex = static_cast<uint8_t>(data[3]);
      }
      if (!whole) break;
    } else if (introducer == ',') {
      if (!in.Has(9)) break;
      TImage image;
      image.Left = in.Word();
      image.Top = in.Word();
      image.Width = in.Word();
      image.Height = in.Word();
      const uint8_t flags = in.Byte();
      image.Interlaced = (flags & 0x40) != 0;
      if ((flags & 0x80) != 0 && !ReadColorTable(in, flags & 7, image.LocalColors)) break;
      if (!in.Has(1)) break;
      image.MinCodeSize = in.Byte();
      const bool whole = in.SubBlocks(&image.LzwData);
      image.Control = control;
      control = {};
      Images.push_back(std::move(image));
      if (!whole) break;
    } else {
      break;  // not a block: the rest is not GIF data
    }
  }
  return true;
}

void TPDFGIFDecoder::DrawImage(const TImage& image, uint32_t background, TDecodedPixels& canvas) const {
  // Only the part inside the logical screen is drawn.
  const uint32_t x0 = image.Left;
  const uint32_t y0 = image.Top;
  const uint32_t screenW = static_cast<uint32_t>(canvas.Width);
  const uint32_t screenH = static_cast<uint32_t>(canvas.Height);
  if (x0 >= screenW || y0 >= screenH || image.Width == 0 || image.Height == 0) return;
  const uint32_t w = std::min<uint32_t>(image.Width, screenW - x0);
  const uint32_t h = std::min<uint32_t>(image.Height, screenH - y0);
  auto put = [&](uint32_t x, uint32_t y, uint32_t c) {
    uint8_t* p = canvas.Row(static_cast<int32_t>(y0 + y)) + 3 * static_cast<size_t>(x0 + x);
    p[0] = static_cast<uint8_t>(c >> 16);
    p[1] = static_cast<uint8_t>(c >> 8);
    p[2] = static_cast<uint8_t>(c);
  };
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) put(x, y, background);

  // Minimum code sizes outside 2 to 8 cannot come from 8-bit indices; such an image stays
  // background.
  if (image.MinCodeSize < 2 || image.MinCodeSize > 8) return;
  // The code table is large: keep it off the stack.
  auto lzw = std::make_unique<TPDFLZWDecompressor>();
  lzw->FillOrder = 0;
  lzw->EarlyChange = false;
  lzw->InitialCodeSize = image.MinCodeSize + 1;
  const std::string indices =
      lzw->Decompress(image.LzwData, static_cast<size_t>(image.Width) * static_cast<size_t>(image.Height));
  const std::vector<uint32_t>& table = image.LocalColors.empty() ? GlobalColors : image.LocalColors;
  const uint32_t rowsDecoded = static_cast<uint32_t>(indices.size() / image.Width);
  const size_t rest = indices.size() % image.Width;
  for (uint32_t i = 0; i <= rowsDecoded && i < image.Height; ++i) {
    const uint32_t y = image.Interlaced ? InterlacedRow(i, image.Height) : i;
    if (y >= h) continue;
    const size_t count = i < rowsDecoded ? image.Width : rest;
    const auto* row = reinterpret_cast<const uint8_t*>(indices.data()) + static_cast<size_t>(i) * image.Width;
    for (uint32_t x = 0; x < std::min<size_t>(count, w); ++x) {
      const uint8_t index = row[x];
      // A transparent pixel keeps the background the image was filled with.
      if (image.Control.Transparent && index == image.Control.TransparentIndex) continue;
      put(x, y, index < table.size() ? table[index] : 0);
    }
  }
}

TDecodedPixels TPDFGIFDecoder::Decode(uint64_t fileSize) const {
  TDecodedPixels canvas;
  canvas.Source = EPixelSource::Gif;
  if (ScreenWidth == 0 || ScreenHeight == 0 || Images.empty() ||
      !PixelBufferAllowed(ScreenWidth, ScreenHeight, uint64_t{ScreenWidth} * 3, fileSize))
    return canvas;
  canvas.Allocate(ScreenWidth, ScreenHeight, 24);
  const uint32_t background =
      HasGlobalColors && BackgroundIndex < GlobalColors.size() ? GlobalColors[BackgroundIndex] : 0;
  if (background != 0) {
    for (int32_t y = 0; y < canvas.Height; ++y) {
      uint8_t* p = canvas.Row(y);
      for (int32_t x = 0; x < canvas.Width; ++x, p += 3) {
        p[0] = static_cast<uint8_t>(background >> 16);
        p[1] = static_cast<uint8_t>(background >> 8);
        p[2] = static_cast<uint8_t>(background);
      }
    }
  }
  for (const TImage& image : Images) DrawImage(image, background, canvas);
  return canvas;
}

bool BuildGifImage(TPDFStructure& store, std::string_view bytes, TBuiltImage& result) {
  TPDFGIFDecoder gif;
  if (!gif.Read(bytes)) return false;
  const TDecodedPixels canvas = gif.Decode(bytes.size());
  if (canvas.Width == 0) return false;
  return BuildDecodedImage(store, canvas, true, EPDFImageKind::Pixels, result);
}

}  // namespace lumipage
