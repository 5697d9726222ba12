#include "imaging/BitmapGraphic.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ImagingTestUtil.h"
#include "imaging/BmpReader.h"
#include "imaging/FileStream.h"
#include "imaging/MemoryStream.h"
#include "tests/support/RunCommand.h"

namespace lumipage {
namespace {

using testing::FillPage;
using testing::PageKind;
using testing::PixelBytes;

std::uint32_t U32At(const std::vector<std::uint8_t>& b, std::size_t at) {
  std::uint32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

struct SizeCase {
  TImageKind kind;
  std::int32_t width;
  std::int32_t height;
  std::uint32_t offset;
  std::uint32_t fileSize;
};
class BmpSizes : public ::testing::TestWithParam<SizeCase> {};

TEST_P(BmpSizes, HeaderOffsetsAndFileSize) {
  const SizeCase c = GetParam();
  TBitmapGraphic image;
  image.NewImage(c.width, c.height, c.kind, nullptr, 300, 300);
  TMemoryStream out;
  image.SaveToStream(out);
  const auto& b = out.Bytes();
  ASSERT_EQ(b.size(), c.fileSize);
  EXPECT_EQ(b[0], 'B');
  EXPECT_EQ(b[1], 'M');
  EXPECT_EQ(U32At(b, 2), c.fileSize);
  EXPECT_EQ(U32At(b, 6), 0u);
  EXPECT_EQ(U32At(b, 10), c.offset);
  EXPECT_EQ(U32At(b, 14), 40u);
  EXPECT_EQ(U32At(b, 18), static_cast<std::uint32_t>(c.width));
  EXPECT_EQ(U32At(b, 22), static_cast<std::uint32_t>(c.height));
  EXPECT_EQ(U32At(b, 30), 0u);                            // compression
  EXPECT_EQ(U32At(b, 34), c.fileSize - c.offset);         // image size
  EXPECT_EQ(U32At(b, 38), 11811u);                        // 300 dpi
  EXPECT_EQ(U32At(b, 46), (c.offset - 54) / 4);           // colours used
}

INSTANTIATE_TEST_SUITE_P(Kinds, BmpSizes,
                         ::testing::Values(SizeCase{ikTrueColor, 3, 1, 54, 66}, SizeCase{ikBlackWhite, 10, 1, 62, 66},
                                           SizeCase{ikGray16, 5, 2, 118, 126}, SizeCase{ikColor16, 8, 1, 118, 122},
                                           SizeCase{ikGray256, 2, 3, 1078, 1090}, SizeCase{ikColor256, 4, 1, 1078, 1082}));

TEST(Bmp, RoundTripOfEveryKind) {
  for (int k = 0; k <= 5; ++k) {
    TBitmapGraphic image;
    FillPage(image, 37, 19, PageKind::Gradient);
    if (k != ikTrueColor) {
      TBitmapGraphic converted;
      TImageKind kind = static_cast<TImageKind>(k);
      converted.NewImage(37, 19, kind, nullptr, 300, 300);
      for (int y = 0; y < 19; ++y)
        for (int x = 0; x < 37; ++x) converted.SetRgbPixel(x, y, image.GetRgbPixel(x, y));
      image.Assign(&converted);
    }
    TMemoryStream stream;
    image.SaveToStream(stream);
    stream.SetPosition(0);
    TBitmapGraphic back;
    EXPECT_TRUE(back.IsFormatOf(stream));
    EXPECT_EQ(stream.Position(), 0);
    back.LoadFromStream(stream);
    EXPECT_EQ(BitsPerPixelOf(back.ImageKind()), BitsPerPixelOf(image.ImageKind())) << k;
    EXPECT_EQ(back.Width(), 37);
    EXPECT_EQ(back.DpiX(), 300);
    EXPECT_EQ(PixelBytes(back), PixelBytes(image)) << k;
    for (int x = 0; x < 37; ++x) EXPECT_EQ(back.GetRgbPixel(x, 7), image.GetRgbPixel(x, 7)) << k;
    // Saving what was loaded gives the same file byte for byte.
    TMemoryStream again;
    back.SaveToStream(again);
    EXPECT_EQ(again.Bytes(), stream.Bytes()) << k;
  }
}

TEST(Bmp, LoadsFromTheMiddleOfAStreamAndKeepsZeroResolution) {
  TBitmapGraphic image;
  FillPage(image, 5, 4, PageKind::Noise);
  image.SetDpiX(0);
  image.SetDpiY(0);
  TMemoryStream stream;
  const std::vector<std::uint8_t> junk(100, 0xAB);
  stream.WriteBuffer(junk.data(), junk.size());
  image.SaveToStream(stream);
  stream.SetPosition(100);
  TBitmapGraphic back;
  back.LoadFromStream(stream);
  EXPECT_EQ(PixelBytes(back), PixelBytes(image));
  EXPECT_EQ(back.DpiX(), 0);
}

TEST(Bmp, ThreeHundredDpiInPelsPerMetreLoadsAsThreeHundred) {
  TBitmapGraphic image;
  image.NewImage(1, 1, ikTrueColor, nullptr, 300, 600);
  TMemoryStream stream;
  image.SaveToStream(stream);
  stream.SetPosition(0);
  TBitmapGraphic back;
  back.LoadFromStream(stream);
  EXPECT_EQ(back.DpiX(), 300);
  EXPECT_EQ(back.DpiY(), 600);
}

// --- Hand-made files of other layouts --------------------------------------------------------

std::vector<std::uint8_t> BmpFile(std::uint32_t headerSize, std::int32_t w, std::int32_t h, std::uint16_t bits,
                                  std::uint32_t compression, const std::vector<std::uint8_t>& extra,
                                  const std::vector<std::uint8_t>& pixels, std::uint32_t clrUsed = 0) {
  // Sized whole at once: g++ 12 at -O3 takes inserts into a vector grown from a fixed size for
  // overflows.
  std::vector<std::uint8_t> f(14 + headerSize + extra.size() + pixels.size(), 0);
  f[0] = 'B';
  f[1] = 'M';
  const std::uint32_t off = static_cast<std::uint32_t>(14 + headerSize + extra.size());
  std::memcpy(&f[10], &off, 4);
  std::memcpy(&f[14], &headerSize, 4);
  if (headerSize == 12) {
    const auto w16 = static_cast<std::uint16_t>(w), h16 = static_cast<std::uint16_t>(h);
    const std::uint16_t planes = 1;
    std::memcpy(&f[18], &w16, 2);
    std::memcpy(&f[20], &h16, 2);
    std::memcpy(&f[22], &planes, 2);
    std::memcpy(&f[24], &bits, 2);
  } else {
    const std::uint16_t planes = 1;
    std::memcpy(&f[18], &w, 4);
    std::memcpy(&f[22], &h, 4);
    std::memcpy(&f[26], &planes, 2);
    std::memcpy(&f[28], &bits, 2);
    std::memcpy(&f[30], &compression, 4);
    const std::uint32_t sizeImage = static_cast<std::uint32_t>(pixels.size());
    std::memcpy(&f[34], &sizeImage, 4);
    std::memcpy(&f[46], &clrUsed, 4);
  }
  std::copy(pixels.begin(), pixels.end(), std::copy(extra.begin(), extra.end(), f.begin() + 14 + headerSize));
  const auto size = static_cast<std::uint32_t>(f.size());
  std::memcpy(&f[2], &size, 4);
  return f;
}

std::unique_ptr<TBitmapGraphic> Load(const std::vector<std::uint8_t>& file) {
  TMemoryStream s(file.data(), file.size());
  auto image = std::make_unique<TBitmapGraphic>();
  image->LoadFromStream(s);
  return image;
}

std::vector<std::uint8_t> GreyTable(int n) {
  std::vector<std::uint8_t> t(static_cast<std::size_t>(n) * 4, 0);
  for (int i = 0; i < n; ++i) {
    const auto v = static_cast<std::uint8_t>(i * 255 / (n - 1));
    std::fill_n(t.begin() + 4 * i, 3, v);
  }
  return t;
}

TEST(BmpReader, Rle8AndRle4) {
  // 4 x 2: bottom row "5 5 5 7", top row absolute "1 2 3" then "9".
  const std::vector<std::uint8_t> rle8 = {3, 5, 1, 7, 0, 0, 0, 3, 1, 2, 3, 0, 1, 9, 0, 1};
  const auto a = Load(BmpFile(40, 4, 2, 8, BI_RLE8, GreyTable(256), rle8));
  ASSERT_EQ(a->ImageKind(), ikColor256);
  const int want[2][4] = {{1, 2, 3, 9}, {5, 5, 5, 7}};
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(a->GetPixelIndex(x, y), want[y][x]) << x << "," << y;
  // RLE4: a run of 3 alternating nibbles 0xA, 0xB; a delta of one row; an end of line; an
  // absolute run of the 3 nibbles 1, 2, 3 (2 bytes, already on a 16-bit boundary).
  const std::vector<std::uint8_t> rle4 = {3, 0xAB, 0, 2, 0, 1, 0, 0, 0, 3, 0x12, 0x30, 0, 1};
  const auto b = Load(BmpFile(40, 3, 3, 4, BI_RLE4, GreyTable(16), rle4));
  ASSERT_EQ(b->ImageKind(), ikColor16);
  EXPECT_EQ(b->GetPixelIndex(0, 2), 0xA);
  EXPECT_EQ(b->GetPixelIndex(1, 2), 0xB);
  EXPECT_EQ(b->GetPixelIndex(2, 2), 0xA);
  EXPECT_EQ(b->GetPixelIndex(0, 1), 0);
  EXPECT_EQ(b->GetPixelIndex(0, 0), 1);  // after the delta (0, +1) and an end of line
  EXPECT_EQ(b->GetPixelIndex(1, 0), 2);
  EXPECT_EQ(b->GetPixelIndex(2, 0), 3);
}

TEST(BmpReader, TopDownBitFieldsCoreAndV5Headers) {
  // 2 x 2 top-down 24-bit: first stored row is the top row.
  const std::vector<std::uint8_t> px = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};
  const auto a = Load(BmpFile(40, 2, -2, 24, BI_RGB, {}, px));
  EXPECT_EQ(a->Height(), 2);
  EXPECT_EQ(a->GetRgbPixel(0, 0), 0x030201u);
  EXPECT_EQ(a->GetRgbPixel(1, 1), 0x0C0B0Au);
  // 16-bit 5-6-5 with masks after a 40-byte header: pure green, pure blue.
  const std::vector<std::uint8_t> masks = {0, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0};
  const auto b = Load(BmpFile(40, 2, 1, 16, BI_BITFIELDS, masks, {0xE0, 0x07, 0x1F, 0x00}));
  EXPECT_EQ(b->ImageKind(), ikTrueColor);
  EXPECT_EQ(b->GetRgbPixel(0, 0), 0x00FF00u);
  EXPECT_EQ(b->GetRgbPixel(1, 0), 0x0000FFu);
  // OS/2 core header: 3-byte colour table entries.
  const std::vector<std::uint8_t> table = {0, 0, 0, 0x10, 0x20, 0x30};
  const auto c = Load(BmpFile(12, 3, 1, 1, BI_RGB, table, {0x40, 0, 0, 0}));
  EXPECT_EQ(c->ImageKind(), ikBlackWhite);
  EXPECT_EQ(c->GetRgbPixel(1, 0), 0x302010u);
  EXPECT_EQ(c->GetRgbPixel(0, 0), 0u);
  // 32-bit with a V5 header (124 bytes), default masks.
  const auto d = Load(BmpFile(124, 1, 1, 32, BI_RGB, {}, {9, 8, 7, 0}));
  EXPECT_EQ(d->GetRgbPixel(0, 0), 0x070809u);
}

struct BadBmpCase {
  const char* name;
  std::vector<std::uint8_t> file;
  const char* message;
};
class BadBmp : public ::testing::TestWithParam<BadBmpCase> {};

TEST_P(BadBmp, RaisesClearError) {
  const BadBmpCase& c = GetParam();
  TMemoryStream s(c.file.data(), c.file.size());
  TBitmapGraphic image;
  try {
    image.LoadFromStream(s);
    FAIL() << c.name;
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), c.message) << c.name;
  }
}

