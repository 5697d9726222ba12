#pragma once
// The packed device-independent bitmap: a 40-byte header, its colour table and bottom-up pixel
// rows padded to four bytes, the form in which a scanner hands over a page and the body of a BMP
// file. Here are its records, the row stride, the one rule between dots per inch and the
// header's pixels per metre, and the builder and reader of the packed form. Header-only and free
// of the platform layer, so that the source manager, which must not link it, shares it too.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>

namespace lumipage {

// Natural alignment already gives the Windows layouts (checked below), so no packing is needed.
struct TBitmapInfoHeader {
  std::uint32_t biSize = 0;
  std::int32_t biWidth = 0;
  std::int32_t biHeight = 0;
  std::uint16_t biPlanes = 0;
  std::uint16_t biBitCount = 0;
  std::uint32_t biCompression = 0;
  std::uint32_t biSizeImage = 0;
  std::int32_t biXPelsPerMeter = 0;
  std::int32_t biYPelsPerMeter = 0;
  std::uint32_t biClrUsed = 0;
  std::uint32_t biClrImportant = 0;
};
static_assert(sizeof(TBitmapInfoHeader) == 40);

// Colour table entry in DIBs and BMP files: blue, green, red, 0.
struct TRgbQuad {
  std::uint8_t rgbBlue = 0;
  std::uint8_t rgbGreen = 0;
  std::uint8_t rgbRed = 0;
  std::uint8_t rgbReserved = 0;
};
static_assert(sizeof(TRgbQuad) == 4);

constexpr std::uint32_t BI_RGB = 0;
constexpr std::uint32_t BI_RLE8 = 1;
constexpr std::uint32_t BI_RLE4 = 2;
constexpr std::uint32_t BI_BITFIELDS = 3;

// Bytes of one pixel row, padded to four bytes.
[[nodiscard]] constexpr std::uint64_t DibStride(std::uint64_t width, unsigned bits) {
  return ((width * bits + 31) / 32) * 4;
}

// DibStride for a signed width, as headers carry it: 0 for a width of 0 or less.
[[nodiscard]] constexpr std::uint64_t BytesPerRowFor(std::int64_t width, unsigned bits) {
  return width > 0 ? DibStride(static_cast<std::uint64_t>(width), bits) : 0;
}

// --- Resolution -----------------------------------------------------------------------------
// One inch is 0.0254 m exactly, so pixels per metre = dpi * 5000 / 127. Both directions round
// to nearest with halves away from zero; from pixels per metre the arithmetic is exact.

// Pixels per metre of a resolution in dots per inch (fractions allowed, as scanners give them).
[[nodiscard]] inline std::int32_t PelsPerMetreFromDpi(double dpi) {
  const double pels = dpi * 5000.0 / 127.0;
  if (!(pels > std::numeric_limits<std::int32_t>::min() && pels < std::numeric_limits<std::int32_t>::max())) return 0;
  return static_cast<std::int32_t>(std::lround(pels));
}

// Dots per inch of a header's pixels per metre, unclamped: callers decide what a negative or
// huge value means.
[[nodiscard]] constexpr std::int64_t DpiFromPelsPerMetre(std::int64_t pels) {
  const std::int64_t scaled = (pels < 0 ? -pels : pels) * 127;
  const std::int64_t dpi = (scaled + 2500) / 5000;
  return pels < 0 ? -dpi : dpi;
}

// Centimetres per inch, in the caller's precision: 254 / 100 is, in each precision, the value
// nearest 2.54.
template <typename Real>
inline constexpr Real kCmPerInch = Real(254) / Real(100);

// Dots per inch of a resolution given per centimetre (JPEG density unit 2, TIFF's centimetre
// unit), before the caller rounds it.
[[nodiscard]] constexpr double DpiOfDotsPerCm(double dotsPerCm) { return dotsPerCm * kCmPerInch<double>; }

// --- Building ---------------------------------------------------------------------------------

// The header of an uncompressed bottom-up packed DIB of that shape, with a colour table of
// colours entries.
[[nodiscard]] inline TBitmapInfoHeader PackedDibHeader(std::int32_t width, std::int32_t height, unsigned bits,
                                                       std::uint32_t colours, double dpiX, double dpiY) {
  TBitmapInfoHeader h;
  h.biSize = sizeof h;
  h.biWidth = width;
  h.biHeight = height;
  h.biPlanes = 1;
  h.biBitCount = static_cast<std::uint16_t>(bits);
  h.biCompression = BI_RGB;
  h.biSizeImage =
      static_cast<std::uint32_t>(BytesPerRowFor(width, bits) * (height > 0 ? static_cast<std::uint64_t>(height) : 0));
  h.biXPelsPerMeter = PelsPerMetreFromDpi(dpiX);
  h.biYPelsPerMeter = PelsPerMetreFromDpi(dpiY);
  h.biClrUsed = colours;
  return h;
}

// Bytes of a packed DIB with that header: the header, biClrUsed colour entries and its rows.
[[nodiscard]] inline std::uint64_t PackedDibSize(const TBitmapInfoHeader& h) {
  const std::uint64_t height = h.biHeight < 0 ? -static_cast<std::int64_t>(h.biHeight) : h.biHeight;
  return sizeof h + 4ull * h.biClrUsed + BytesPerRowFor(h.biWidth, h.biBitCount) * height;
}

// Writes the header and its biClrUsed colour entries at out (PackedDibSize(h) bytes long);
// returns where the rows begin.
inline std::uint8_t* WritePackedDibHead(std::uint8_t* out, const TBitmapInfoHeader& h, const TRgbQuad* colours) {
  std::memcpy(out, &h, sizeof h);
  if (h.biClrUsed > 0) std::memcpy(out + sizeof h, colours, 4 * static_cast<std::size_t>(h.biClrUsed));
  return out + sizeof h + 4 * static_cast<std::size_t>(h.biClrUsed);
}

// --- Reading ----------------------------------------------------------------------------------

// The 40 bytes of a bitmap header at p (also the first 40 bytes of every longer header).
[[nodiscard]] inline TBitmapInfoHeader ReadBitmapInfoHeader(const std::uint8_t* p) {
  TBitmapInfoHeader h;
  std::memcpy(&h, p, sizeof h);
  return h;
}

// Entries of the colour table a header announces: biClrUsed, or the whole table of its depth
// when that is 0; none above 8 bits per pixel.
[[nodiscard]] constexpr std::uint64_t DibColourCount(const TBitmapInfoHeader& h) {
  if (h.biBitCount > 8) return 0;
  return h.biClrUsed != 0 ? h.biClrUsed : std::uint64_t{1} << h.biBitCount;
}

// A packed DIB as found in a block: its header and where its colour table, bit-field masks
// and pixel data lie.
struct TPackedDibView {
  TBitmapInfoHeader Header;
  std::size_t HeaderBytes = 0;  // biSize, at least 40 (a longer header is skipped)
  std::uint32_t Colours = 0;
  std::size_t MaskBytes = 0;  // bit-field masks after a 40-byte header, in place of colours
  const std::uint8_t* Table = nullptr;
  const std::uint8_t* Pixels = nullptr;  // stored order: bottom-up rows unless TopDown
  std::uint64_t PixelBytes = 0;          // whole rows, or biSizeImage for compressed data
  std::uint64_t Stride = 0;
  std::int32_t Height = 0;  // always positive
  bool TopDown = false;

