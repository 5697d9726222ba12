#include "pdf/PDFImagePNGReader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <tuple>

#include "pdf/PDFFilters.h"
#include "pdf/PDFStructure.h"
#include "tests/pdf/PDFImageDecodedTestUtil.h"

namespace lumipage {
namespace {

using namespace formatstest;

// ---- A small PNG writer: every row gets the filter type given for it -----------------------

std::string Be32(uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}

std::string Chunk(const std::string& type, const std::string& data) {
  return Be32(static_cast<uint32_t>(data.size())) + type + data + "CRC!";  // CRCs are not checked
}

std::string Header(uint32_t w, uint32_t h, int depth, int colorType, int interlace = 0) {
  std::string d = Be32(w) + Be32(h);
  d += static_cast<char>(depth);
  d += static_cast<char>(colorType);
  d += '\0';
  d += '\0';
  d += static_cast<char>(interlace);
  return Chunk("IHDR", d);
}

const std::string kSignature{"\x89PNG\r\n\x1a\n", 8};

int PaethOf(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// Filters raw rows (stored layout, alpha included) with the PNG standard's rules; bpp is the
// stored pixel size in bytes (at least 1).
std::string FilterRows(const std::string& raw, size_t rowBytes, size_t bpp, const std::vector<int>& types) {
  std::string out;
  const size_t rows = raw.size() / rowBytes;
  for (size_t y = 0; y < rows; ++y) {
    const int type = types[y % types.size()];
    out += static_cast<char>(type);
    for (size_t i = 0; i < rowBytes; ++i) {
      auto at = [&](size_t yy, size_t ii) { return static_cast<int>(static_cast<uint8_t>(raw[yy * rowBytes + ii])); };
      const int x = at(y, i);
      const int a = i >= bpp ? at(y, i - bpp) : 0;
      const int b = y > 0 ? at(y - 1, i) : 0;
      const int c = y > 0 && i >= bpp ? at(y - 1, i - bpp) : 0;
      int v = x;
      if (type == 1) v = x - a;
      if (type == 2) v = x - b;
      if (type == 3) v = x - (a + b) / 2;
      if (type == 4) v = x - PaethOf(a, b, c);
      out += static_cast<char>(static_cast<uint8_t>(v));
    }
  }
  return out;
}

std::string Pattern(size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 37 + seed * 11 + (i * i) % 251) & 0xFF);
  return s;
}

// ---- Un-filtering against the standard, every filter type and pixel size ---------------------

struct FilterCase {
  int ColorType;
  int Depth;
  int StoredChannels;
  int Colors;
};

class PngFilterTest : public ::testing::TestWithParam<FilterCase> {};

TEST_P(PngFilterTest, EveryFilterTypeUndoneAndAlphaRemoved) {
  const FilterCase c = GetParam();
  const uint32_t w = 13, h = 10;
  const size_t storedRow = (w * c.StoredChannels * c.Depth + 7) / 8;
  const size_t bpp = std::max<size_t>(1, c.StoredChannels * c.Depth / 8);
  const std::string raw = Pattern(storedRow * h, static_cast<unsigned>(c.ColorType * 17 + c.Depth));
  std::string png = kSignature + Header(w, h, c.Depth, c.ColorType);
  if (c.ColorType == 3) png += Chunk("PLTE", Pattern(3 * 256, 5));
  const std::string idat = FlateEncode(FilterRows(raw, storedRow, bpp, {0, 1, 2, 3, 4, 4, 3, 2, 1, 0}));
  // Two IDAT chunks: the data is their concatenation.
  png += Chunk("IDAT", idat.substr(0, idat.size() / 2)) + Chunk("IDAT", idat.substr(idat.size() / 2));
  png += Chunk("IEND", "");

  // Expected rows: the raw rows with the alpha samples taken out.
  std::string expected;
  const size_t sample = c.Depth / 8;
  for (size_t y = 0; y < h; ++y) {
    if (c.StoredChannels == c.Colors) {
      expected.append(raw, y * storedRow, storedRow);
      continue;
    }
    for (size_t x = 0; x < w; ++x)
      expected.append(raw, y * storedRow + x * c.StoredChannels * sample, c.Colors * sample);
  }
  TPNGReader reader;
  ASSERT_TRUE(reader.Read(png));
  EXPECT_EQ(reader.DecodeRows(), expected);

  TPDFStructure store;
  TBuiltImage built;
  ASSERT_TRUE(BuildPngImage(store, png, built));
  EXPECT_EQ(built.Stream->Decode(), expected);
  EXPECT_EQ(built.Stream->Dictionary()->GetInteger("BitsPerComponent", 0), c.Depth);
  EXPECT_EQ(built.Stream->Dictionary()->GetText("Filter"), "FlateDecode");
  EXPECT_EQ(built.Kind, EPDFImageKind::Png);
}

INSTANTIATE_TEST_SUITE_P(Formats, PngFilterTest,
                         ::testing::Values(FilterCase{0, 1, 1, 1}, FilterCase{0, 4, 1, 1}, FilterCase{0, 8, 1, 1},
                                           FilterCase{0, 16, 1, 1}, FilterCase{2, 8, 3, 3}, FilterCase{2, 16, 3, 3},
                                           FilterCase{3, 2, 1, 1}, FilterCase{3, 8, 1, 1}, FilterCase{4, 8, 2, 1},
                                           FilterCase{4, 16, 2, 1}, FilterCase{6, 8, 4, 3}, FilterCase{6, 16, 4, 3}));

// ---- ImageMagick fixtures: every colour type and depth, plain and interlaced -------------------

struct MagickCase {
  const char* Name;
  const char* Args;  // applied to a 37 x 23 picture
  int ColorType;
  int Depth;
};

class PngMagickTest : public ::testing::TestWithParam<std::tuple<MagickCase, bool>> {};

TEST_P(PngMagickTest, PixelsMatchImageMagick) {
  const auto& [c, interlaced] = GetParam();
  testutil::TempDir dir("pngfmt");
  const std::string file = dir.File("in.png");
  Magick(std::string("rose: -resize '37x23!' ") + c.Args + (interlaced ? " -interlace PNG" : " -interlace none") +
         " '" + file + "'");
  const std::string bytes = testutil::ReadFile(file);
  TPNGReader reader;
  ASSERT_TRUE(reader.Read(bytes));
  ASSERT_EQ(reader.ColorType, c.ColorType) << "fixture not made as intended";
  ASSERT_EQ(reader.BitDepth, c.Depth) << "fixture not made as intended";
  ASSERT_EQ(reader.Interlace, interlaced ? 1 : 0);

  TPDFStructure store;
  TBuiltImage built;
  ASSERT_TRUE(BuildPngImage(store, bytes, built));
  formatstest::ExpectSamePixels(MagickPixels(file, dir.File("oracle.rgb")), RenderImage(*built.Stream));
}

INSTANTIATE_TEST_SUITE_P(
    Formats, PngMagickTest,
    ::testing::Combine(
        ::testing::Values(
            MagickCase{"Gray1", "-colorspace gray -threshold 50% -define png:color-type=0 -define png:bit-depth=1", 0, 1},
            MagickCase{"Gray2", "-colorspace gray -posterize 4 -define png:color-type=0 -define png:bit-depth=2", 0, 2},
            MagickCase{"Gray4", "-colorspace gray -posterize 16 -define png:color-type=0 -define png:bit-depth=4", 0, 4},
            MagickCase{"Gray8", "-colorspace gray -define png:color-type=0 -define png:bit-depth=8", 0, 8},
            MagickCase{"Gray16", "-colorspace gray -depth 16 -define png:color-type=0 -define png:bit-depth=16", 0, 16},
            MagickCase{"Rgb8", "-define png:color-type=2 -define png:bit-depth=8", 2, 8},
            MagickCase{"Rgb16", "-depth 16 -define png:color-type=2 -define png:bit-depth=16", 2, 16},
            MagickCase{"Palette4", "-colors 10 -define png:color-type=3", 3, 4},
            MagickCase{"Palette8", "-colors 200 -define png:format=png8", 3, 8},
            MagickCase{"GrayAlpha8",
                       "-colorspace gray -alpha set -channel A -fx 'i/w' +channel -define png:color-type=4 "
                       "-define png:bit-depth=8",
                       4, 8},
            MagickCase{"GrayAlpha16",
                       "-colorspace gray -depth 16 -alpha set -channel A -fx 'i/w' +channel -define png:color-type=4 "
                       "-define png:bit-depth=16",
                       4, 16},
            MagickCase{"Rgba8", "-alpha set -channel A -fx 'j/h' +channel -define png:format=png32", 6, 8},
            MagickCase{"Rgba16", "-depth 16 -alpha set -channel A -fx 'j/h' +channel -define png:format=png64", 6, 16}),
        ::testing::Bool()),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).Name) + (std::get<1>(info.param) ? "Interlaced" : "");
    });

