#include "pdf/PDFImageTIFFPixels.h"

#include <algorithm>
#include <array>
#include <memory>

#include "pdf/PDFFilters.h"
#include "pdf/PDFLZWDecompressor.h"
#include "pdf/PDFStructure.h"

namespace lumipage {

namespace {

// PackBits strips are exactly what /RunLengthDecode reads, except that TIFF's no-operation
// header 128 means end of data in PDF: those headers are dropped while joining.
std::string JoinPackBits(const std::vector<std::string_view>& strips) {
  std::string out;
  size_t total = 0;
  for (const auto& s : strips) total += s.size();
  out.reserve(total);
  for (const std::string_view s : strips) {
    size_t i = 0;
    while (i < s.size()) {
      const auto n = static_cast<uint8_t>(s[i]);
      if (n == 128) {
        ++i;
        continue;
      }
      const size_t run = n < 128 ? size_t{n} + 2 : 2;
      const size_t take = std::min(run, s.size() - i);
      out.append(s.substr(i, take));
      i += take;
    }
  }
  return out;
}

// Pages whose strips a PDF reader expands to the right picture with /RunLengthDecode alone.
bool PackBitsDirect(const TTIFFPage& page) {
  if (page.Predictor != 1) return false;
  const uint32_t b = page.BitsPerSample;
  if (page.SamplesPerPixel == 1 && page.Photometric <= 1)
    return b == 1 || b == 2 || b == 4 || b == 8 || b == 16;
  return page.SamplesPerPixel == 3 && page.Photometric == 2 && (b == 8 || b == 16);
}

}  // namespace

std::string UnpackBits(std::string_view data, size_t maxOutput) {
  std::string out;
  size_t i = 0;
  while (i < data.size() && out.size() < maxOutput) {
    const auto n = static_cast<uint8_t>(data[i++]);
    if (n < 128) {
      const size_t take = std::min({size_t{n} + 1, data.size() - i, maxOutput - out.size()});
      out.append(data.substr(i, take));
      i += size_t{n} + 1;
    } else if (n > 128) {
      if (i >= data.size()) break;
      out.append(std::min<size_t>(257 - n, maxOutput - out.size()), data[i++]);
    }
  }
  return out;
}

bool DecodeTiffPixels(const TTIFFPage& page, TDecodedPixels& pixels) {
  pixels = TDecodedPixels{};
  pixels.Source = EPixelSource::Tiff;
  pixels.Photometric = page.Photometric;
  int bits = 0;
  if (page.BitsPerSample == 1 && page.SamplesPerPixel == 1) {
    bits = 1;
  } else if (page.BitsPerSample == 8 && page.SamplesPerPixel == 1) {
    bits = 8;
  } else if (page.BitsPerSample == 8 && page.SamplesPerPixel == 3 && page.Photometric == 2) {
    bits = 24;
  } else if (page.BitsPerSample == 8 && page.SamplesPerPixel == 4 && (page.Photometric == 2 || page.Photometric == 5)) {
    bits = 32;
  }
  // Palette pages would show their indices as greys; other layouts are not decoded.
  if (bits == 0 || page.Photometric == 3) return false;
  if (page.Width > static_cast<uint32_t>(INT32_MAX) || page.Length > static_cast<uint32_t>(INT32_MAX)) return false;
  const uint64_t rowBytes = (uint64_t{page.Width} * static_cast<uint64_t>(bits) + 7) / 8;
  uint64_t stripBytes = 0;
  for (const auto& s : page.Strips) stripBytes += s.size();
  if (!PixelBufferAllowed(page.Width, page.Length, rowBytes, stripBytes)) return false;
  pixels.Allocate(static_cast<int32_t>(page.Width), static_cast<int32_t>(page.Length), bits);
  if (pixels.Rows.empty()) return true;

  const uint64_t rowsPerStrip = page.RowsPerStrip == 0 ? page.Length : page.RowsPerStrip;
  std::unique_ptr<TPDFLZWDecompressor> lzw;
  if (page.Compression == ETIFFCompression::Lzw) {
    lzw = std::make_unique<TPDFLZWDecompressor>();
    lzw->FillOrder = 1;
    lzw->EarlyChange = true;
    lzw->InitialCodeSize = 9;
  }
  uint64_t row = 0;
  for (const std::string_view strip : page.Strips) {
    if (row >= page.Length) break;
    const uint64_t rows = std::min(rowsPerStrip, uint64_t{page.Length} - row);
    const auto expected = static_cast<size_t>(rows * rowBytes);
    std::string decoded;
    std::string_view data = strip;
    if (page.Compression == ETIFFCompression::Lzw) {
      decoded = lzw->Decompress(strip, expected);
      data = decoded;
    } else if (page.Compression == ETIFFCompression::PackBits) {
      decoded = UnpackBits(strip, expected);
      data = decoded;
    }
    // A short strip leaves the rest of its rows zero.
    std::copy_n(data.data(), std::min(expected, data.size()), pixels.Rows.data() + row * rowBytes);
    row += rows;
  }
  if (page.Predictor == 2 && page.BitsPerSample == 8) {
    const size_t step = page.SamplesPerPixel;
    for (int32_t y = 0; y < pixels.Height; ++y) {
      uint8_t* r = pixels.Row(y);
      for (size_t i = step; i < pixels.RowBytes; ++i) r[i] = static_cast<uint8_t>(r[i] + r[i - step]);
    }
  }
  return true;
}

bool BuildTiffPixelsImage(TPDFStructure& store, const TTIFFPage& page, bool compress, TBuiltImage& result) {
  result.Kind = EPDFImageKind::Tiff;
  result.HorizontalResolution = page.HorizontalResolution;
  result.VerticalResolution = page.VerticalResolution;
  result.ResolutionUnit = 2;

  if (page.Compression == ETIFFCompression::PackBits && PackBitsDirect(page)) {
    TPDFStream* stream = MakeImageStream(store, page.Width, page.Length);
    TPDFDictionary* dict = stream->Dictionary();
    dict->Put("ColorSpace", store.CommonName(page.Photometric == 2 ? "DeviceRGB" : "DeviceGray"));
    dict->Put("BitsPerComponent", store.MakeNumber(page.BitsPerSample));
    // WhiteIsZero grey would otherwise show as its negative.
    if (page.Photometric == 0) dict->Put("Decode", store.MakeIntegerArray(std::array<int32_t, 2>{1, 0}, 1));
    std::string joined = JoinPackBits(page.Strips);
    // Without data the stream still needs a valid Flate body: the run-length end mark alone.
    if (joined.empty()) joined.assign(1, '\x80');
    stream->SetRawData(FlateEncode(joined));
    TPDFArray* filters = store.MakeArray();
    filters->Add(store.CommonName("FlateDecode"));
    filters->Add(store.CommonName("RunLengthDecode"));
    dict->Put("Filter", filters);
    result.Stream = stream;
    result.Width = static_cast<int32_t>(std::min<uint32_t>(page.Width, INT32_MAX));
    result.Height = static_cast<int32_t>(std::min<uint32_t>(page.Length, INT32_MAX));
    return true;
  }

  TDecodedPixels pixels;
  pixels.Source = EPixelSource::Tiff;
  pixels.Photometric = page.Photometric;
  if (DecodesTiffPixels(page.Compression) && !DecodeTiffPixels(page, pixels)) return false;
  // A compression the engine does not decode leaves the bitmap empty: a 0 by 0 image.
  return BuildDecodedImage(store, pixels, compress, EPDFImageKind::Tiff, result);
}

}  // namespace lumipage
