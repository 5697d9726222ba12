#include "imaging/BmpReader.h"

#include "imaging/BmpFile.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace lumipage {

namespace {

[[noreturn]] void Invalid(const char* why) {
  throw EInvalidGraphic(std::string("Bitmap image is not valid: ") + why);
}

using bmpfile::U16;
using bmpfile::U32;

// One colour channel of a bit-field pixel, widened or narrowed to 8 bits.
struct Channel {
  std::uint32_t mask = 0;
  unsigned shift = 0;
  unsigned bits = 0;

  explicit Channel(std::uint32_t m) : mask(m) {
    if (m == 0) return;
    while (((m >> shift) & 1u) == 0) ++shift;
    while (bits < 32 - shift && ((m >> (shift + bits)) & 1u)) ++bits;
  }
  [[nodiscard]] std::uint8_t Get(std::uint32_t pixel) const {
    if (bits == 0) return 0;
    const std::uint32_t v = (pixel & mask) >> shift;
    if (bits >= 8) return static_cast<std::uint8_t>(v >> (bits - 8));
    // Replicate the high bits into the low ones so that full scale maps to 255.
    std::uint32_t out = 0;
    int filled = 0;
    while (filled < 8) {
      out = (out << bits) | v;
      filled += static_cast<int>(bits);
    }
    return static_cast<std::uint8_t>(out >> (filled - 8));
  }
};

// RLE8 / RLE4 into bottom-up rows of the output; pixels outside the image are dropped.
void DecodeRle(const std::uint8_t* src, std::size_t size, bool rle4, std::int32_t width, std::int32_t height,
               std::size_t bytesPerRow, std::uint8_t* out) {
  std::size_t i = 0;
  std::int64_t x = 0;
  std::int64_t y = 0;  // row in memory order (0 = bottom row)
  auto put = [&](std::uint8_t value) {
    if (x < width && y < height) {
      std::uint8_t* row = out + static_cast<std::size_t>(y) * bytesPerRow;
      if (rle4) {
        std::uint8_t& b = row[x >> 1];
        b = (x & 1) ? static_cast<std::uint8_t>((b & 0xF0) | (value & 0x0F))
                    : static_cast<std::uint8_t>((b & 0x0F) | (value << 4));
      } else {
        row[x] = value;
      }
    }
    ++x;
  };
  while (y < height) {
    if (i + 2 > size) return;  // data ends early: the rest stays 0
    const std::uint8_t count = src[i];
    const std::uint8_t value = src[i + 1];
    i += 2;
    if (count > 0) {
      for (unsigned k = 0; k < count; ++k) put(rle4 ? ((k & 1) ? (value & 0x0F) : (value >> 4)) : value);
      continue;
    }
    switch (value) {
      case 0: x = 0; ++y; break;
      case 1: return;
      case 2:
        if (i + 2 > size) return;
        x += src[i];
        y += src[i + 1];
        i += 2;
        break;
      default: {
        const std::size_t n = value;
        const std::size_t bytes = rle4 ? (n + 1) / 2 : n;
        if (i + bytes > size) return;
        for (std::size_t k = 0; k < n; ++k) {
          put(rle4 ? ((k & 1) ? (src[i + k / 2] & 0x0F) : (src[i + k / 2] >> 4)) : src[i + k]);
        }
        i += (bytes + 1) & ~std::size_t{1};  // runs are padded to a 16-bit boundary
        break;
      }
    }
  }
}

}  // namespace

TDecodedBitmap TBmpReader::Read(TStream& stream) {
  const std::int64_t start = stream.Position();
  const std::int64_t size = stream.Size();
  if (start < 0 || size < start) Invalid("stream error");
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size - start));
  stream.ReadBuffer(bytes.data(), bytes.size());
  return Read(bytes.data(), bytes.size());
}