// ---- Resolution, colour space text and refusals ------------------------------------------------

std::string Tiny(const std::string& extra) {
  return kSignature + Header(2, 1, 8, 0) + extra + Chunk("IDAT", FlateEncode(std::string("\0\x10\x20", 3))) +
         Chunk("IEND", "");
}

TEST(PngReaderTest, ResolutionFromPhysTruncatesAndKeepsAspect) {
  struct Case {
    std::string Phys;
    int32_t H, V;
  };
  const std::vector<Case> cases = {
      {"", 96, 96},
      {Chunk("pHYs", Be32(11811) + Be32(11811) + std::string(1, '\1')), 299, 299},  // 300 dpi rounded
      {Chunk("pHYs", Be32(3937) + Be32(7874) + std::string(1, '\1')), 99, 199},
      {Chunk("pHYs", Be32(2) + Be32(3) + std::string(1, '\0')), 96, 144},  // aspect ratio only
      {Chunk("pHYs", Be32(0) + Be32(3) + std::string(1, '\0')), 96, 96},   // no division by zero
  };
  for (const Case& c : cases) {
    TPDFStructure store;
    TBuiltImage built;
    ASSERT_TRUE(BuildPngImage(store, Tiny(c.Phys), built));
    EXPECT_EQ(built.HorizontalResolution, c.H);
    EXPECT_EQ(built.VerticalResolution, c.V);
    EXPECT_EQ(built.ResolutionUnit, 2);
  }
}

