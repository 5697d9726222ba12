#include "pdf/PDFImagePNGReader.h"

#include <algorithm>
#include <array>
#include <limits>

#include "pdf/PDFFilters.h"
#include "pdf/PDFStructure.h"
#include "platform/ByteOrder.h"

namespace lumipage {

namespace {

constexpr std::string_view kSignature{"\x89PNG\r\n\x1a\n", 8};

uint32_t Get32(std::string_view b, size_t at) { return platform::LoadBE32(b.data() + at); }

int32_t ClampDpi(uint64_t v) {
  return static_cast<int32_t>(std::min<uint64_t>(v, std::numeric_limits<int32_t>::max()));
}

struct Adam7Pass {
  uint32_t X0, Y0, DX, DY;
};
constexpr std::array<Adam7Pass, 7> kAdam7{{
    {0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4}, {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2},
}};

uint64_t PassExtent(uint64_t size, uint32_t start, uint32_t step) {
  return size > start ? (size - start + step - 1) / step : 0;
}

}  // namespace

bool TPNGReader::Read(std::string_view bytes) {
  if (!bytes.starts_with(kSignature)) return false;
  size_t pos = kSignature.size();
  while (bytes.size() - pos >= 8) {
    const uint32_t length = Get32(bytes, pos);
    const std::string_view type = bytes.substr(pos + 4, 4);
    pos += 8;
    if (length > bytes.size() - pos) break;  // not whole
    const std::string_view data = bytes.substr(pos, length);
    // The CRC is skipped, and may be missing at the very end.
    pos += std::min<size_t>(bytes.size() - pos, size_t{length} + 4);
    if (type == "IHDR") {
      if (length < 13) break;
      Width = Get32(data, 0);
      Height = Get32(data, 4);
      BitDepth = static_cast<uint8_t>(data[8]);
      ColorType = static_cast<uint8_t>(data[9]);
      Interlace = static_cast<uint8_t>(data[12]);
    } else if (type == "PLTE") {
      PaletteCount = static_cast<int>(std::min<size_t>(length / 3, 256));
      Palette.assign(data.substr(0, static_cast<size_t>(PaletteCount) * 3));
    } else if (type == "IDAT") {
      Data.append(data);
    } else if (type == "pHYs") {
      if (length < 9) continue;
      const uint32_t x = Get32(data, 0);
      const uint32_t y = Get32(data, 4);
      if (data[8] == 1) {
        // Pixels per metre to dots per inch, truncated (11811 gives 299).
        HorizontalResolution = ClampDpi(uint64_t{x} * 254 / 10000);
        VerticalResolution = ClampDpi(uint64_t{y} * 254 / 10000);
      } else {
        // Only the aspect ratio is known.
        HorizontalResolution = 96;
        VerticalResolution = x == 0 ? 96 : ClampDpi(uint64_t{96} * y / x);
      }
    } else if (type == "IEND") {
      break;
    }
  }
  return true;
}

int TPNGReader::Colors() const { return ColorType == 2 || ColorType == 6 ? 3 : 1; }

bool TPNGReader::ValidFormat() const {
  switch (ColorType) {
    case 0: return BitDepth == 1 || BitDepth == 2 || BitDepth == 4 || BitDepth == 8 || BitDepth == 16;
    case 3: return BitDepth == 1 || BitDepth == 2 || BitDepth == 4 || BitDepth == 8;
    case 2: case 4: case 6: return BitDepth == 8 || BitDepth == 16;
    default: return false;
  }
}

int TPNGReader::StoredBytesPerPixel() const {
  const int channels = ColorType == 4 ? 2 : ColorType == 6 ? 4 : Colors();
  return std::max(1, channels * BitDepth / 8);
}

uint64_t TPNGReader::StoredRowBytes(uint64_t width) const {
  const int channels = ColorType == 4 ? 2 : ColorType == 6 ? 4 : Colors();
  return (width * static_cast<uint64_t>(channels) * BitDepth + 7) / 8;
}

uint64_t TPNGReader::RowBytesFor(uint64_t width) const {
  return (width * static_cast<uint64_t>(Colors()) * BitDepth + 7) / 8;
}

uint64_t TPNGReader::RowBytes() const { return RowBytesFor(Width); }

void TPNGReader::DecodePass(std::string_view in, size_t& pos, uint64_t width, uint64_t height,
                            std::string& out) const {
  const auto stored = static_cast<size_t>(StoredRowBytes(width));
  const auto rowBytes = static_cast<size_t>(RowBytesFor(width));
  const bool alpha = ColorType == 4 || ColorType == 6;
  const size_t sample = BitDepth / 8;  // bytes per sample when alpha is present (8 or 16 bits)
  const auto colors = static_cast<size_t>(Colors());
  // Filtering works per byte against the same byte of neighbouring pixels, so alpha can be
  // taken out first; the step is then the pixel without alpha.
  const size_t step = std::max<size_t>(1, colors * BitDepth / 8);
  std::string raw(stored, '\0');
  out.assign(rowBytes * height, '\0');
  auto* o = reinterpret_cast<uint8_t*>(out.data());
  for (uint64_t y = 0; y < height; ++y) {
    uint8_t type = 0;
    std::fill(raw.begin(), raw.end(), '\0');
    if (pos < in.size()) {
      type = static_cast<uint8_t>(in[pos++]);
      const size_t n = std::min(stored, in.size() - pos);
      std::copy_n(in.data() + pos, n, raw.data());
      pos += n;
    }
    uint8_t* cur = o + y * rowBytes;
    if (alpha) {
      const size_t pixel = (colors + 1) * sample;
      const size_t keep = colors * sample;
      for (uint64_t x = 0; x < width; ++x) std::copy_n(raw.data() + x * pixel, keep, cur + x * keep);
    } else {
      std::copy_n(raw.data(), rowBytes, cur);
    }
    UnfilterPNGRow(type, cur, y > 0 ? cur - rowBytes : nullptr, rowBytes, step);
  }
}

std::string TPNGReader::DecodeRows() const {
  if (Width == 0 || Height == 0 || !ValidFormat()) return {};
  // Everything is sized from the header: refuse what would be too large before allocating.
  const uint64_t stored = (StoredRowBytes(Width) + 1) * uint64_t{Height};
  if (Width > kMaxDecodedImageBytes || Height > kMaxDecodedImageBytes || stored > kMaxDecodedImageBytes) return {};
  if (!PixelBufferAllowed(Width, Height, StoredRowBytes(Width) + 1, Data.size())) return {};
  // Adam7 adds at most one filter byte per pass row.
  const std::string inflated = FlateDecode(Data, static_cast<size_t>(stored + 7 * uint64_t{Height}));
  size_t pos = 0;
  std::string rows;
  if (Interlace != 1) {
    DecodePass(inflated, pos, Width, Height, rows);
    return rows;
  }
  const auto rowBytes = static_cast<size_t>(RowBytes());
  rows.assign(rowBytes * Height, '\0');
  auto* dst = reinterpret_cast<uint8_t*>(rows.data());
  const auto bits = static_cast<size_t>(Colors()) * BitDepth;  // per pixel, without alpha
  std::string pass;
  for (const Adam7Pass& p : kAdam7) {
    const uint64_t pw = PassExtent(Width, p.X0, p.DX);
    const uint64_t ph = PassExtent(Height, p.Y0, p.DY);
    if (pw == 0 || ph == 0) continue;  // an empty pass has no filter bytes either
    DecodePass(inflated, pos, pw, ph, pass);
    const auto passRow = static_cast<size_t>(RowBytesFor(pw));
    const auto* src = reinterpret_cast<const uint8_t*>(pass.data());
    for (uint64_t j = 0; j < ph; ++j) {
      uint8_t* row = dst + (p.Y0 + j * p.DY) * rowBytes;
      const uint8_t* in = src + j * passRow;
      if (bits >= 8) {
        const size_t n = bits / 8;
        for (uint64_t i = 0; i < pw; ++i) std::copy_n(in + i * n, n, row + (p.X0 + i * p.DX) * n);
      } else {
        const auto mask = static_cast<uint8_t>((1u << bits) - 1);
        for (uint64_t i = 0; i < pw; ++i) {
          const size_t from = i * bits;
          const uint8_t v = (in[from / 8] >> (8 - bits - from % 8)) & mask;
          const size_t to = (p.X0 + i * p.DX) * bits;
          const auto shift = static_cast<unsigned>(8 - bits - to % 8);
          row[to / 8] = static_cast<uint8_t>((row[to / 8] & ~(mask << shift)) | v << shift);
        }
      }
    }
  }
  return rows;
}

bool BuildPngImage(TPDFStructure& store, std::string_view bytes, TBuiltImage& result) {
  TPNGReader png;
  if (!png.Read(bytes)) return false;
  if (png.Width == 0 || png.Height == 0 || !png.ValidFormat()) return false;
  if (png.Width > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()) ||
      png.Height > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()))
    return false;
  // /Indexed needs at least one entry.
  if (png.ColorType == 3 && png.PaletteCount == 0) return false;
  const std::string rows = png.DecodeRows();
  if (rows.empty()) return false;

  TPDFStream* stream = MakeImageStream(store, png.Width, png.Height);
  TPDFDictionary* dict = stream->Dictionary();
  if (png.ColorType == 3) {
    TPDFArray* indexed = store.MakeArray();
    indexed->Add(store.CommonName("Indexed"));
    indexed->Add(store.CommonName("DeviceRGB"));
    indexed->Add(store.MakeNumber(png.PaletteCount - 1));
    indexed->Add(store.MakeString(png.Palette, TPDFString::kHexadecimal));
    dict->Put("ColorSpace", indexed);
  } else {
    dict->Put("ColorSpace", store.CommonName(png.Colors() == 3 ? "DeviceRGB" : "DeviceGray"));
  }
  dict->Put("BitsPerComponent", store.MakeNumber(png.BitDepth));
  stream->SetData(rows, true);

  result.Stream = stream;
  result.Width = static_cast<int32_t>(png.Width);
  result.Height = static_cast<int32_t>(png.Height);
  result.Kind = EPDFImageKind::Png;
  result.HorizontalResolution = png.HorizontalResolution;
  result.VerticalResolution = png.VerticalResolution;
  result.ResolutionUnit = 2;
  return true;
}

}  // namespace lumipage