std::vector<std::uint8_t> Truncated(std::vector<std::uint8_t> f, std::size_t n) {
  f.resize(n);
  return f;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadBmp,
    ::testing::Values(
        BadBmpCase{"empty", {}, "Bitmap image is not valid: file too short"},
        BadBmpCase{"notBm", std::vector<std::uint8_t>(64, 'x'), "Bitmap image is not valid: no BM signature"},
        BadBmpCase{"bits2", BmpFile(40, 4, 4, 2, BI_RGB, GreyTable(4), std::vector<std::uint8_t>(16)), "Unsupported bit count"},
        BadBmpCase{"bits64", BmpFile(40, 1, 1, 64, BI_RGB, {}, std::vector<std::uint8_t>(8)), "Unsupported bit count"},
        BadBmpCase{"absurd", BmpFile(40, 100000, 100000, 24, BI_RGB, {}, std::vector<std::uint8_t>(64)),
                   "Bitmap image is not valid: bad dimensions"},
        BadBmpCase{"zeroHeight", BmpFile(40, 4, 0, 24, BI_RGB, {}, {}), "Bitmap image is not valid: bad dimensions"},
        BadBmpCase{"tooManyColours", BmpFile(40, 1, 1, 8, BI_RGB, GreyTable(256), {0, 0, 0, 0}, 300),
                   "Bitmap image is not valid: colour count larger than the table"},
        BadBmpCase{"truncatedTable", Truncated(BmpFile(40, 1, 1, 8, BI_RGB, GreyTable(256), {}), 600),
                   "Bitmap image is not valid: truncated colour table"},
        BadBmpCase{"truncatedPixels", Truncated(BmpFile(40, 40, 40, 24, BI_RGB, {}, std::vector<std::uint8_t>(4800)), 3000),
                   "Bitmap image is not valid: truncated pixel data"},
        BadBmpCase{"truncatedHeader", Truncated(BmpFile(40, 1, 1, 24, BI_RGB, {}, {0, 0, 0, 0}), 30),
                   "Bitmap image is not valid: truncated header"},
        BadBmpCase{"rleHuge", BmpFile(40, 60000, 60000, 8, BI_RLE8, GreyTable(256), {0, 1}),
                   "Bitmap image is not valid: image too large"},
        BadBmpCase{"rleTooLargeForData", BmpFile(40, 20000, 20000, 8, BI_RLE8, GreyTable(256), {0, 1}),
                   "Bitmap image is not valid: image too large for its data"},
        BadBmpCase{"rle8At24Bits", BmpFile(40, 1, 1, 24, BI_RLE8, {}, {0, 1}),
                   "Bitmap image is not valid: unsupported compression"}),
    [](const auto& info) { return std::string(info.param.name); });

