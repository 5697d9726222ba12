#include "imaging/BmpReader.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace lumipage {

namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::uint32_t kCoreHeaderSize = 12;
constexpr std::uint32_t kMaxHeaderSize = 124;  // BITMAPV5HEADER
constexpr std::uint32_t BI_ALPHABITFIELDS = 6;

[[noreturn]] void Invalid(const char* why) {
  throw EInvalidGraphic(std::string("Bitmap image is not valid: ") + why);
}

std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t U32(const std::uint8_t* p) {
  return p[0] | (static_cast<std::uint32_t>(p[1]) << 8) | (static_cast<std::uint32_t>(p[2]) << 16) |
         (static_cast<std::uint32_t>(p[3]) << 24);
}
std::int32_t I32(const std::uint8_t* p) { return static_cast<std::int32_t>(U32(p)); }

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
  if (headSize > fileSize) headSize = static_cast<std::size_t>(fileSize);
  if (headSize < kFileHeaderSize + kCoreHeaderSize) Invalid("file too short");
  if (data[0] != 'B' || data[1] != 'M') Invalid("no BM signature");
  const std::uint32_t offBits = U32(data + 10);
  const std::uint8_t* h = data + kFileHeaderSize;
  const std::uint32_t headerSize = U32(h);
  if (headerSize != kCoreHeaderSize && (headerSize < 40 || headerSize > kMaxHeaderSize)) Invalid("unknown header");
  if (kFileHeaderSize + headerSize > headSize) Invalid("truncated header");

  TBmpLayout layout;
  std::int64_t width = 0;
  std::int64_t height = 0;
  unsigned bits = 0;
  std::uint32_t compression = BI_RGB;
  std::uint32_t clrUsed = 0;
  std::int32_t xPels = 0;
  std::int32_t yPels = 0;
  std::size_t quadSize = 4;
  if (headerSize == kCoreHeaderSize) {
    width = U16(h + 4);
    height = U16(h + 6);
    bits = U16(h + 10);
    quadSize = 3;
  } else {
    width = I32(h + 4);
    height = I32(h + 8);
    bits = U16(h + 14);
    compression = U32(h + 16);
    xPels = I32(h + 24);
    yPels = I32(h + 28);
    clrUsed = U32(h + 32);
  }
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
    throw EOvinexError("Unsupported bit count");
  const bool topDown = height < 0;
  if (topDown) height = -height;
  if (width <= 0 || height <= 0 || width > kMaxImageDimension || height > kMaxImageDimension)
    Invalid("bad dimensions");

  const bool rle8 = compression == BI_RLE8;
  const bool rle4 = compression == BI_RLE4;
  const bool fields = compression == BI_BITFIELDS || compression == BI_ALPHABITFIELDS;
  if (compression != BI_RGB && !((rle8 && bits == 8) || (rle4 && bits == 4) || (fields && (bits == 16 || bits == 32))))
    Invalid("unsupported compression");
  if ((rle8 || rle4) && topDown) Invalid("top-down RLE data");

  // Bit-field masks: inside a longer header, or right after a 40-byte one.
  std::size_t tableOffset = kFileHeaderSize + headerSize;
  if (bits == 16) {
    layout.Masks = {0x7C00, 0x03E0, 0x001F};
  } else if (bits == 32) {
    layout.Masks = {0xFF0000, 0xFF00, 0xFF};
  }
  if (fields) {
    const std::uint8_t* m = h + 40;
    if (headerSize == 40) {
      const std::size_t maskBytes = compression == BI_ALPHABITFIELDS ? 16 : 12;
      if (tableOffset + maskBytes > headSize) Invalid("truncated masks");
      m = data + tableOffset;
      tableOffset += maskBytes;
    } else if (headerSize < 52) {
      Invalid("missing masks");
    }
    for (std::size_t k = 0; k < 3; ++k) layout.Masks[k] = U32(m + 4 * k);
  }

  std::uint32_t colors = 0;
  if (bits <= 8) {
    colors = clrUsed == 0 ? (1u << bits) : clrUsed;
    if (colors > (1u << bits)) Invalid("colour count larger than the table");
    if (headerSize == kCoreHeaderSize) colors = 1u << bits;
  }
  if (tableOffset + colors * quadSize > headSize) Invalid("truncated colour table");

  const std::uint64_t pixelOffset = offBits != 0 ? offBits : tableOffset + colors * quadSize;
  if (pixelOffset < kFileHeaderSize + headerSize || pixelOffset > fileSize) Invalid("bad pixel offset");
  const std::uint64_t available = fileSize - pixelOffset;

  const unsigned outBits = bits > 8 ? 24 : bits;
  const std::uint64_t srcRow = BytesPerRowFor(width, bits);
  const std::uint64_t outRow = BytesPerRowFor(width, outBits);
  const std::uint64_t outSize = outRow * static_cast<std::uint64_t>(height);
  if (outSize > kMaxImageBytes) Invalid("image too large");
  if (rle8 || rle4) {
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
  oh.biXPelsPerMeter = xPels;
  oh.biYPelsPerMeter = yPels;
  oh.biClrUsed = colors;
  layout.Colors.resize(colors);
  for (std::uint32_t i = 0; i < colors; ++i) {
    const std::uint8_t* q = data + tableOffset + i * quadSize;
    layout.Colors[i] = TRgbQuad{q[0], q[1], q[2], 0};
  }
  layout.PixelOffset = pixelOffset;
  layout.FileBits = bits;
  layout.Compression = compression;
  layout.TopDown = topDown;
  layout.Direct = compression == BI_RGB && !topDown && bits != 16 && bits != 32;
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