TBmpLayout TBmpReader::ReadLayout(const std::uint8_t* data, std::size_t headSize, std::uint64_t fileSize) {
  TBmpFileHeaders file;
  const EBmpFault fault = ReadBmpFileHeaders(data, headSize, fileSize, kMaxImageDimension, file);
  if (fault == EBmpFault::BitCount) throw EOvinexError("Unsupported bit count");
  if (fault != EBmpFault::None) Invalid(BmpFaultText(fault));

  TBmpLayout layout;
  const std::int64_t width = file.Width;
  const std::int64_t height = file.Height;
  const unsigned bits = file.Bits;
  const std::uint32_t compression = file.Compression;
  const bool rle = compression == BI_RLE8 || compression == BI_RLE4;
  const std::uint32_t colors = file.Colours;
  const std::uint64_t available = fileSize - file.PixelOffset;

  const unsigned outBits = bits > 8 ? 24 : bits;
  const std::uint64_t srcRow = BytesPerRowFor(width, bits);
  const std::uint64_t outRow = BytesPerRowFor(width, outBits);
  const std::uint64_t outSize = outRow * static_cast<std::uint64_t>(height);
  if (outSize > kMaxImageBytes) Invalid("image too large");
  if (rle) {
    if (outSize > std::max<std::uint64_t>(std::uint64_t{1} << 24, kMaxRleExpansion * available))
      Invalid("image too large for its data");
  } else if (srcRow * static_cast<std::uint64_t>(height) > available) {
    Invalid("truncated pixel data");
  }

  TBitmapInfoHeader& oh = layout.Header;
  oh.biSize = 40;
  oh.biWidth = static_cast<std::int32_t>(width);
  oh.biHeight = static_cast<std::int32_t>(height);
  oh.biPlanes = 1;
  oh.biBitCount = static_cast<std::uint16_t>(outBits);
  oh.biCompression = BI_RGB;
  oh.biSizeImage = static_cast<std::uint32_t>(outSize);
  oh.biXPelsPerMeter = file.XPelsPerMeter;
  oh.biYPelsPerMeter = file.YPelsPerMeter;
  oh.biClrUsed = colors;
  layout.Colors.resize(colors);
  for (std::uint32_t i = 0; i < colors; ++i) {
    const std::uint8_t* q = data + file.TableOffset + i * file.QuadBytes;
    layout.Colors[i] = TRgbQuad{q[0], q[1], q[2], 0};
  }
  layout.PixelOffset = file.PixelOffset;
  layout.FileBits = bits;
  layout.Compression = compression;
  layout.TopDown = file.TopDown;
  layout.Masks = file.Masks;
  layout.Direct = compression == BI_RGB && !file.TopDown && bits != 16 && bits != 32;
  return layout;
}

TDecodedBitmap TBmpReader::Read(const std::uint8_t* data, std::size_t size) {
  TBmpLayout layout = ReadLayout(data, size, size);
  const TBitmapInfoHeader& oh = layout.Header;
  const std::uint8_t* src = data + layout.PixelOffset;
  const std::size_t available = size - static_cast<std::size_t>(layout.PixelOffset);
  const unsigned bits = layout.FileBits;
  const std::int32_t width = oh.biWidth;
  const std::int32_t height = oh.biHeight;
  const std::uint64_t srcRow = BytesPerRowFor(width, bits);
  const std::uint64_t outRow = BytesPerRowFor(width, oh.biBitCount);

  TDecodedBitmap out;
  out.Header = oh;
  out.Colors = std::move(layout.Colors);
  out.Bits.assign(oh.biSizeImage, 0);

  if (layout.Compression == BI_RLE8 || layout.Compression == BI_RLE4) {
    DecodeRle(src, available, layout.Compression == BI_RLE4, width, height, static_cast<std::size_t>(outRow),
              out.Bits.data());
    return out;
  }
  const Channel red(layout.Masks[0]);
  const Channel green(layout.Masks[1]);
  const Channel blue(layout.Masks[2]);
  for (std::int32_t r = 0; r < height; ++r) {
    // r counts rows in file order; the output is bottom-up.
    const std::uint8_t* in = src + static_cast<std::size_t>(r) * srcRow;
    const std::int32_t memRow = layout.TopDown ? height - 1 - r : r;
    std::uint8_t* o = out.Bits.data() + static_cast<std::size_t>(memRow) * outRow;
    if (bits <= 8 || bits == 24) {
      std::memcpy(o, in, static_cast<std::size_t>(srcRow));
    } else {
      for (std::int32_t x = 0; x < width; ++x) {
        const std::uint32_t px = bits == 16 ? U16(in + 2 * static_cast<std::size_t>(x)) : U32(in + 4 * static_cast<std::size_t>(x));
        o[3 * x] = blue.Get(px);
        o[3 * x + 1] = green.Get(px);
        o[3 * x + 2] = red.Get(px);
      }
    }
  }
  return out;
}

}  // namespace lumipage
