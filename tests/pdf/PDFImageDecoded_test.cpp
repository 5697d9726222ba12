// Decoded image formats end to end: ImageMagick makes each fixture, the engine places it on a
// page of the image's size, qpdf checks the file and pdftoppm's rendering is compared with
// ImageMagick's reading of the source. Also the encoding rules of the decoded-pixels path and
// the TIFF page rules.
#include "pdf/PDFImageDecoded.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>

#include "pdf/PDFImageDecodedPixels.h"
#include "pdf/PDFImageMetafile.h"
#include "pdf/PDFImageTIFF.h"
#include "pdf/PDFImageTIFFPixels.h"
#include "pdf/PDFPageImages.h"
#include "pdf/PDFPageTree.h"
#include "pdf/PDFStructure.h"
#include "pdf/Vellox.h"
#include "tests/pdf/PDFImageDecodedTestUtil.h"

namespace lumipage {
namespace {

using namespace formatstest;

// The image in bytes added to the selected document the way AddImageFromFile adds a decoded
// format; nullptr when the build fails.
TPDFImage* AddDecoded(TVellox& pdf, const std::string& bytes, int page = 1) {
  TPDFPageTree& pages = pdf.Pages();
  auto image = std::make_unique<TPDFImage>(pages.Store());
  image->ResourceName = TPDFImage::MakeResourceName(pages.NextImageNumber(), 1);
  image->CompressPixels = pages.CompressImages;
  const EImageFileType type = TPDFImage::DetectFileType(bytes);
  TPDFTIFF tiff;
  const bool isTiff = type == EImageFileType::Tiff;
  if (isTiff && !tiff.Read(bytes)) return nullptr;
  if (!BuildImageByDecoding(*image, pages, type, bytes, isTiff ? &tiff : nullptr, page)) return nullptr;
  pages.Images().push_back(std::move(image));
  return pages.Images().back().get();
}

// A rendering at kRenderScale device pixels per image pixel, read back one sample from the
// centre of each block (a renderer smooths at block edges, never in the middle).
constexpr int kRenderScale = 5;

TRgbImage ReadPpmSampled(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::string magic;
  int max = 0;
  int w = 0;
  int h = 0;
  in >> magic >> w >> h >> max;
  in.get();
  std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  TRgbImage img;
  img.Width = w / kRenderScale;
  img.Height = h / kRenderScale;
  for (int y = 0; y < img.Height; ++y)
    for (int x = 0; x < img.Width; ++x)
      for (int c = 0; c < 3; ++c) {
        const size_t at = (static_cast<size_t>(y * kRenderScale + kRenderScale / 2) * w + x * kRenderScale +
                           kRenderScale / 2) * 3 + c;
        img.Samples.push_back(static_cast<uint16_t>(static_cast<uint8_t>(raw.at(at)) * 257));
      }
  return img;
}

TRgbImage To8Bit(TRgbImage img) {
  for (auto& s : img.Samples) s = static_cast<uint16_t>((s + 128) / 257 * 257);
  return img;
}

// ---- End to end through a saved file ----------------------------------------------------------

struct EndToEndCase {
  const char* Name;
  const char* Make;  // convert arguments before the output name, applied to a 37 x 23 picture
  const char* Prefix;
  const char* Extension;
  const char* ColorSpace;  // expected start of the /ColorSpace text
  bool ComparePixels;      // false where the reader's own colour conversion decides (CMYK)
  int Tolerance = 0;       // 16-bit samples: the renderer and ImageMagick round to 8 bits apart
};

class DecodedEndToEndTest : public ::testing::TestWithParam<EndToEndCase> {};

TEST_P(DecodedEndToEndTest, PlacedPageMatchesTheSource) {
  const EndToEndCase& c = GetParam();
  testutil::TempDir dir("decfmt");
  const std::string src = dir.File(std::string("in.") + c.Extension);
  Magick(std::string("rose: -resize '37x23!' ") + c.Make + " '" + c.Prefix + src + "'");
  const std::string bytes = testutil::ReadFile(src);

  TVellox pdf;
  (void)pdf.CompressImages(1);
  (void)pdf.SetMeasurementUnits(0);
  (void)pdf.SetOrigin(1);
  ASSERT_EQ(pdf.SetPageDimensions(37, 23), 1);
  TPDFImage* image = AddDecoded(pdf, bytes);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->Width, 37);
  EXPECT_EQ(image->Height, 23);
  EXPECT_TRUE(image->Dictionary->Get("ColorSpace")->ToText().starts_with(c.ColorSpace))
      << image->Dictionary->Get("ColorSpace")->ToText();
  ASSERT_EQ(FitImage(pdf.Pages(), *image, 0, 0, 37, 23, 0, 0, 0), 1);
  (void)pdf.CompressContent();
  const std::string out = dir.File("out.pdf");
  ASSERT_EQ(pdf.SaveToFile(out), 1);

