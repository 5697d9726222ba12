#pragma once
// The headers of a BMP file, read and checked: the file header, a core (12-byte) or info header
// up to version 5, bit-field masks and the colour table. The image library's BMP reader and the
// source manager's page files both start here and word the faults their own way. Header-only
// for the same reason as PackedDib.h.
#include <array>
#include <cstddef>
#include <cstdint>

#include "imaging/PackedDib.h"
#include "platform/ByteOrder.h"

namespace lumipage {

constexpr std::size_t kBmpFileHeaderBytes = 14;
constexpr std::uint32_t kBmpCoreHeaderBytes = 12;
constexpr std::uint32_t kBmpMaxHeaderBytes = 124;  // BITMAPV5HEADER
constexpr std::uint32_t BI_ALPHABITFIELDS = 6;

// The first fault found, in the order of the checks below.
enum class EBmpFault : std::uint8_t {
  None,
  TooShort,
  NoSignature,
  UnknownHeader,
  TruncatedHeader,
  BitCount,
  Dimensions,
  Compression,
  TopDownRle,
  TruncatedMasks,
  MissingMasks,
  ColourCount,
  TruncatedTable,
  PixelOffset,
};

// How the image library's reader words a fault ("Bitmap image is not valid: ..." follows).
[[nodiscard]] constexpr const char* BmpFaultText(EBmpFault fault) {
  switch (fault) {
    case EBmpFault::None: return "";
    case EBmpFault::TooShort: return "file too short";
    case EBmpFault::NoSignature: return "no BM signature";
    case EBmpFault::UnknownHeader: return "unknown header";
    case EBmpFault::TruncatedHeader: return "truncated header";
    case EBmpFault::BitCount: return "unsupported bit count";
    case EBmpFault::Dimensions: return "bad dimensions";
    case EBmpFault::Compression: return "unsupported compression";
    case EBmpFault::TopDownRle: return "top-down RLE data";
    case EBmpFault::TruncatedMasks: return "truncated masks";
    case EBmpFault::MissingMasks: return "missing masks";
    case EBmpFault::ColourCount: return "colour count larger than the table";
    case EBmpFault::TruncatedTable: return "truncated colour table";
    case EBmpFault::PixelOffset: return "bad pixel offset";
  }
  return "";
}

// What the headers say. Fields are filled as they are read: after a fault, those the checks
// before it needed hold their values (HeaderSize after UnknownHeader, every header field after
// BitCount and later faults).
struct TBmpFileHeaders {
  std::uint32_t HeaderSize = 0;  // 12, or 40 to 124
  std::int64_t Width = 0;
  std::int64_t Height = 0;  // positive: TopDown tells the row order
  bool TopDown = false;
  std::uint16_t Planes = 1;
  unsigned Bits = 0;
  std::uint32_t Compression = BI_RGB;
  std::int32_t XPelsPerMeter = 0;
  std::int32_t YPelsPerMeter = 0;
  std::array<std::uint32_t, 3> Masks{};  // red, green, blue; the defaults for 16 and 32 bits
  std::uint64_t TableOffset = 0;         // from the file's first byte
  std::uint32_t Colours = 0;
  std::size_t QuadBytes = 4;  // 3 in a core file
  std::uint64_t PixelOffset = 0;
};

namespace bmpfile {
// BMP numbers are little-endian.
inline std::uint16_t U16(const std::uint8_t* p) { return platform::LoadLE16(p); }
inline std::uint32_t U32(const std::uint8_t* p) { return platform::LoadLE32(p); }
}  // namespace bmpfile

// Reads the headers in the first headSize bytes of a BMP file of fileSize bytes (headSize at
// least the headers' size, or the whole file); sides of 1 to maxDimension pixels. The pixel
// data itself is not looked at: how much of it a file needs depends on what reads it.
[[nodiscard]] inline EBmpFault ReadBmpFileHeaders(const std::uint8_t* data, std::size_t headSize,
                                                  std::uint64_t fileSize, std::int64_t maxDimension,
                                                  TBmpFileHeaders& out) {
  using bmpfile::U16;
  using bmpfile::U32;
  if (headSize > fileSize) headSize = static_cast<std::size_t>(fileSize);
  if (headSize < kBmpFileHeaderBytes + kBmpCoreHeaderBytes) return EBmpFault::TooShort;
  if (data[0] != 'B' || data[1] != 'M') return EBmpFault::NoSignature;
  const std::uint32_t offBits = U32(data + 10);
  const std::uint8_t* h = data + kBmpFileHeaderBytes;
  const std::uint32_t headerSize = U32(h);
  out.HeaderSize = headerSize;
  if (headerSize != kBmpCoreHeaderBytes && (headerSize < 40 || headerSize > kBmpMaxHeaderBytes))
    return EBmpFault::UnknownHeader;
  if (kBmpFileHeaderBytes + headerSize > headSize) return EBmpFault::TruncatedHeader;

  // A core header in the shape of the 40-byte one: no compression, resolution or colour count.
  TBitmapInfoHeader ih;
  if (headerSize == kBmpCoreHeaderBytes) {
    ih.biWidth = U16(h + 4);
    ih.biHeight = U16(h + 6);
    ih.biPlanes = U16(h + 8);
    ih.biBitCount = U16(h + 10);
    out.QuadBytes = 3;
  } else {
    ih = ReadBitmapInfoHeader(h);
  }
  out.Width = ih.biWidth;
  out.Height = ih.biHeight;
  out.Planes = ih.biPlanes;
  out.Bits = ih.biBitCount;
  out.Compression = ih.biCompression;
  out.XPelsPerMeter = ih.biXPelsPerMeter;
  out.YPelsPerMeter = ih.biYPelsPerMeter;
  const unsigned bits = out.Bits;
  if (!DibBitCountValid(bits)) return EBmpFault::BitCount;
  out.TopDown = out.Height < 0;
  if (out.TopDown) out.Height = -out.Height;
  if (out.Width <= 0 || out.Height <= 0 || out.Width > maxDimension || out.Height > maxDimension)
    return EBmpFault::Dimensions;

  const std::uint32_t compression = out.Compression;
  const bool rle8 = compression == BI_RLE8;
  const bool rle4 = compression == BI_RLE4;
  const bool fields = compression == BI_BITFIELDS || compression == BI_ALPHABITFIELDS;
  if (compression != BI_RGB && !((rle8 && bits == 8) || (rle4 && bits == 4) || (fields && (bits == 16 || bits == 32))))
    return EBmpFault::Compression;
  if ((rle8 || rle4) && out.TopDown) return EBmpFault::TopDownRle;

  // Bit-field masks: inside a longer header, or right after a 40-byte one.
  std::size_t tableOffset = kBmpFileHeaderBytes + headerSize;
  if (bits == 16) {
    out.Masks = {0x7C00, 0x03E0, 0x001F};
  } else if (bits == 32) {
    out.Masks = {0xFF0000, 0xFF00, 0xFF};
  }
  if (fields) {
    const std::uint8_t* m = h + 40;
    if (headerSize == 40) {
      const std::size_t maskBytes = compression == BI_ALPHABITFIELDS ? 16 : 12;
      if (tableOffset + maskBytes > headSize) return EBmpFault::TruncatedMasks;
      m = data + tableOffset;
      tableOffset += maskBytes;
    } else if (headerSize < 52) {
      return EBmpFault::MissingMasks;
    }
    for (std::size_t k = 0; k < 3; ++k) out.Masks[k] = U32(m + 4 * k);
  }

  // A core file always carries the whole table.
  const std::uint64_t colours = DibColourCount(ih);
  if (bits <= 8 && colours > (1u << bits)) return EBmpFault::ColourCount;
  out.Colours = static_cast<std::uint32_t>(colours);
  out.TableOffset = tableOffset;
  const std::uint64_t tableEnd = tableOffset + std::uint64_t{out.Colours} * out.QuadBytes;
  if (tableEnd > headSize) return EBmpFault::TruncatedTable;

  out.PixelOffset = offBits != 0 ? offBits : tableEnd;
  if (out.PixelOffset < kBmpFileHeaderBytes + headerSize || out.PixelOffset > fileSize) return EBmpFault::PixelOffset;
  return EBmpFault::None;
}

}  // namespace lumipage
