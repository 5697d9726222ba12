#pragma once
// Helpers for the tests of the decoding image formats: fixtures made by ImageMagick at test
// time, ImageMagick's own reading of a file as the pixel oracle, and a small renderer that turns
// an image XObject back into 16-bit RGB samples the way a PDF reader would.
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "pdf/PDFStructure.h"
#include "tests/pdf/PdfTestUtil.h"

namespace lumipage::formatstest {

// Width, height and R, G, B samples of 16 bits, row by row from the top.
struct TRgbImage {
  int32_t Width = 0;
  int32_t Height = 0;
  std::vector<uint16_t> Samples;
};

inline void Magick(const std::string& args) {
  const auto r = testutil::RunCommand("convert " + args);
  ASSERT_EQ(r.status, 0) << "convert " << args << "\n" << r.output;
}

// How ImageMagick reads the file (first frame, alpha dropped).
inline TRgbImage MagickPixels(const std::string& file, const std::string& scratch) {
  TRgbImage img;
  const auto size = testutil::RunCommand("identify -format '%w %h\\n' '" + file + "[0]'");
  std::istringstream(size.output) >> img.Width >> img.Height;
  Magick("'" + file + "[0]' -alpha off -colorspace sRGB -depth 16 -endian MSB rgb:'" + scratch + "'");
  const std::string raw = testutil::ReadFile(scratch);
  for (size_t i = 0; i + 1 < raw.size(); i += 2)
    img.Samples.push_back(static_cast<uint16_t>(static_cast<uint8_t>(raw[i]) << 8 | static_cast<uint8_t>(raw[i + 1])));
  return img;
}

inline std::string RunLengthDecode(const std::string& in) {
  std::string out;
  size_t i = 0;
  while (i < in.size()) {
    const auto n = static_cast<uint8_t>(in[i++]);
    if (n == 128) break;
    if (n < 128) {
      out.append(in, i, n + 1);
      i += n + 1;
    } else if (i < in.size()) {
      out.append(257 - n, in[i++]);
    }
  }
  return out;
}

inline int32_t Int(const TPDFDictionary* d, const char* key) { return d->GetInteger(key, -1); }

// The image as a PDF reader paints it: /DeviceGray, /DeviceRGB, /DeviceCMYK (naively, 1 - x)
// or /Indexed /DeviceRGB, any depth, /Decode [1 0] honoured for grey.
inline TRgbImage RenderImage(const TPDFStream& stream) {
  const TPDFDictionary* d = stream.Dictionary();
  TRgbImage img;
  img.Width = Int(d, "Width");
  img.Height = Int(d, "Height");
  const int bits = Int(d, "BitsPerComponent");
  std::string data = stream.Decode();
  if (const auto* filters = As<TPDFArray>(d->Get("Filter"))) {
    const auto* last = As<TPDFName>(filters->Item(filters->Count() - 1));
    if (last != nullptr && last->Value == "RunLengthDecode") data = RunLengthDecode(data);
  }
  int colors = 1;
  std::string palette;
  std::string space;
  if (const auto* name = As<TPDFName>(d->Get("ColorSpace"))) {
    space = name->Value;
    colors = space == "DeviceRGB" ? 3 : space == "DeviceCMYK" ? 4 : 1;
  } else if (const auto* arr = As<TPDFArray>(d->Get("ColorSpace"))) {
    space = "Indexed";
    palette = As<TPDFString>(arr->Item(3))->Value;
  }
  bool invert = false;
  if (const auto* dec = As<TPDFArray>(d->Get("Decode"))) invert = As<TPDFNumeric>(dec->Item(0))->Value == 1;
  const size_t rowBytes = (static_cast<size_t>(img.Width) * colors * bits + 7) / 8;
  EXPECT_GE(data.size(), rowBytes * img.Height) << "image data shorter than its rows";
  data.resize(rowBytes * img.Height, '\0');
  auto sample = [&](const uint8_t* row, size_t index) -> uint32_t {
    if (bits == 16) return static_cast<uint32_t>(row[2 * index] << 8 | row[2 * index + 1]);
    if (bits == 8) return row[index];
    const size_t bit = index * bits;
    return (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
  };
  const uint32_t max = (1u << bits) - 1;
  auto scale = [&](uint32_t v) { return static_cast<uint16_t>(v * 65535u / max); };
  for (int32_t y = 0; y < img.Height; ++y) {
    const auto* row = reinterpret_cast<const uint8_t*>(data.data()) + y * rowBytes;
    for (int32_t x = 0; x < img.Width; ++x) {
      if (space == "Indexed") {
        const size_t i = sample(row, x) * 3;
        for (int c = 0; c < 3; ++c)
          img.Samples.push_back(i + c < palette.size() ? static_cast<uint16_t>(static_cast<uint8_t>(palette[i + c]) * 257) : 0);
      } else if (colors == 1) {
        uint16_t v = scale(sample(row, x));
        if (invert) v = static_cast<uint16_t>(65535 - v);
        for (int c = 0; c < 3; ++c) img.Samples.push_back(v);
      } else if (colors == 3) {
        for (int c = 0; c < 3; ++c) img.Samples.push_back(scale(sample(row, 3 * x + c)));
      } else {
        const uint32_t k = sample(row, 4 * x + 3);
        for (int c = 0; c < 3; ++c)
          img.Samples.push_back(scale(max - std::min(max, sample(row, 4 * x + c) + k)));
      }
    }
  }
  return img;
}

inline void ExpectSamePixels(const TRgbImage& expected, const TRgbImage& actual, int tolerance = 0) {
  ASSERT_EQ(expected.Width, actual.Width);
  ASSERT_EQ(expected.Height, actual.Height);
  ASSERT_EQ(expected.Samples.size(), actual.Samples.size());
  size_t bad = 0;
  size_t first = 0;
  for (size_t i = 0; i < expected.Samples.size(); ++i) {
    if (std::abs(int{expected.Samples[i]} - int{actual.Samples[i]}) > tolerance) {
      if (bad++ == 0) first = i;
    }
  }
  EXPECT_EQ(bad, 0u) << "first difference at pixel " << first / 3 << " (x " << (first / 3) % expected.Width
                     << ", y " << (first / 3) / expected.Width << "): expected " << expected.Samples[first]
                     << ", got " << actual.Samples[first];
}

}  // namespace lumipage::formatstest