  const auto check = testutil::RunCommand("qpdf --check '" + out + "'");
  EXPECT_EQ(check.status, 0) << check.output;
  if (!c.ComparePixels) return;
  const auto render = testutil::RunCommand("pdftoppm -r " + std::to_string(72 * kRenderScale) + " -singlefile '" + out + "' '" + dir.File("page") + "'");
  ASSERT_EQ(render.status, 0) << render.output;
  formatstest::ExpectSamePixels(To8Bit(MagickPixels(src, dir.File("o.rgb"))), ReadPpmSampled(dir.File("page.ppm")),
                                c.Tolerance);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, DecodedEndToEndTest,
    ::testing::Values(
        EndToEndCase{"PngGray1", "-colorspace gray -threshold 50% -define png:color-type=0 -define png:bit-depth=1", "",
                     "png", "/DeviceGray", true},
        EndToEndCase{"PngGray8", "-colorspace gray -define png:color-type=0", "", "png", "/DeviceGray", true},
        EndToEndCase{"PngGray16", "-colorspace gray -depth 16 -define png:color-type=0 -define png:bit-depth=16", "",
                     "png", "/DeviceGray", true, 257},
        EndToEndCase{"PngRgb8", "-define png:color-type=2", "", "png", "/DeviceRGB", true},
        EndToEndCase{"PngRgb16Interlaced", "-depth 16 -define png:color-type=2 -interlace PNG", "", "png",
                     "/DeviceRGB", true, 257},
        EndToEndCase{"PngPalette", "-colors 2 -define png:format=png8", "", "png",
                     "[ /Indexed /DeviceRGB 1 <", true},
        EndToEndCase{"PngGrayAlpha", "-colorspace gray -alpha set -channel A -fx 'i/w' +channel -define png:color-type=4",
                     "", "png", "/DeviceGray", true},
        EndToEndCase{"PngRgbaInterlaced", "-alpha set -channel A -fx 'j/h' +channel -define png:format=png32 -interlace PNG",
                     "", "png", "/DeviceRGB", true},
        EndToEndCase{"Gif89a", "", "", "gif", "/DeviceRGB", true},
        EndToEndCase{"Gif87aInterlaced", "-interlace GIF", "GIF87:", "gif", "/DeviceRGB", true},
        EndToEndCase{"Bmp1", "-monochrome -type bilevel", "BMP3:", "bmp", "/DeviceGray", true},
        EndToEndCase{"Bmp4", "-colors 12 -type palette", "BMP3:", "bmp", "/DeviceRGB", true},
        EndToEndCase{"Bmp8", "-colors 200 -type palette", "BMP3:", "bmp", "/DeviceRGB", true},
        EndToEndCase{"Bmp24", "-type truecolor", "BMP3:", "bmp", "/DeviceRGB", true},
        EndToEndCase{"Bmp32", "-alpha set -channel A -fx 0.5 +channel -type truecolormatte", "BMP:", "bmp",
                     "/DeviceRGB", true},
        EndToEndCase{"TiffNoneRgb", "-compress none", "", "tif", "/DeviceRGB", true},
        EndToEndCase{"TiffNoneGray", "-colorspace gray -compress none", "", "tif", "/DeviceGray", true},
        EndToEndCase{"TiffNoneBilevel", "-type bilevel -compress none", "", "tif", "/DeviceGray", true},
        EndToEndCase{"TiffLzwPredictor", "-compress lzw -define tiff:predictor=2 -define tiff:rows-per-strip=5", "",
                     "tif", "/DeviceRGB", true},
        EndToEndCase{"TiffLzwGrayPredictor",
                     "-colorspace gray -compress lzw -define tiff:predictor=2 -define tiff:rows-per-strip=3", "",
                     "tif", "/DeviceGray", true},
        EndToEndCase{"TiffLzwBilevel", "-type bilevel -compress lzw", "", "tif", "/DeviceGray", true},
        EndToEndCase{"TiffLzwCmyk", "-colorspace cmyk -compress lzw", "", "tif", "/DeviceCMYK", false},
        EndToEndCase{"TiffPackBitsRgb", "-compress rle -define tiff:rows-per-strip=4", "", "tif", "/DeviceRGB", true},
        EndToEndCase{"TiffPackBitsGray", "-colorspace gray -compress rle", "", "tif", "/DeviceGray", true},
        EndToEndCase{"TiffPackBitsBilevel", "-type bilevel -compress rle", "", "tif", "/DeviceGray", true}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- Through the facade's own file-type detection -------------------------------------------------

TEST(DecodedFacadeTest, AddImageFromFileTakesEveryDecodedType) {
  testutil::TempDir dir("decfmt");
  struct Case {
    const char* File;
    const char* Prefix;
    const char* Options;
    EPDFImageKind Kind;
    const char* FilterWithoutCompression;  // CompressImages left at 0
  };
  const std::vector<Case> cases = {
      {"a.png", "", "", EPDFImageKind::Png, "/FlateDecode"},
      {"a.gif", "", "", EPDFImageKind::Pixels, "/FlateDecode"},  // GIF is always compressed
      {"a.bmp", "BMP3:", "", EPDFImageKind::Pixels, ""},
      {"a.tif", "", "-compress lzw", EPDFImageKind::Tiff, ""},
  };
  for (const Case& c : cases) {
    Magick(std::string("rose: ") + c.Options + " '" + c.Prefix + dir.File(c.File) + "'");
    TVellox pdf;
    TPDFImage* image = pdf.AddImageFromFile(dir.File(c.File), 1);
    ASSERT_NE(image, nullptr) << c.File;
    EXPECT_EQ(pdf.SelectedImage(), image);
    EXPECT_EQ(image->Kind, c.Kind) << c.File;
    EXPECT_EQ(image->Width, 70);
    EXPECT_EQ(image->Height, 46);
    const TPDFObject* filter = image->Dictionary->Get("Filter");
    EXPECT_EQ(filter == nullptr ? "" : filter->ToText(), c.FilterWithoutCompression) << c.File;
  }
  // A broken file of a detected type gives none and leaves the selection alone.
  TVellox pdf;
  testutil::WriteFile(dir.File("bad.png"), std::string("\x89PNG\r\n\x1a\n", 8) + "garbage");
  EXPECT_EQ(pdf.AddImageFromFile(dir.File("bad.png"), 1), nullptr);
  EXPECT_EQ(pdf.SelectedImage(), nullptr);
}

}  // namespace
}  // namespace lumipage
