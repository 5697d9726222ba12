#include "pdf/PDFImageDecodedPixels.h"

#include <algorithm>
#include <array>
#include <utility>

#include "pdf/PDFStructure.h"

namespace lumipage {

bool PixelBufferAllowed(uint64_t width, uint64_t height, uint64_t bytesPerRow, uint64_t fileSize) {
  if (width == 0 || height == 0) return true;
  // Guards the products below against overflow as well.
  if (width > kMaxDecodedImageBytes || height > kMaxDecodedImageBytes || bytesPerRow > kMaxDecodedImageBytes)
    return false;
  const uint64_t total = bytesPerRow * height;
  if (total > kMaxDecodedImageBytes) return false;
  return total <= std::min(fileSize, kMaxDecodedImageBytes) * kMaxPixelBytesPerFileByte + kPixelBytesAllowance;
}

void TDecodedPixels::Allocate(int32_t width, int32_t height, int bitsPerPixel) {
  Width = std::max(width, 0);
  Height = std::max(height, 0);
  BitsPerPixel = bitsPerPixel;
  RowBytes = (static_cast<size_t>(Width) * static_cast<size_t>(std::max(bitsPerPixel, 0)) + 7) / 8;
  Rows.assign(RowBytes * static_cast<size_t>(Height), 0);
}

namespace {

bool IsGreyRamp(const std::vector<uint32_t>& palette) {
  if (palette.size() < 256) return false;
  for (uint32_t i = 0; i < 256; ++i) {
    if (palette[i] != (i << 16 | i << 8 | i)) return false;
  }
  return true;
}

// Every format without its own encoding: R, G, B bytes per pixel.
std::string ToRgb(const TDecodedPixels& p) {
  const auto width = static_cast<size_t>(p.Width);
  std::string out(width * 3 * static_cast<size_t>(p.Height), '\0');
  auto* o = reinterpret_cast<uint8_t*>(out.data());
  auto lookup = [&](uint32_t index, uint8_t* dst) {
    const uint32_t c = index < p.Palette.size() ? p.Palette[index] : 0;
    dst[0] = static_cast<uint8_t>(c >> 16);
    dst[1] = static_cast<uint8_t>(c >> 8);
    dst[2] = static_cast<uint8_t>(c);
  };
  for (int32_t y = 0; y < p.Height; ++y) {
    const uint8_t* row = p.Row(y);
    uint8_t* dst = o + static_cast<size_t>(y) * width * 3;
    switch (p.BitsPerPixel) {
      case 1:
        for (size_t x = 0; x < width; ++x) lookup((row[x / 8] >> (7 - x % 8)) & 1u, dst + 3 * x);
        break;
      case 4:
        for (size_t x = 0; x < width; ++x) lookup((row[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 15u, dst + 3 * x);
        break;
      case 8:
        for (size_t x = 0; x < width; ++x) lookup(row[x], dst + 3 * x);
        break;
      case 24:
        std::copy_n(row, width * 3, dst);
        break;
      case 32:
        for (size_t x = 0; x < width; ++x) std::copy_n(row + 4 * x, 3, dst + 3 * x);
        break;
      default:
        break;  // unknown layouts stay black
    }
  }
  return out;
}

std::string RowsAsBytes(const TDecodedPixels& p) {
  return {reinterpret_cast<const char*>(p.Rows.data()), p.RowBytes * static_cast<size_t>(p.Height)};
}

}  // namespace

TPDFStream* MakeImageStream(TPDFStructure& store, double width, double height, std::string bytes) {
  TPDFStream* stream = store.MakeStream(std::move(bytes));
  TPDFDictionary* dict = stream->Dictionary();
  dict->Put("Type", store.CommonName("XObject"));
  dict->Put("Subtype", store.CommonName("Image"));
  dict->Put("Width", store.MakeNumber(width));
  dict->Put("Height", store.MakeNumber(height));
  return stream;
}

TPDFStream* MakeDecodedPixelsStream(TPDFStructure& store, const TDecodedPixels& pixels, bool compress) {
  const std::string* space = nullptr;
  static const std::string kGray = "DeviceGray";
  static const std::string kRgb = "DeviceRGB";
  static const std::string kCmyk = "DeviceCMYK";
  int bits = 8;
  std::array<int32_t, 2> decode{};
  bool hasDecode = false;
  std::string data;
  const bool tiff = pixels.Source == EPixelSource::Tiff;

  if (pixels.BitsPerPixel == 8 && (tiff || IsGreyRamp(pixels.Palette))) {
    space = &kGray;
    data = RowsAsBytes(pixels);
    // A WhiteIsZero grey page would otherwise show as its negative.
    if (tiff && pixels.Photometric == 0) {
      decode = {1, 0};
      hasDecode = true;
    }
  } else if (pixels.BitsPerPixel == 1) {
    space = &kGray;
    bits = 1;
    data = RowsAsBytes(pixels);
    const bool zeroIsBlack = tiff ? pixels.Photometric == 1
                                  : pixels.Palette.empty() || (pixels.Palette.front() >> 16 & 0xFF) == 0;
    decode = zeroIsBlack ? std::array<int32_t, 2>{0, 1} : std::array<int32_t, 2>{1, 0};
    hasDecode = true;
  } else if (pixels.BitsPerPixel == 32 && tiff && pixels.Photometric == 5) {
    space = &kCmyk;
    data = RowsAsBytes(pixels);
  } else {
    space = &kRgb;
    data = ToRgb(pixels);
  }

  TPDFStream* stream = MakeImageStream(store, pixels.Width, pixels.Height);
  TPDFDictionary* dict = stream->Dictionary();
  dict->Put("ColorSpace", store.CommonName(*space));
  dict->Put("BitsPerComponent", store.MakeNumber(bits));
  if (hasDecode) dict->Put("Decode", store.MakeIntegerArray(decode, 1));
  // An empty image has nothing to compress (zlib would give no valid stream for it).
  stream->SetData(data, compress && !data.empty());
  return stream;
}

bool BuildDecodedImage(TPDFStructure& store, const TDecodedPixels& pixels, bool compress, EPDFImageKind kind,
                       TBuiltImage& result) {
  result.Stream = MakeDecodedPixelsStream(store, pixels, compress);
  result.Width = pixels.Width;
  result.Height = pixels.Height;
  result.Kind = kind;
  return true;
}

}  // namespace lumipage
