#include "imaging/JpegGraphic.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ImagingTestUtil.h"
#include "imaging/FileStream.h"
#include "imaging/ImageFileFormats.h"
#include "imaging/MemoryStream.h"

namespace lumipage {
namespace {

using testing::FillPage;
using testing::PageKind;
using testing::PixelBytes;

std::vector<std::uint8_t> Encode(TJpegGraphic& image) {
  TMemoryStream out;
  image.SaveToStream(out);
  return out.Bytes();
}

std::unique_ptr<TJpegGraphic> Decode(const std::vector<std::uint8_t>& bytes, bool fast = true) {
  TMemoryStream in(bytes.data(), bytes.size());
  auto image = std::make_unique<TJpegGraphic>();
  image->UseFastPaths = fast;
  image->LoadFromStream(in);
  return image;
}

void MakeJpegSource(TJpegGraphic& jpeg, TImageKind kind, std::int32_t w, std::int32_t h, PageKind page) {
  TDibGraphic source;
  FillPage(source, w, h, page, 3);
  if (kind == ikGray256) {
    jpeg.NewImage(w, h, ikGray256, nullptr, 300, 300);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) jpeg.SetRgbPixel(x, y, source.GetRgbPixel(x, y));
  } else {
    jpeg.Assign(&source);
  }
}

int MaxDifference(const TDibGraphic& a, const TDibGraphic& b) {
  int worst = 0;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x) {
      const std::uint32_t p = a.GetRgbPixel(x, y), q = b.GetRgbPixel(x, y);
      for (int s = 0; s < 24; s += 8)
        worst = std::max(worst, std::abs(static_cast<int>((p >> s) & 255) - static_cast<int>((q >> s) & 255)));
    }
  return worst;
}

class JpegRoundTrip : public ::testing::TestWithParam<TImageKind> {};