// An independent reader (ImageMagick) sees the file we write as we mean it.
TEST(Bmp, IndependentReaderAgrees) {
  if (std::system("command -v identify >/dev/null 2>&1") != 0) GTEST_SKIP() << "identify not installed";
  const std::string dir = ::testing::TempDir();
  for (TImageKind kind : {ikBlackWhite, ikColor16, ikColor256, ikTrueColor}) {
    TBitmapGraphic image;
    image.NewImage(33, 7, kind, nullptr, 300, 300);
    image.FillColor(0xFFFFFF);
    image.SetRgbPixel(1, 0, 0x000000);
    const std::string name = dir + "/lumipage_oracle_" + std::to_string(kind) + ".bmp";
    image.SaveToFile(name);
    const std::string cmd = "identify -format '%w %h %[pixel:p{1,0}] %[pixel:p{2,0}]' " + name;
    EXPECT_EQ(testing::RunCommand(cmd).output, "33 7 srgb(0,0,0) srgb(255,255,255)") << kind;
    std::filesystem::remove(name);
  }
}

TEST(Bmp, SaveToFileReplacesAndLoadFromFileReads) {
  const std::string name = ::testing::TempDir() + "/lumipage_bmp_file.bmp";
  {
    TFileStream junk(name, fmCreate);
    const std::vector<std::uint8_t> bytes(5000, 1);
    junk.WriteBuffer(bytes.data(), bytes.size());
  }
  TBitmapGraphic image;
  FillPage(image, 3, 1, PageKind::Noise);
  image.SaveToFile(name);
  EXPECT_EQ(std::filesystem::file_size(name), 66u);
  TBitmapGraphic back;
  back.LoadFromFile(name);
  EXPECT_EQ(PixelBytes(back), PixelBytes(image));
  std::filesystem::remove(name);
  EXPECT_THROW(back.LoadFromFile(name), EFOpenError);
}

}  // namespace
}  // namespace lumipage
