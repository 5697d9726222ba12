#include "pdf/PDFImageGIFDecoder.h"

#include <gtest/gtest.h>

#include "pdf/PDFStructure.h"
#include "tests/pdf/PDFImageDecodedTestUtil.h"

namespace lumipage {
namespace {

using namespace formatstest;

size_t GlobalTableBytes(const std::string& gif) {
  const auto flags = static_cast<uint8_t>(gif[10]);
  return (flags & 0x80) != 0 ? 3 * (size_t{2} << (flags & 7)) : 0;
}

// Offset of the first image descriptor (its "," byte) of a GIF made by ImageMagick.
size_t FirstImage(const std::string& gif) {
  size_t pos = 13 + GlobalTableBytes(gif);
  while (pos < gif.size() && gif[pos] == '!') {
    pos += 2;
    while (pos < gif.size() && gif[pos] != 0) pos += static_cast<uint8_t>(gif[pos]) + 1;
    ++pos;
  }
  return pos;
}

std::string MakeGif(const testutil::TempDir& dir, const std::string& args, const std::string& name,
                    const std::string& prefix = "") {
  const std::string file = dir.File(name);
  Magick("rose: -resize '37x23!' " + args + " '" + prefix + file + "'");
  return testutil::ReadFile(file);
}

TRgbImage Build(const std::string& gif, bool expectFilter = true) {
  TPDFStructure store;
  TBuiltImage built;
  EXPECT_TRUE(BuildGifImage(store, gif, built));
  if (built.Stream == nullptr) return {};
  EXPECT_EQ(built.Kind, EPDFImageKind::Pixels);
  // Always compressed, whatever the document's image setting says.
  if (expectFilter) {
    EXPECT_EQ(built.Stream->Dictionary()->GetText("Filter"), "FlateDecode");
  }
  return RenderImage(*built.Stream);
}

struct GifCase {
  const char* Name;
  const char* Args;
  const char* Prefix;
  bool Interlaced;
};

class GifMagickTest : public ::testing::TestWithParam<GifCase> {};

TEST_P(GifMagickTest, PixelsMatchImageMagick) {
  const GifCase c = GetParam();
  testutil::TempDir dir("giffmt");
  const std::string gif = MakeGif(dir, c.Args, "in.gif", c.Prefix);
  ASSERT_EQ(gif.substr(0, 6), std::string_view(c.Prefix).empty() ? "GIF89a" : "GIF87a");
  ASSERT_EQ((static_cast<uint8_t>(gif[FirstImage(gif) + 9]) & 0x40) != 0, c.Interlaced) << "fixture";
  formatstest::ExpectSamePixels(MagickPixels(dir.File("in.gif"), dir.File("o.rgb")), Build(gif));
}

INSTANTIATE_TEST_SUITE_P(Formats, GifMagickTest,
                         ::testing::Values(GifCase{"Gif89a", "-interlace none", "", false},
                                           GifCase{"Gif89aInterlaced", "-interlace GIF", "", true},
                                           GifCase{"Gif87a", "-interlace none", "GIF87:", false},
                                           GifCase{"Gif87aInterlaced", "-interlace GIF", "GIF87:", true},
                                           GifCase{"TwoColours", "-colors 2 -interlace none", "", false}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(GifDecoderTest, LocalColourTableOnly) {
  testutil::TempDir dir("giffmt");
  for (const char* interlace : {"none", "GIF"}) {
    const std::string gif = MakeGif(dir, std::string("-interlace ") + interlace, "in.gif");
    const size_t tableBytes = GlobalTableBytes(gif);
    ASSERT_GT(tableBytes, 0u);
    const std::string table = gif.substr(13, tableBytes);
    const auto sizeBits = static_cast<uint8_t>(gif[10] & 7);
    // The same file with its global table moved into the image descriptor.
    std::string local = gif.substr(0, 13) + gif.substr(13 + tableBytes);
    local[10] = static_cast<char>(local[10] & 0x7F);
    const size_t image = FirstImage(local);
    local[image + 9] = static_cast<char>(local[image + 9] | 0x80 | sizeBits);
    local.insert(image + 10, table);
    TPDFGIFDecoder decoder;
    ASSERT_TRUE(decoder.Read(local));
    ASSERT_FALSE(decoder.HasGlobalColors);
    ASSERT_EQ(decoder.Images.size(), 1u);
    EXPECT_FALSE(decoder.Images[0].LocalColors.empty());
    formatstest::ExpectSamePixels(MagickPixels(dir.File("in.gif"), dir.File("o.rgb")), Build(local));
  }
}

TEST(GifDecoderTest, InterlacedRowsTakeTheirPlaces) {
  // 1 x 10 image, one row per palette entry in stored order: with interlace the stored rows are
  // picture rows 0, 8, 4, 2, 6, 1, 3, 5, 7, 9.
  testutil::TempDir dir("giffmt");
  std::string args = "-size 1x10 xc:black";
  for (int r = 0; r < 10; ++r) args += " -fill 'rgb(" + std::to_string(r * 20) + ",0,0)' -draw 'point 0," + std::to_string(r) + "'";
  Magick(args + " -interlace GIF '" + dir.File("rows.gif") + "'");
  const TRgbImage img = Build(testutil::ReadFile(dir.File("rows.gif")));
  ASSERT_EQ(img.Height, 10);
  for (int r = 0; r < 10; ++r) EXPECT_EQ(img.Samples[3 * r], r * 20 * 257) << "row " << r;
}

TEST(GifDecoderTest, ImagesDrawnInOrderAtTheirPositionsAndClipped) {
  testutil::TempDir dir("giffmt");
  const std::string gif = MakeGif(dir, "-interlace none", "in.gif");
  const TRgbImage whole = MagickPixels(dir.File("in.gif"), dir.File("o.rgb"));
  // Move the image 30 columns right: only its first 7 columns stay on the 37-wide screen, the
  // rest of the screen shows the background colour.
  std::string moved = gif;
  const size_t image = FirstImage(moved);
  moved[image + 1] = 30;
  moved[image + 2] = 0;
  TPDFGIFDecoder decoder;
  ASSERT_TRUE(decoder.Read(moved));
  const uint32_t bg = decoder.GlobalColors.at(decoder.BackgroundIndex);
  const TRgbImage img = Build(moved);
  ASSERT_EQ(img.Width, 37);
  for (int y = 0; y < 23; ++y) {
    for (int x = 0; x < 37; ++x) {
      for (int c = 0; c < 3; ++c) {
        const size_t at = (static_cast<size_t>(y) * 37 + x) * 3 + c;
        const uint16_t expected = x < 30 ? static_cast<uint16_t>((bg >> (16 - 8 * c) & 0xFF) * 257)
                                         : whole.Samples[(static_cast<size_t>(y) * 37 + (x - 30)) * 3 + c];
        ASSERT_EQ(img.Samples[at], expected) << x << "," << y;
      }
    }
  }
  // A rectangle entirely off the screen draws nothing and fails nothing.
  moved[image + 3] = 100;
  EXPECT_EQ(Build(moved).Width, 37);
}

TEST(GifDecoderTest, SecondFrameDrawnOverTheFirst) {
  testutil::TempDir dir("giffmt");
  Magick("-size 20x10 xc:red \\( -size 5x4 xc:blue -set page +3+2 \\) -set dispose none '" + dir.File("two.gif") + "'");
  const TRgbImage img = Build(testutil::ReadFile(dir.File("two.gif")));
  ASSERT_EQ(img.Width, 20);
  auto pixel = [&](int x, int y) {
    const size_t at = (static_cast<size_t>(y) * 20 + x) * 3;
    return std::array<int, 3>{img.Samples[at] / 257, img.Samples[at + 1] / 257, img.Samples[at + 2] / 257};
  };
  EXPECT_EQ(pixel(0, 0), (std::array<int, 3>{255, 0, 0}));
  EXPECT_EQ(pixel(3, 2), (std::array<int, 3>{0, 0, 255}));
  EXPECT_EQ(pixel(7, 5), (std::array<int, 3>{0, 0, 255}));
  EXPECT_EQ(pixel(8, 5), (std::array<int, 3>{255, 0, 0}));
  EXPECT_EQ(pixel(7, 6), (std::array<int, 3>{255, 0, 0}));
}

TEST(GifDecoderTest, BrokenFilesNeverCrash) {
  testutil::TempDir dir("giffmt");
  const std::string gif = MakeGif(dir, "-interlace none", "in.gif");
  const size_t image = FirstImage(gif);
  // LZW codes beyond the table: the data sub-blocks overwritten with high bits.
  std::string garbage = gif;
  for (size_t i = image + 12; i + 2 < garbage.size(); ++i)
    if (static_cast<uint8_t>(garbage[i - 1]) != 0) garbage[i] = static_cast<char>(0xFF - (i & 0x0F));
  TPDFStructure store;
  TBuiltImage built;
  EXPECT_TRUE(BuildGifImage(store, garbage, built));
  // Cut anywhere: a whole screen descriptor with an image gives a picture, less gives none.
  for (size_t n = 0; n < gif.size(); n += 7) {
    TBuiltImage part;
    const bool ok = BuildGifImage(store, gif.substr(0, n), part);
    if (n <= image + 10) {
      EXPECT_FALSE(ok) << n;
    }
  }
  // Minimum code sizes outside 2 to 8 leave the image background.
  std::string wide = gif;
  wide[image + 10] = 12;
  EXPECT_TRUE(BuildGifImage(store, wide, built));
}

TEST(GifDecoderTest, UnusableFilesAreRefused) {
  const std::string screen = std::string("GIF89a") + std::string("\x10\x00\x10\x00\x00\x00\x00", 7);
  const std::string tinyImage = std::string(",\0\0\0\0\1\0\1\0\0\2\2\x4c\x01\0;", 16);
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"not a GIF", "GIF90a" + screen.substr(6) + tinyImage},
      {"no image", screen + ";"},
      {"zero screen", std::string("GIF89a") + std::string(7, '\0') + tinyImage},
      // 65535 x 65535 x 3 bytes declared by 30 bytes: refused before allocating.
      {"huge screen", std::string("GIF89a\xff\xff\xff\xff\0\0\0", 13) + tinyImage},
  };
  for (const auto& [name, gif] : cases) {
    TPDFStructure store;
    TBuiltImage built;
    EXPECT_FALSE(BuildGifImage(store, gif, built)) << name;
  }
  TPDFStructure store;
  TBuiltImage built;
  EXPECT_TRUE(BuildGifImage(store, screen + tinyImage, built));
}

}  // namespace
}  // namespace lumipage