TEST_P(JpegRoundTrip, DecodesCloseToTheSourceWithKindAndResolution) {
  TJpegGraphic jpeg;
  MakeJpegSource(jpeg, GetParam(), 64, 48, PageKind::Gradient);
  jpeg.Quality = 95;
  jpeg.SetDpiX(200);
  jpeg.SetDpiY(300);
  const auto bytes = Encode(jpeg);
  ASSERT_GT(bytes.size(), 100u);
  TMemoryStream probe(bytes.data(), bytes.size());
  EXPECT_TRUE(jpeg.IsFormatOf(probe));
  EXPECT_EQ(probe.Position(), 0);
  const auto back = Decode(bytes);
  EXPECT_EQ(back->ImageKind(), GetParam());
  EXPECT_EQ(back->Width(), 64);
  EXPECT_EQ(back->Height(), 48);
  EXPECT_EQ(back->DpiX(), 200);
  EXPECT_EQ(back->DpiY(), 300);
  EXPECT_LE(MaxDifference(*back, jpeg), 12);
  EXPECT_EQ(back->WarningCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(Kinds, JpegRoundTrip, ::testing::Values(ikGray256, ikTrueColor));

TEST(Jpeg, TrueColourIsBlueGreenRedInMemory) {
  TJpegGraphic jpeg;
  jpeg.NewImage(16, 16, ikTrueColor, nullptr, 0, 0);
  jpeg.FillColor(0xFF0000);  // red
  jpeg.Quality = 100;
  const auto back = Decode(Encode(jpeg));
  const std::uint8_t* px = back->RowBits(8) + 3 * 8;
  EXPECT_LE(px[0], 3);    // blue
  EXPECT_GE(px[2], 250);  // red
}

TEST(Jpeg, FastRowsGiveTheSameBytesAsTheCopyingReference) {
  for (TImageKind kind : {ikGray256, ikTrueColor}) {
    for (PageKind page : {PageKind::Text, PageKind::Gradient, PageKind::Noise}) {
      TJpegGraphic jpeg;
      MakeJpegSource(jpeg, kind, 203, 97, page);
      jpeg.Quality = 85;
      const auto fast = Encode(jpeg);
      jpeg.UseFastPaths = false;
      const auto reference = Encode(jpeg);
      EXPECT_EQ(fast, reference);
      EXPECT_EQ(PixelBytes(*Decode(fast, true)), PixelBytes(*Decode(fast, false)));
    }
  }
}

// The two-thread writer makes the codec's colour samples itself: every edge case of its padding
// (odd and even sizes, less than one row of blocks, one pixel) must give the codec's own bytes.
TEST(Jpeg, TwoThreadsGiveTheSameBytesAsTheCopyingReference) {
  struct Size {
    std::int32_t w, h;
  };
  for (const Size size : {Size{203, 97}, Size{202, 96}, Size{16, 32}, Size{17, 15}, Size{1, 1}, Size{3, 40},
                          Size{640, 33}}) {
    for (PageKind page : {PageKind::Text, PageKind::Noise}) {
      for (int options = 0; options < 3; ++options) {
        TJpegGraphic jpeg;
        MakeJpegSource(jpeg, ikTrueColor, size.w, size.h, page);
        jpeg.Quality = 75;
        jpeg.OptimizeCoding = options == 1;
        jpeg.Progressive = options == 2;
        jpeg.Threads = TJpegGraphic::TThreads::Two;
        const auto two = Encode(jpeg);
        jpeg.UseFastPaths = false;
        EXPECT_EQ(two, Encode(jpeg)) << size.w << " x " << size.h << ", options " << options;
      }
    }
  }
}

TEST(Jpeg, ProgressiveAndOptimisedFilesDecode) {
  TJpegGraphic jpeg;
  MakeJpegSource(jpeg, ikTrueColor, 40, 30, PageKind::Gradient);
  const auto plain = Encode(jpeg);
  jpeg.OptimizeCoding = true;
  const auto optimised = Encode(jpeg);
  EXPECT_LT(optimised.size(), plain.size());
  jpeg.Progressive = true;
  const auto progressive = Encode(jpeg);
  EXPECT_NE(progressive, optimised);
  EXPECT_LE(MaxDifference(*Decode(progressive), *Decode(plain)), 2);
}

TEST(Jpeg, OtherKindsAreRefusedBeforeAnythingIsWritten) {
  for (TImageKind kind : {ikBlackWhite, ikGray16, ikColor16, ikColor256}) {
    TJpegGraphic jpeg;
    jpeg.NewImage(4, 4, kind, nullptr, 0, 0);
    TMemoryStream out;
    try {
      jpeg.SaveToStream(out);
      FAIL();
    } catch (const EJpegError& e) {
      EXPECT_STREQ(e.what(), "JPEG image must be gray scale or true color");
    }
    EXPECT_EQ(out.Size(), 0);
  }
}

// JFIF density: offset 13 holds the unit, 14 and 16 the big-endian densities.
struct DensityCase {
  std::uint8_t unit;
  std::uint16_t density;
  std::uint16_t dpi;
};
class JfifDensity : public ::testing::TestWithParam<DensityCase> {};

TEST_P(JfifDensity, GivesResolution) {
  TJpegGraphic jpeg;
  jpeg.NewImage(8, 8, ikGray256, nullptr, 72, 72);
  auto bytes = Encode(jpeg);
  ASSERT_EQ(bytes[13], 1);  // written as dots per inch
  ASSERT_EQ(bytes[14] * 256 + bytes[15], 72);
  bytes[13] = GetParam().unit;
  bytes[14] = bytes[16] = static_cast<std::uint8_t>(GetParam().density >> 8);
  bytes[15] = bytes[17] = static_cast<std::uint8_t>(GetParam().density & 0xFF);
  const auto back = Decode(bytes);
  EXPECT_EQ(back->DpiX(), GetParam().dpi);
  EXPECT_EQ(back->DpiY(), GetParam().dpi);
}

INSTANTIATE_TEST_SUITE_P(Units, JfifDensity,
                         ::testing::Values(DensityCase{0, 1, kScreenDpi}, DensityCase{0, 300, kScreenDpi},
                                           DensityCase{1, 300, 300}, DensityCase{2, 118, 300},
                                           DensityCase{2, 59, 150}, DensityCase{3, 300, kScreenDpi}));

TEST(Jpeg, ExifFirstFileIsNotRecognised) {
  TJpegGraphic jpeg;
  jpeg.NewImage(8, 8, ikGray256, nullptr, 72, 72);
  auto bytes = Encode(jpeg);
  TMemoryStream jfif(bytes.data(), bytes.size());
  EXPECT_TRUE(jpeg.IsFormatOf(jfif));
  bytes[3] = 0xE1;  // APP1 (Exif) first
  TMemoryStream exif(bytes.data(), bytes.size());
  EXPECT_FALSE(jpeg.IsFormatOf(exif));
  TMemoryStream shortStream(bytes.data(), 5);
  EXPECT_FALSE(jpeg.IsFormatOf(shortStream));
  EXPECT_EQ(shortStream.Position(), 0);
}

TEST(Jpeg, LoadsFromTheMiddleOfAStream) {
  TJpegGraphic jpeg;
  MakeJpegSource(jpeg, ikGray256, 20, 10, PageKind::Gradient);
  const auto bytes = Encode(jpeg);
  TMemoryStream stream;
  const std::vector<std::uint8_t> junk(77, 0x5A);
  stream.WriteBuffer(junk.data(), junk.size());
  stream.WriteBuffer(bytes.data(), bytes.size());
  stream.SetPosition(77);
  TJpegGraphic back;
  back.LoadFromStream(stream);
  EXPECT_EQ(PixelBytes(back), PixelBytes(*Decode(bytes)));
}

struct CorruptCase {
  const char* name;
  std::size_t keep;       // bytes kept of a valid file (0: all)
  std::size_t patchAt;    // byte replaced, when patch is set
  int patch;
  const char* message;    // the codec's own text; empty: loads with warnings
};
class CorruptJpeg : public ::testing::TestWithParam<CorruptCase> {};

TEST_P(CorruptJpeg, CodecMessageOrCountedWarnings) {
  const CorruptCase& c = GetParam();
  TJpegGraphic jpeg;
  MakeJpegSource(jpeg, ikTrueColor, 48, 48, PageKind::Noise);
  auto bytes = Encode(jpeg);
  if (c.keep) bytes.resize(c.keep);
  if (c.patch >= 0) bytes[c.patchAt] = static_cast<std::uint8_t>(c.patch);
  TMemoryStream in(bytes.data(), bytes.size());
  TJpegGraphic back;
  if (*c.message == '\0') {
    back.LoadFromStream(in);
    EXPECT_GT(back.WarningCount(), 0) << c.name;
    EXPECT_EQ(back.Width(), 48);
    return;
  }
  try {
    back.LoadFromStream(in);
    FAIL() << c.name;
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), c.message) << c.name;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CorruptJpeg,
    ::testing::Values(CorruptCase{"oneByte", 1, 0, -1, "Not a JPEG file: starts with 0xff 0xff"},
                      CorruptCase{"notJpeg", 0, 0, 0x42, "Not a JPEG file: starts with 0x42 0xd8"},
                      CorruptCase{"headerOnly", 20, 0, -1, "JPEG datastream contains no image"},
                      CorruptCase{"truncatedData", 900, 0, -1, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Jpeg, EmptyStreamGivesTheCodecsMessage) {
  TMemoryStream empty;
  TJpegGraphic back;
  try {
    back.LoadFromStream(empty);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Empty input file");
  }
}

TEST(Jpeg, WriteFailureOfTheDestinationIsTheCodecsMessage) {
  // A stream that accepts nothing, like a full disk.
  struct FullStream final : TStream {
    std::size_t Read(void*, std::size_t) override { return 0; }
    std::size_t Write(const void*, std::size_t) override { return 0; }
    std::int64_t Seek(std::int64_t, TSeekOrigin) override { return 0; }
  } full;
  TJpegGraphic jpeg;
  MakeJpegSource(jpeg, ikTrueColor, 100, 100, PageKind::Noise);
  try {
    jpeg.SaveToStream(full);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Output file write error --- out of disk space?");
  }
}

// libjpeg-turbo's own decoder tool reads what we write, pixel for pixel.
TEST(Jpeg, IndependentDecoderAgrees) {
  if (std::system("command -v djpeg >/dev/null 2>&1") != 0) GTEST_SKIP() << "djpeg not installed";
  const std::string dir = ::testing::TempDir();
  for (TImageKind kind : {ikGray256, ikTrueColor}) {
    TJpegGraphic jpeg;
    MakeJpegSource(jpeg, kind, 31, 17, PageKind::Text);
    jpeg.Quality = 85;
    const std::string name = dir + "/lumipage_oracle.jpg";
    const std::string pnm = dir + "/lumipage_oracle.pnm";
    jpeg.SaveToFile(name);
    ASSERT_EQ(std::system(("djpeg -pnm -outfile " + pnm + " " + name).c_str()), 0);
    std::ifstream f(pnm, std::ios::binary);
    std::string magic;
    int w = 0, h = 0, maxval = 0;
    f >> magic >> w >> h >> maxval;
    f.get();
    std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(f)), {});
    EXPECT_EQ(magic, kind == ikGray256 ? "P5" : "P6");
    ASSERT_EQ(w, 31);
    ASSERT_EQ(h, 17);
    TJpegGraphic ours;
    ours.LoadFromFile(name);
    const int comps = kind == ikGray256 ? 1 : 3;
    ASSERT_EQ(data.size(), static_cast<std::size_t>(w * h * comps));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const std::uint8_t* d = &data[static_cast<std::size_t>((y * w + x) * comps)];
        const std::uint32_t want = comps == 1 ? d[0] * 0x010101u : (d[0] << 16) | (d[1] << 8) | d[2];
        ASSERT_EQ(ours.GetRgbPixel(x, y), want) << x << "," << y;
      }
    std::filesystem::remove(name);
    std::filesystem::remove(pnm);
  }
}

TEST(Jpeg, RegisteredForItsExtensions) {
  EXPECT_NE(FindImageFileFormat("jpg"), nullptr);
  EXPECT_NE(FindImageFileFormat(".JPEG"), nullptr);
  EXPECT_EQ(ImageFileFormatDescription("JPG"), "JPEG");
  EXPECT_STREQ(FindImageFileFormat("jpg")()->ClassName(), "TJpegGraphic");
}

}  // namespace
}  // namespace lumipage
