// TIFF pages that are decoded (uncompressed, LZW, PackBits) or stored with /RunLengthDecode.
#include "pdf/PDFImageTIFFPixels.h"

#include <gtest/gtest.h>

#include "pdf/PDFImageDecoded.h"
#include "pdf/PDFImageTIFF.h"
#include "pdf/PDFStructure.h"
#include "tests/pdf/PDFImageDecodedTestUtil.h"

namespace lumipage {
namespace {

using namespace formatstest;

struct Built {
  TPDFStructure Store;
  TBuiltImage Image;
  bool Ok = false;
  [[nodiscard]] std::string Entry(const char* key) const {
    const TPDFObject* v = Image.Stream->Dictionary()->Get(key);
    return v == nullptr ? "" : v->ToText();
  }
};

// The first page of an ImageMagick-made TIFF, built as the engine builds it.
void FromMagick(const std::string& args, Built& out, bool compress = false) {
  testutil::TempDir dir("tiffpx");
  const std::string file = dir.File("in.tif");
  Magick("rose: -resize '37x23!' " + args + " '" + file + "'");
  const std::string bytes = testutil::ReadFile(file);
  TPDFTIFF tiff;
  ASSERT_TRUE(tiff.Read(bytes));
  TTIFFPage page = tiff.Page(0);
  out.Ok = BuildTiffPixelsImage(out.Store, page, compress, out.Image);
  // The strips view the file's bytes: keep what the stream needs decoded now.
  if (out.Ok) (void)out.Image.Stream->RawData();
}

TEST(TiffPixelsTest, PackBitsStoredForTheReaderToExpand) {
  Built rgb;
  FromMagick("-compress rle -density 200 -units PixelsPerInch", rgb);
  ASSERT_TRUE(rgb.Ok);
  EXPECT_EQ(rgb.Entry("Filter"), "[ /FlateDecode /RunLengthDecode ]");
  EXPECT_EQ(rgb.Entry("ColorSpace"), "/DeviceRGB");
  EXPECT_EQ(rgb.Entry("BitsPerComponent"), "8");
  EXPECT_EQ(rgb.Image.Kind, EPDFImageKind::Tiff);
  EXPECT_EQ(rgb.Image.HorizontalResolution, 200);
  EXPECT_EQ(rgb.Image.ResolutionUnit, 2);

  // CMYK cannot be shown under /DeviceGray or /DeviceRGB: those strips are decoded instead.
  Built cmyk;
  FromMagick("-colorspace cmyk -compress rle", cmyk, true);
  ASSERT_TRUE(cmyk.Ok);
  EXPECT_EQ(cmyk.Entry("ColorSpace"), "/DeviceCMYK");
  EXPECT_EQ(cmyk.Entry("Filter"), "/FlateDecode");
}

TEST(TiffPixelsTest, UnpackBitsAndTheNoOperationHeader) {
  // Literal run of 2, header 128 (no operation in TIFF, end of data in PDF), repeat of 3.
  const std::string packed("\x01\xAA\xBB\x80\xFE\xCC", 6);
  EXPECT_EQ(UnpackBits(packed, 100), std::string("\xAA\xBB\xCC\xCC\xCC", 5));
  EXPECT_EQ(UnpackBits(packed, 3), std::string("\xAA\xBB\xCC", 3));
  EXPECT_EQ(UnpackBits(std::string("\x05\x01", 2), 100), std::string("\x01", 1));  // run cut off

  TTIFFPage page;
  page.Width = 5;
  page.Length = 1;
  page.Photometric = 1;
  page.Compression = ETIFFCompression::PackBits;
  page.Strips = {packed};
  TPDFStructure store;
  TBuiltImage built;
  ASSERT_TRUE(BuildTiffPixelsImage(store, page, false, built));
  EXPECT_EQ(formatstest::RunLengthDecode(built.Stream->Decode()), std::string("\xAA\xBB\xCC\xCC\xCC", 5));
}

TEST(TiffPixelsTest, ShortStripsFilledWithZeroRowsAndPredictorUndone) {
  TTIFFPage page;
  page.Width = 3;
  page.Length = 4;
  page.SamplesPerPixel = 1;
  page.Photometric = 1;
  page.RowsPerStrip = 2;
  page.Predictor = 2;
  page.Compression = ETIFFCompression::None;
  const std::string first("\x10\x01\x01\x20\x02\x02\x30", 7);  // two rows and one byte too many
  const std::string second("\x40\x01", 2);                     // one byte of two rows
  page.Strips = {first, second};
  TDecodedPixels pixels;
  ASSERT_TRUE(DecodeTiffPixels(page, pixels));
  const std::string rows(pixels.Rows.begin(), pixels.Rows.end());
  EXPECT_EQ(rows, std::string("\x10\x11\x12\x20\x22\x24\x40\x41\x41\x00\x00\x00", 12));

  // Missing strips leave their rows zero too.
  page.Strips = {first};
  ASSERT_TRUE(DecodeTiffPixels(page, pixels));
  EXPECT_EQ(pixels.Rows.size(), 12u);
  EXPECT_EQ(pixels.Rows[6], 0);
}

TEST(TiffPixelsTest, LayoutsThatCannotBeShownAreRefused) {
  TTIFFPage page;
  page.Width = 2;
  page.Length = 2;
  page.Strips = {std::string_view("\1\2\3\4\5\6\7\x08", 8)};
  TDecodedPixels pixels;
  for (const auto& [bits, samples, photometric] : std::vector<std::tuple<int, int, int>>{
           {16, 1, 1}, {4, 1, 1}, {8, 2, 1}, {8, 1, 3}, {8, 3, 6}}) {
    page.BitsPerSample = static_cast<uint32_t>(bits);
    page.SamplesPerPixel = static_cast<uint32_t>(samples);
    page.Photometric = static_cast<uint32_t>(photometric);
    EXPECT_FALSE(DecodeTiffPixels(page, pixels)) << bits << " " << samples << " " << photometric;
  }
  // Declared far larger than its strips could ever fill: refused before allocating.
  page.BitsPerSample = 8;
  page.SamplesPerPixel = 3;
  page.Photometric = 2;
  page.Width = 30000;
  page.Length = 30000;
  EXPECT_FALSE(DecodeTiffPixels(page, pixels));
}

TEST(TiffPixelsTest, OtherCompressionGivesAnEmptyImage) {
  Built zip;
  FromMagick("-compress zip", zip);
  ASSERT_TRUE(zip.Ok);
  EXPECT_EQ(zip.Image.Width, 0);
  EXPECT_EQ(zip.Image.Height, 0);
  EXPECT_EQ(zip.Image.Kind, EPDFImageKind::Tiff);
  EXPECT_EQ(zip.Entry("Width"), "0");
}

TEST(TiffPixelsTest, BrokenStripsNeverCrash) {
  testutil::TempDir dir("tiffpx");
  const std::string file = dir.File("in.tif");
  Magick("rose: -compress lzw -define tiff:predictor=2 -define tiff:rows-per-strip=7 '" + file + "'");
  const std::string bytes = testutil::ReadFile(file);
  TPDFTIFF tiff;
  ASSERT_TRUE(tiff.Read(bytes));
  TTIFFPage page = tiff.Page(0);
  // Every strip cut in half, then every strip garbage: rows come out, zero-filled as needed.
  std::vector<std::string> cut;
  for (const auto s : page.Strips) cut.emplace_back(s.substr(0, s.size() / 2));
  std::vector<std::string> garbage;
  for (const auto s : page.Strips) garbage.emplace_back(std::string(s.size(), '\xFF'));
  for (const auto* set : {&cut, &garbage}) {
    page.Strips.assign(set->begin(), set->end());
    TDecodedPixels pixels;
    ASSERT_TRUE(DecodeTiffPixels(page, pixels));
    EXPECT_EQ(pixels.Rows.size(), 70u * 46u * 3u);
  }
}

}  // namespace
}  // namespace lumipage