  // Plain rows of 1, 4, 8 or 24 bits: the rows of an image of that depth as they are.
  [[nodiscard]] bool Plain() const {
    const unsigned bits = Header.biBitCount;
    return (bits == 1 || bits == 4 || bits == 8 || bits == 24) && Header.biCompression == BI_RGB;
  }
  // Bytes from the header's start to the end of the pixel data.
  [[nodiscard]] std::uint64_t Size() const { return HeaderBytes + 4ull * Colours + MaskBytes + PixelBytes; }
};

// True for the depths a packed DIB may have.
[[nodiscard]] constexpr bool DibBitCountValid(unsigned bits) {
  return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// The view of data[0, size) as a packed DIB: a valid depth, a colour table its depth can index,
// sides of 1 to maxDimension pixels (rows top-down when the height is negative), and every part
// inside the block. Nothing when it is not one.
[[nodiscard]] inline std::optional<TPackedDibView> ReadPackedDib(const std::uint8_t* data, std::size_t size,
                                                                 std::int32_t maxDimension) {
  if (!data || size < sizeof(TBitmapInfoHeader)) return std::nullopt;
  TPackedDibView v;
  v.Header = ReadBitmapInfoHeader(data);
  const TBitmapInfoHeader& h = v.Header;
  const unsigned bits = h.biBitCount;
  if (!DibBitCountValid(bits)) return std::nullopt;
  v.HeaderBytes = h.biSize >= sizeof h ? h.biSize : sizeof h;
  if (v.HeaderBytes > size) return std::nullopt;
  const std::uint64_t colours = DibColourCount(h);
  if (bits <= 8 && colours > (1u << bits)) return std::nullopt;
  if (h.biWidth <= 0 || h.biWidth > maxDimension || h.biHeight == 0 || h.biHeight > maxDimension ||
      h.biHeight < -maxDimension)
    return std::nullopt;
  v.TopDown = h.biHeight < 0;
  v.Height = v.TopDown ? -h.biHeight : h.biHeight;
  v.Colours = static_cast<std::uint32_t>(colours);
  v.Stride = DibStride(static_cast<std::uint64_t>(h.biWidth), bits);
  if (h.biCompression == BI_RGB) {
    v.PixelBytes = v.Stride * static_cast<std::uint64_t>(v.Height);
  } else {
    v.PixelBytes = h.biSizeImage;
    if (v.PixelBytes == 0) return std::nullopt;
    if (h.biCompression == BI_BITFIELDS && v.HeaderBytes == sizeof h) v.MaskBytes = 12;
  }
  if (v.Size() > size) return std::nullopt;
  v.Table = data + v.HeaderBytes;
  v.Pixels = v.Table + 4 * static_cast<std::size_t>(colours) + v.MaskBytes;
  return v;
}

}  // namespace lumipage