TEST(PngReaderTest, MagickDensityOf300GivesTruncated299) {
  testutil::TempDir dir("pngfmt");
  Magick("rose: -units PixelsPerInch -density 300 '" + dir.File("d.png") + "'");
  TPDFStructure store;
  TBuiltImage built;
  ASSERT_TRUE(BuildPngImage(store, testutil::ReadFile(dir.File("d.png")), built));
  EXPECT_EQ(built.HorizontalResolution, 299);
  EXPECT_EQ(built.VerticalResolution, 299);
}

TEST(PngReaderTest, PaletteBecomesIndexedWithUppercaseHex) {
  const std::string png = kSignature + Header(2, 1, 8, 3) + Chunk("PLTE", std::string("\x0a\xbc\xff\x00\x01\x02", 6)) +
                          Chunk("IDAT", FlateEncode(std::string("\0\0\1", 3))) + Chunk("IEND", "");
  TPDFStructure store;
  TBuiltImage built;
  ASSERT_TRUE(BuildPngImage(store, png, built));
  EXPECT_EQ(built.Stream->Dictionary()->Get("ColorSpace")->ToText(), "[ /Indexed /DeviceRGB 1 <0ABCFF000102> ]");
}

TEST(PngReaderTest, TruncatedOrShortDataGivesZeroRowsWithoutFailing) {
  const std::string raw(1 + 4 * 3, '\x7f');  // one of three rows of width 4, grey
  std::string rows = std::string(1, '\0') + std::string(4, '\x7f');
  const std::string full = kSignature + Header(4, 3, 8, 0) + Chunk("IDAT", FlateEncode(rows)) + Chunk("IEND", "");
  TPNGReader reader;
  ASSERT_TRUE(reader.Read(full));
  EXPECT_EQ(reader.DecodeRows(), std::string(4, '\x7f') + std::string(8, '\0'));

  // A chunk cut off by the end of the file ends the reading; what came before still counts.
  const std::string cut = full.substr(0, full.size() - 20);
  TPNGReader partial;
  ASSERT_TRUE(partial.Read(cut));
  EXPECT_EQ(partial.Width, 4u);
  TPDFStructure store;
  TBuiltImage built;
  EXPECT_TRUE(BuildPngImage(store, cut, built));
}

TEST(PngReaderTest, UnusableFilesAreRefused) {
  const std::string data = Chunk("IDAT", FlateEncode(std::string(8, '\0'))) + Chunk("IEND", "");
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"no signature", "GIF89a" + data},
      {"zero width", kSignature + Header(0, 4, 8, 0) + data},
      {"zero height", kSignature + Header(4, 0, 8, 0) + data},
      {"no header", kSignature + data},
      {"bad depth", kSignature + Header(4, 1, 3, 0) + data},
      {"16-bit palette", kSignature + Header(4, 1, 16, 3) + Chunk("PLTE", std::string(6, '\1')) + data},
      {"bad colour type", kSignature + Header(4, 1, 8, 5) + data},
      {"palette without PLTE", kSignature + Header(4, 1, 8, 3) + data},
      // 4 GiB of pixels declared by a few bytes: refused before anything is allocated.
      {"huge", kSignature + Header(65535, 65535, 16, 6) + data},
      {"huge for its data", kSignature + Header(30000, 30000, 8, 0) + data},
  };
  for (const auto& [name, png] : cases) {
    TPDFStructure store;
    TBuiltImage built;
    EXPECT_FALSE(BuildPngImage(store, png, built)) << name;
  }
}

}  // namespace
}  // namespace lumipage
