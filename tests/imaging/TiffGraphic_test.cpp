// TTiffGraphic: writing, appending and reading TIFF files. Files are checked with independent
// readers (tiffdump, tiffinfo, ImageMagick's convert) as well as by reading them back.
#include "imaging/TiffGraphic.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <tiffio.h>

#include <algorithm>
#include <array>
#include <functional>
#include <sstream>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "imaging/FileStream.h"
#include "imaging/ImageFileFormats.h"
#include "imaging/MemoryStream.h"
#include "imaging/TiffLibrary.h"
#include "imaging/TiffError.h"
#include "platform/Interrupt.h"
#include "tests/support/RunCommand.h"

namespace lumipage {
namespace {

namespace fs = std::filesystem;

// Output of a command; standard error is kept only when asked for (ImageMagick warns about
// our user tag on standard error, which must not mix with decoded pixels).
std::string Shell(const std::string& command, bool withErrors = true) {
  return testing::RunCommand(withErrors ? command : command + " 2>/dev/null", withErrors).output;
}

// Exit status of a command (its warnings about our user tag are not of interest).
int Status(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

std::vector<std::uint8_t> RunBinary(const std::string& command) {
  const std::string out = Shell(command, false);
  return {out.begin(), out.end()};
}

fs::path TempFile(const std::string& name) {
  // One folder per process: CTest runs the cases of a table in parallel processes.
  fs::path dir = fs::path(::testing::TempDir()) / ("tiff_tests_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  return dir / name;
}

void WriteBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> Contents(TMemoryStream& stream) { return stream.Bytes(); }

// tiffdump's lines "Name (tag) TYPE (n) count<values>" by tag number: "count|values".
std::map<int, std::string> DumpTags(const fs::path& file, int directory = 0) {
  std::map<int, std::string> tags;
  const std::string text = Shell("tiffdump '" + file.string() + "'");
  static const std::regex directoryLine(R"(^Directory (\d+):.*)");
  static const std::regex namedTag(R"(^\w+ \((\d+)\) \w+ \(\d+\) (\d+)<(.*)>$)");
  static const std::regex numberedTag(R"(^(\d+) \(0x[0-9a-f]+\) \w+ \(\d+\) (\d+)<(.*)>$)");
  int current = -1;
  std::istringstream in(text);
  std::string l;
  std::smatch m;
  while (std::getline(in, l)) {
    if (std::regex_match(l, m, directoryLine)) {
      current = std::stoi(m[1]);
    } else if (current == directory &&
               (std::regex_match(l, m, namedTag) || std::regex_match(l, m, numberedTag))) {
      tags[std::stoi(m[1])] = m[2].str() + "|" + m[3].str();
    }
  }
  return tags;
}

// Each expected tag has its "count|values" in tags.
void ExpectTags(const std::map<int, std::string>& tags, const std::map<int, std::string>& expected) {
  for (const auto& [tag, value] : expected) {
    const auto found = tags.find(tag);
    EXPECT_EQ(found == tags.end() ? "(absent)" : found->second, value) << "tag " << tag;
  }
}

// Deterministic content for every kind: indices cycle through the palette, true colour
// varies all three channels.
void FillPattern(TDibGraphic& image) {
  const int colours = image.ImageKind() == ikBlackWhite                              ? 2
                      : image.ImageKind() == ikGray16 || image.ImageKind() == ikColor16 ? 16
                                                                                          : 256;
  for (int y = 0; y < image.Height(); ++y) {
    for (int x = 0; x < image.Width(); ++x) {
      if (image.ImageKind() == ikTrueColor) {
        image.SetRgbPixel(x, y, static_cast<std::uint32_t>(((x * 37) & 255) << 16 | ((y * 11) & 255) << 8 |
                                                          ((x * y + 5) & 255)));
      } else {
        image.SetPixelIndex(x, y, static_cast<std::uint32_t>((x * 3 + y * 7 + x * y) % colours));
      }
    }
  }
}

std::unique_ptr<TTiffGraphic> MakeImage(TImageKind kind, int width, int height, int dpi = 300) {
  auto image = std::make_unique<TTiffGraphic>();
  image->NewImage(width, height, kind, nullptr, static_cast<std::uint16_t>(dpi),
                  static_cast<std::uint16_t>(dpi));
  FillPattern(*image);
  return image;
}

void ExpectSamePixels(const TDibGraphic& a, const TDibGraphic& b) {
  ASSERT_EQ(a.Width(), b.Width());
  ASSERT_EQ(a.Height(), b.Height());
  int differences = 0;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x)
      if (a.GetRgbPixel(x, y) != b.GetRgbPixel(x, y) && ++differences <= 3)
        ADD_FAILURE() << "pixel " << x << "," << y << ": " << std::hex << a.GetRgbPixel(x, y)
                      << " vs " << b.GetRgbPixel(x, y);
  EXPECT_EQ(differences, 0);
}

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no error)";
}

// Writes a TIFF with libtiff directly, for files our writer never produces.
struct RawTiff {
  fs::path path;
  TIFF* tif;
  explicit RawTiff(const std::string& name, const char* mode = "w")
      : path(TempFile(name)), tif(TIFFOpen(path.c_str(), mode)) {}
  // The tags every page needs; a photometric of -1 leaves that tag out.
  void Page(std::uint32_t width, std::uint32_t length, int bitsPerSample, int photometric) {
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, length);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bitsPerSample);
    if (photometric >= 0) TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
  }
  void Close() { TIFFClose(tif); }
  std::vector<std::uint8_t> Bytes() const {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
};

std::unique_ptr<TTiffGraphic> LoadFile(const fs::path& path, int page = 1) {
  TFileStream stream(path.string(), fmOpenRead);
  auto image = std::make_unique<TTiffGraphic>();
  image->LoadImage(stream, page);
  return image;
}

// --- Compression property -------------------------------------------------------------------

TEST(TiffCompression, NewImageChoosesTheKindsDefault) {
  TTiffGraphic image;
  image.NewImage(8, 2, ikBlackWhite, nullptr, 0, 0);
  EXPECT_EQ(image.Compression(), tcGroup4);
  for (TImageKind kind : {ikGray16, ikGray256, ikColor16, ikColor256, ikTrueColor}) {
    image.NewImage(8, 2, kind, nullptr, 0, 0);
    EXPECT_EQ(image.Compression(), tcPackbits) << int(kind);
  }
}

TEST(TiffCompression, RefusedCombinationsNameCompressionAndKind) {
  auto colour = MakeImage(ikTrueColor, 2, 2);
  EXPECT_EQ(ErrorOf([&] { colour->SetCompression(tcGroup4); }),
            "CCITT Group 4 compression not supported with True color images");
  auto bw = MakeImage(ikBlackWhite, 2, 2);
  EXPECT_EQ(ErrorOf([&] { bw->SetCompression(tcJpeg); }),
            "JPEG compression not supported with Black and white images");
  EXPECT_THROW(bw->SetCompression(tcJpeg), EOvinexError);
  EXPECT_EQ(bw->Compression(), tcGroup4);  // unchanged by the refused setting
  // A new, empty image counts as black and white.
  TTiffGraphic empty;
  EXPECT_THROW(empty.SetCompression(tcJpeg), EOvinexError);
  EXPECT_NO_THROW(empty.SetCompression(tcGroup3_2D));
}

TEST(TiffCompression, AllowedTable) {
  const char* expected[6] = {"111111-", "11---1-", "11---11", "11---1-", "11---1-", "11---11"};
  for (unsigned kind = 0; kind < 6; ++kind) {
    std::string row;
    for (unsigned c = 0; c < 7; ++c) row += CompressionAllowed(c, kind) ? '1' : '-';
    EXPECT_EQ(row, expected[kind]) << "kind " << kind;
  }
  EXPECT_TRUE(CompressionAllowed(tcJpeg, 9));
  EXPECT_EQ(CompressionName(tcGroup3_1D), "CCITT Group 3, 1D");
  EXPECT_EQ(TiffCompressionTag(tcZLib), 32946);
  EXPECT_EQ(TiffCompressionTag(77), 1);
}

// --- Round trips over every kind and lossless compression ------------------------------------

struct RoundTripCase {
  TImageKind kind;
  TTiffCompression compression;
  int rowsPerStrip;
};

class TiffRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(TiffRoundTrip, LoadsWhatWasSaved) {
  const RoundTripCase c = GetParam();
  auto image = MakeImage(c.kind, 37, 13, 200);
  image->SetCompression(c.compression);
  image->RowsPerStrip = c.rowsPerStrip;
  TMemoryStream stream;
  image->SaveToStream(stream);

  stream.SetPosition(0);
  EXPECT_TRUE(image->IsFormatOf(stream));
  EXPECT_EQ(stream.Position(), 0);
  TTiffGraphic loaded;
  loaded.LoadImage(stream, 1);
  EXPECT_EQ(loaded.ImageKind(), c.kind);
  EXPECT_EQ(loaded.Compression(), c.compression);
  EXPECT_EQ(loaded.DpiX(), 200);
  EXPECT_EQ(loaded.DpiY(), 200);
  EXPECT_EQ(loaded.RowsPerStrip, c.rowsPerStrip);
  ExpectSamePixels(*image, loaded);
  if (c.kind != ikTrueColor) {
    for (int y = 0; y < 13; ++y)
      for (int x = 0; x < 37; ++x) ASSERT_EQ(loaded.GetPixelIndex(x, y), image->GetPixelIndex(x, y));
  }
}

std::vector<RoundTripCase> RoundTripCases() {
  std::vector<RoundTripCase> cases;
  for (auto c : {tcNone, tcPackbits, tcGroup3_1D, tcGroup3_2D, tcGroup4, tcZLib})
    cases.push_back({ikBlackWhite, c, 2147483647});
  for (auto k : {ikGray16, ikGray256, ikColor16, ikColor256, ikTrueColor})
    for (auto c : {tcNone, tcPackbits, tcZLib}) cases.push_back({k, c, 2147483647});
  // Several strips, the last one short.
  cases.push_back({ikBlackWhite, tcGroup4, 4});
  cases.push_back({ikBlackWhite, tcPackbits, 4});
  cases.push_back({ikTrueColor, tcPackbits, 5});
  cases.push_back({ikColor16, tcNone, 3});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(KindsAndCompressions, TiffRoundTrip, ::testing::ValuesIn(RoundTripCases()),
                         [](const ::testing::TestParamInfo<RoundTripCase>& info) {
                           return "kind" + std::to_string(info.param.kind) + "_c" +
                                  std::to_string(info.param.compression) + "_rps" +
                                  std::to_string(info.param.rowsPerStrip == 2147483647
                                                     ? 0
                                                     : info.param.rowsPerStrip);
                         });

// --- What independent readers see ------------------------------------------------------------

TEST(TiffWrite, TrueColourPageCarriesTheBaselineTags) {
  auto image = MakeImage(ikTrueColor, 40, 30, 300);
  const fs::path file = TempFile("truecolour.tif");
  image->SaveToFile(file.string());

  auto tags = DumpTags(file);
  ExpectTags(tags, {{256, "1|40"},
                    {257, "1|30"},
                    {258, "3|8 8 8"},
                    {259, "1|32773"},
                    {262, "1|2"},
                    {277, "1|3"},
                    {278, "1|2147483647"},
                    {282, "1|300"},
                    {283, "1|300"},
                    {284, "1|1"},
                    {296, "1|2"},
                    {305, "21|Ovinex Image Library\\0"},
                    {40000, "1|\\0"}});
  EXPECT_THAT(tags[306], ::testing::MatchesRegex(R"(20\|[0-9]{4}:[0-9]{2}:[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\\0)"));
  EXPECT_THAT(Shell("tiffdump '" + file.string() + "'"),
              ::testing::HasSubstr("XResolution (282) RATIONAL (5) 1<300>"));

  // ImageMagick decodes the same pixels, red first.
  const auto rgb = RunBinary("convert '" + file.string() + "' -depth 8 rgb:-");
  ASSERT_EQ(rgb.size(), 40u * 30 * 3);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) {
      const std::uint8_t* p = &rgb[(std::size_t(y) * 40 + x) * 3];
      ASSERT_EQ(std::uint32_t(p[0] << 16 | p[1] << 8 | p[2]), image->GetRgbPixel(x, y)) << x << "," << y;
    }
}

// A caller's time-out ends the encoding of a huge page within a few of its rows' hundreds: the
// request comes once a tenth is written, and the writing stops soon after.
TEST(TiffWrite, AnInterruptionStopsTheEncoding) {
  platform::ClearInterrupt();
  TTiffGraphic tiff;
  tiff.NewImage(64, 4000, ikBlackWhite, nullptr, 300, 300);
  tiff.SetCompression(tcGroup4);
  int last = -1;
  tiff.ProgressCallback = [&last](const void*, std::uint8_t percent) {
    last = percent;
    if (percent >= 10) platform::RequestInterrupt();
  };
  TMemoryStream out;
  EXPECT_THROW(tiff.SaveToStream(out), platform::EJobInterrupted);
  platform::ClearInterrupt();
  EXPECT_GE(last, 10);
  EXPECT_LT(last, 13);
}

TEST(TiffWrite, SoftwareTextAndOtherTextsAreWritten) {
  auto image = MakeImage(ikBlackWhite, 16, 4);
  image->Software = "Orrinwell Limited";
  image->DateTime = "2003:07:14 09:05:00";
  image->Artist = "A. Scanner";
  image->UserTags[0].WriteEnabled = false;
  image->UserTags[3].WriteEnabled = true;
  image->UserTags[3].Value = "batch 7";
  const fs::path file = TempFile("texts.tif");
  image->SaveToFile(file.string());
  auto tags = DumpTags(file);
  ExpectTags(tags, {{305, "18|Orrinwell Limited\\0"},
                    {306, "20|2003:07:14 09:05:00\\0"},
                    {315, "11|A. Scanner\\0"},
                    {40003, "8|batch 7\\0"}});
  EXPECT_EQ(tags.count(40000), 0u);
}

class TiffBlackWhitePhotometric
    : public ::testing::TestWithParam<std::pair<TTiffCompression, int>> {};

// CCITT pages store white as zero, so their rows are inverted; other compressions store the
// rows as they are with black as zero. ImageMagick must see the same black pixels either way.
TEST_P(TiffBlackWhitePhotometric, IndependentReaderSeesTheSamePixels) {
  const auto [compression, photometric] = GetParam();
  auto image = MakeImage(ikBlackWhite, 45, 9);
  image->SetCompression(compression);
  const fs::path file = TempFile("bw" + std::to_string(compression) + ".tif");
  image->SaveToFile(file.string());
  auto tags = DumpTags(file);
  EXPECT_EQ(tags[262], "1|" + std::to_string(photometric));
  EXPECT_EQ(tags[258], "1|1");
  EXPECT_EQ(tags[259], "1|" + std::to_string(TiffCompressionTag(compression)));
  if (compression == tcGroup3_1D || compression == tcGroup3_2D) {
    EXPECT_EQ(tags[292], compression == tcGroup3_2D ? "1|1" : "1|0");
  }

  const auto grey = RunBinary("convert '" + file.string() + "' -depth 8 gray:-");
  ASSERT_EQ(grey.size(), 45u * 9);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 45; ++x)
      ASSERT_EQ(grey[std::size_t(y) * 45 + x], image->GetPixelIndex(x, y) ? 255 : 0) << x << "," << y;
}

INSTANTIATE_TEST_SUITE_P(Compressions, TiffBlackWhitePhotometric,
                         ::testing::Values(std::pair{tcGroup4, 0}, std::pair{tcGroup3_1D, 0},
                                         std::pair{tcGroup3_2D, 0}, std::pair{tcPackbits, 1},
                                         std::pair{tcNone, 1}, std::pair{tcZLib, 1}));

TEST(TiffWrite, GroupFourRowsAreInvertedInTheFile) {
  // One black pixel (index 0) followed by white: decoded uncompressed, the file's first byte
  // has its top bit set and the rest clear.
  TTiffGraphic image;
  image.NewImage(8, 1, ikBlackWhite, nullptr, 300, 300);
  image.FillColor(0xFFFFFF);
  image.SetRgbPixel(0, 0, 0x000000);
  const fs::path g4 = TempFile("g4row.tif");
  const fs::path plain = TempFile("g4row_plain.tif");
  image.SaveToFile(g4.string());
  ASSERT_EQ(Status("tiffcp -c none '" + g4.string() + "' '" + plain.string() + "'"), 0);
  TIFF* tif = TIFFOpen(plain.c_str(), "r");
  ASSERT_NE(tif, nullptr);
  std::uint8_t row[8] = {};
  ASSERT_EQ(TIFFReadScanline(tif, row, 0, 0), 1);
  std::uint16_t photometric = 9;
  TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
  TIFFClose(tif);
  EXPECT_EQ(photometric, 0);
  EXPECT_EQ(row[0], 0x80);
}

TEST(TiffWrite, PaletteImageWritesAColorMapScaledTo16Bits) {
  TLogPalette palette{};
  palette.palVersion = 0x300;
  palette.palNumEntries = 3;
  palette.palPalEntry[0] = {255, 0, 0, 0};
  palette.palPalEntry[1] = {0, 128, 0, 0};
  palette.palPalEntry[2] = {1, 2, 255, 0};
  TTiffGraphic image;
  image.NewImage(4, 1, ikColor16, &palette, 72, 72);
  for (int x = 0; x < 4; ++x) image.SetPixelIndex(x, 0, static_cast<std::uint32_t>(x % 3));
  TMemoryStream stream;
  image.SaveToStream(stream);
  const fs::path file = TempFile("palette.tif");
  WriteBytes(file, Contents(stream));
  const std::string dump = Shell("tiffdump '" + file.string() + "'");
  // 16 entries per channel: red, then green, then blue.
  EXPECT_THAT(dump, ::testing::HasSubstr("Colormap (320) SHORT (3) 48<65280 0 256 0 0 0 0 0 0 0 0 0 0 0 0 0 0 32768 512 0 0"));

  stream.SetPosition(0);
  TTiffGraphic loaded;
  loaded.LoadImage(stream, 1);
  EXPECT_EQ(loaded.ImageKind(), ikColor16);
  EXPECT_EQ(loaded.LogPalette().palNumEntries, 16);
  EXPECT_EQ(loaded.GetRgbPixel(0, 0), 0xFF0000u);
  EXPECT_EQ(loaded.GetRgbPixel(1, 0), 0x008000u);
  EXPECT_EQ(loaded.GetRgbPixel(2, 0), 0x0102FFu);
}

TEST(TiffWrite, JpegUsesEightRowStripsAndLoadsBackClose) {
  auto image = MakeImage(ikGray256, 32, 20);
  image->SetCompression(tcJpeg);
  image->JpegQuality = 90;
  const fs::path file = TempFile("jpeg.tif");
  image->SaveToFile(file.string());
  auto tags = DumpTags(file);
  EXPECT_EQ(tags[259], "1|7");
  EXPECT_EQ(tags[278], "1|8");
  auto loadedFile = LoadFile(file);
  TTiffGraphic& loaded = *loadedFile;
  EXPECT_EQ(loaded.ImageKind(), ikGray256);
  EXPECT_EQ(loaded.Compression(), tcJpeg);
  ASSERT_EQ(loaded.Width(), 32);
  // Lossy: close to the original on average. A smooth image keeps every pixel close.
  TTiffGraphic smooth;
  smooth.NewImage(32, 16, ikGray256, nullptr, 300, 300);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 32; ++x) smooth.SetPixelIndex(x, y, static_cast<std::uint32_t>(x * 4 + y * 2));
  smooth.SetCompression(tcJpeg);
  smooth.JpegQuality = 95;
  TMemoryStream stream;
  smooth.SaveToStream(stream);
  stream.SetPosition(0);
  loaded.LoadImage(stream, 1);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 32; ++x)
      ASSERT_NEAR(loaded.GetPixelIndex(x, y), smooth.GetPixelIndex(x, y), 6) << x << "," << y;
}

// --- Streams: position, append ------------------------------------------------------------------

TEST(TiffStream, SavingAtPosition100KeepsTheBytesBeforeIt) {
  TMemoryStream stream;
  std::vector<std::uint8_t> prefix(100);
  for (std::size_t i = 0; i < prefix.size(); ++i) prefix[i] = static_cast<std::uint8_t>(i * 7 + 1);
  stream.WriteBuffer(prefix.data(), prefix.size());
  auto image = MakeImage(ikTrueColor, 21, 7);
  image->SaveToStream(stream);

  const auto bytes = Contents(stream);
  ASSERT_GT(bytes.size(), 108u);
  EXPECT_TRUE(std::equal(prefix.begin(), prefix.end(), bytes.begin()));
  // Offsets count from position 100: the tail alone is a valid TIFF.
  const fs::path file = TempFile("tail.tif");
  WriteBytes(file, {bytes.begin() + 100, bytes.end()});
  EXPECT_THAT(Shell("tiffinfo '" + file.string() + "'"), ::testing::HasSubstr("Image Width: 21 Image Length: 7"));
  // And it reads back from position 100 of the stream.
  stream.SetPosition(100);
  TTiffGraphic loaded;
  EXPECT_EQ(loaded.GetImageCount(stream), 1);
  stream.SetPosition(100);
  loaded.LoadImage(stream, 1);
  ExpectSamePixels(*image, loaded);
}

TEST(TiffStream, AppendBuildsAMultiPageFileWithTheNewPageLast) {
  TMemoryStream stream;
  const int widths[3] = {10, 20, 30};
  std::vector<std::unique_ptr<TTiffGraphic>> pages;
  for (int w : widths) {
    pages.push_back(MakeImage(w == 20 ? ikTrueColor : ikBlackWhite, w, 5));
    pages.back()->AppendToStream(stream);
  }
  const fs::path file = TempFile("three.tif");
  WriteBytes(file, Contents(stream));
  const std::string info = Shell("tiffinfo '" + file.string() + "'");
  EXPECT_THAT(info, ::testing::HasSubstr("TIFF Directory at offset"));
  EXPECT_EQ(DumpTags(file, 0)[256], "1|10");
  EXPECT_EQ(DumpTags(file, 1)[256], "1|20");
  EXPECT_EQ(DumpTags(file, 2)[256], "1|30");
  EXPECT_TRUE(DumpTags(file, 3).empty());

  TTiffGraphic loaded;
  stream.SetPosition(0);
  EXPECT_EQ(loaded.GetImageCount(stream), 3);
  for (int page = 1; page <= 3; ++page) {
    stream.SetPosition(0);
    loaded.LoadImage(stream, page);
    ExpectSamePixels(*pages[page - 1], loaded);
  }
  stream.SetPosition(0);
  EXPECT_EQ(ErrorOf([&] { loaded.LoadImage(stream, 4); }), "ETiffError TIFFSetDirectory");

  // Loading all pages as frames of one image.
  TTiffGraphic frames;
  frames.MultiFrame = true;
  stream.SetPosition(0);
  frames.LoadFromStream(stream);
  EXPECT_EQ(frames.FrameCount(), 3);
  EXPECT_EQ(frames.Width(), 10);
  frames.SelectFrame(3);
  EXPECT_EQ(frames.Width(), 30);
}

TEST(TiffStream, AppendToAFileStreamOpenedForReadingAndWriting) {
  const fs::path file = TempFile("append_file.tif");
  MakeImage(ikBlackWhite, 64, 8)->SaveToFile(file.string());
  for (int i = 0; i < 2; ++i) {
    TFileStream stream(file.string(), fmOpenReadWrite);
    MakeImage(ikBlackWhite, 64 + i, 8)->AppendToStream(stream);
  }
  const std::string info = Shell("tiffinfo '" + file.string() + "'");
  EXPECT_THAT(info, ::testing::HasSubstr("Image Width: 65 Image Length: 8"));
  EXPECT_EQ(LoadFile(file, 3)->Width(), 65);
  TFileStream stream(file.string(), fmOpenRead);
  EXPECT_EQ(TTiffGraphic().GetImageCount(stream), 3);
}

TEST(TiffStream, AppendKeepsTheByteOrderOfAnotherWritersFile) {
  const fs::path ours = TempFile("le.tif");
  const fs::path file = TempFile("be.tif");
  MakeImage(ikGray256, 9, 4)->SaveToFile(ours.string());
  ASSERT_EQ(Status("tiffcp -B '" + ours.string() + "' '" + file.string() + "'"), 0);
  {
    TFileStream stream(file.string(), fmOpenReadWrite);
    MakeImage(ikTrueColor, 11, 3)->AppendToStream(stream);
  }
  EXPECT_THAT(Shell("tiffdump '" + file.string() + "'"), ::testing::HasSubstr("big-endian"));
  EXPECT_EQ(DumpTags(file, 1)[256], "1|11");
  auto second = LoadFile(file, 2);
  ExpectSamePixels(*MakeImage(ikTrueColor, 11, 3), *second);
}

TEST(TiffStream, AppendToSomethingElseIsRefused) {
  TMemoryStream stream;
  stream.WriteBuffer("BM not a tiff", 13);
  auto image = MakeImage(ikBlackWhite, 8, 8);
  EXPECT_EQ(ErrorOf([&] { image->AppendToStream(stream); }), "ETiffError TIFFOpen");
  EXPECT_THROW(image->AppendToStream(stream), ETiffError);
}

TEST(TiffStream, IsFormatOfChecksBothByteOrdersAndKeepsThePosition) {
  for (const char* head : {"II*\0", "MM\0*"}) {
    TMemoryStream stream(head, 4);
    EXPECT_TRUE(TTiffGraphic().IsFormatOf(stream));
    EXPECT_EQ(stream.Position(), 0);
  }
  for (const char* head : {"II\0*", "MM*\0", "BM\0\0"}) {
    TMemoryStream stream(head, 4);
    EXPECT_FALSE(TTiffGraphic().IsFormatOf(stream));
  }
  TMemoryStream shortStream("II", 2);
  EXPECT_FALSE(TTiffGraphic().IsFormatOf(shortStream));
  EXPECT_EQ(shortStream.Position(), 0);
}

// --- Reading files from other writers -------------------------------------------------------------

TEST(TiffRead, TextsAndUserTagsComeFromTheFile) {
  auto image = MakeImage(ikGray256, 5, 5);
  image->DocumentName = "doc";
  image->HostComputer = "host";
  image->UserTags[2].WriteEnabled = true;
  image->UserTags[2].Value = "two";
  image->UserTags[0].Value = "zero";
  TMemoryStream stream;
  image->SaveToStream(stream);

  TTiffGraphic loaded;
  loaded.Software = "stale";
  loaded.UserTags[1].Value = "stale";
  loaded.UserTags[2].ReadEnabled = true;
  stream.SetPosition(0);
  loaded.LoadImage(stream, 1);
  EXPECT_EQ(loaded.DocumentName, "doc");
  EXPECT_EQ(loaded.HostComputer, "host");
  EXPECT_EQ(loaded.Software, "Ovinex Image Library");
  EXPECT_EQ(loaded.ImageDescription, "");
  EXPECT_EQ(loaded.UserTags[0].Value, "zero");
  EXPECT_EQ(loaded.UserTags[1].Value, "");
  EXPECT_EQ(loaded.UserTags[2].Value, "two");

  TTiffGraphic notReading;
  notReading.UserTags[0].ReadEnabled = false;
  stream.SetPosition(0);
  notReading.LoadImage(stream, 1);
  EXPECT_EQ(notReading.UserTags[0].Value, "");
}

TEST(TiffRead, PackbitsBlackWhiteWithWhiteIsZeroIsInverted) {
  RawTiff raw("packbits_minwhite.tif");
  raw.Page(8, 1, 1, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(raw.tif, TIFFTAG_COMPRESSION, COMPRESSION_PACKBITS);
  std::uint8_t row = 0xF0;  // four black pixels, then four white
  TIFFWriteScanline(raw.tif, &row, 0, 0);
  raw.Close();
  auto loadedFile = LoadFile(raw.path);
  TTiffGraphic& loaded = *loadedFile;
  EXPECT_EQ(loaded.ImageKind(), ikBlackWhite);
  EXPECT_EQ(loaded.Compression(), tcPackbits);
  EXPECT_EQ(loaded.GetRgbPixel(0, 0), 0x000000u);
  EXPECT_EQ(loaded.GetRgbPixel(3, 0), 0x000000u);
  EXPECT_EQ(loaded.GetRgbPixel(4, 0), 0xFFFFFFu);
  EXPECT_EQ(loaded.DpiX(), 96);  // no resolution in the file: the screen's
}

TEST(TiffRead, RefusedCompressions) {
  for (const auto& [compression, message] :
       std::vector<std::pair<int, std::string>>{{COMPRESSION_LZW, "LZW compression not supported"},
                                                {COMPRESSION_ADOBE_DEFLATE,
                                                 "ETiffError Unsupported compression tag, 8"}}) {
    RawTiff raw("compression" + std::to_string(compression) + ".tif");
    raw.Page(4, 1, 8, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(raw.tif, TIFFTAG_COMPRESSION, compression);
    std::uint8_t row[4] = {1, 2, 3, 4};
    TIFFWriteScanline(raw.tif, row, 0, 0);
    raw.Close();
    EXPECT_EQ(ErrorOf([&] { LoadFile(raw.path); }), message);
  }
  RawTiff raw("lzw.tif");
  raw.Page(4, 1, 8, -1);
  TIFFSetField(raw.tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
  std::uint8_t row[4] = {};
  TIFFWriteScanline(raw.tif, row, 0, 0);
  raw.Close();
  EXPECT_THROW(LoadFile(raw.path), EOvinexError);
}

TEST(TiffRead, SixteenBitGreyTakesTheHighByte) {
  for (int photometric : {PHOTOMETRIC_MINISBLACK, PHOTOMETRIC_MINISWHITE}) {
    RawTiff raw("grey16_" + std::to_string(photometric) + ".tif");
    raw.Page(3, 2, 16, photometric);
    TIFFSetField(raw.tif, TIFFTAG_XRESOLUTION, 118.0);
    TIFFSetField(raw.tif, TIFFTAG_YRESOLUTION, 47.24);
    TIFFSetField(raw.tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_CENTIMETER);
    std::uint16_t rows[2][3] = {{0x0000, 0x12FF, 0xFFFF}, {0x8000, 0x0100, 0x7FFF}};
    TIFFWriteScanline(raw.tif, rows[0], 0, 0);
    TIFFWriteScanline(raw.tif, rows[1], 1, 0);
    raw.Close();
    auto loadedFile = LoadFile(raw.path);
    TTiffGraphic& loaded = *loadedFile;
    EXPECT_EQ(loaded.ImageKind(), ikGray256);
    EXPECT_EQ(loaded.DpiX(), 300);  // 118 per cm x 2.54 = 299.72
    EXPECT_EQ(loaded.DpiY(), 120);
    const std::uint8_t expected[2][3] = {{0x00, 0x12, 0xFF}, {0x80, 0x01, 0x7F}};
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x) {
        const int level = photometric == PHOTOMETRIC_MINISWHITE ? 255 - expected[y][x] : expected[y][x];
        EXPECT_EQ(loaded.GetPixelIndex(x, y), level) << x << "," << y;
      }
  }
}

// Files our strip reader does not take (tiles, separate planes, alpha, 2-bit grey, YCbCr
// JPEG) go through libtiff's RGBA reader; ImageMagick decodes each of them to the same colours.
class TiffGeneralPath : public ::testing::TestWithParam<std::string> {};

TEST_P(TiffGeneralPath, MatchesImageMagick) {
  const fs::path source = TempFile("general_source.tif");
  TTiffGraphic original;
  original.NewImage(33, 17, ikTrueColor, nullptr, 300, 300);
  for (int y = 0; y < 17; ++y)
    for (int x = 0; x < 33; ++x)
      original.SetRgbPixel(x, y, static_cast<std::uint32_t>((x * 7) << 16 | (y * 13) << 8 | 200));
  original.SaveToFile(source.string());
  const fs::path file = TempFile("general.tif");
  const std::string options = GetParam();
  ASSERT_EQ(Status("tiffcp " + options + " '" + source.string() + "' '" + file.string() + "'"), 0);
  auto loadedFile = LoadFile(file);
  TTiffGraphic& loaded = *loadedFile;
  const bool grey = loaded.ImageKind() == ikGray256;
  const auto pixels =
      RunBinary("convert '" + file.string() + "' -alpha off -depth 8 " + (grey ? "gray:-" : "rgb:-"));
  ASSERT_EQ(pixels.size(), 33u * 17 * (grey ? 1 : 3));
  for (int y = 0; y < 17; ++y)
    for (int x = 0; x < 33; ++x) {
      const std::uint32_t got = loaded.GetRgbPixel(x, y);
      if (grey) {
        ASSERT_NEAR(int(got & 255), pixels[std::size_t(y) * 33 + x], 1) << x << "," << y;
      } else {
        const std::uint8_t* p = &pixels[(std::size_t(y) * 33 + x) * 3];
        ASSERT_NEAR(int(got >> 16), p[0], 2) << x << "," << y;
        ASSERT_NEAR(int(got >> 8 & 255), p[1], 2) << x << "," << y;
        ASSERT_NEAR(int(got & 255), p[2], 2) << x << "," << y;
      }
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, TiffGeneralPath,
                         ::testing::Values("-t -w 16 -l 16", "-p separate", "-c jpeg:90",
                                         "-c jpeg:r:90"),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           return "case" + std::to_string(info.index);
                         });

TEST(TiffRead, JpegGreyWithWhiteIsZeroLooksLikeImageMagickSaysIt) {
  // libtiff's RGBA reader applies the photometric interpretation itself.
  RawTiff raw("jpeg_minwhite.tif");
  raw.Page(16, 8, 8, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(raw.tif, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
  TIFFSetField(raw.tif, TIFFTAG_ROWSPERSTRIP, 8);
  TIFFSetField(raw.tif, TIFFTAG_JPEGQUALITY, 100);
  for (std::uint32_t y = 0; y < 8; ++y) {
    std::uint8_t row[16];
    for (int x = 0; x < 16; ++x) row[x] = static_cast<std::uint8_t>(x < 8 ? 20 : 230);
    TIFFWriteScanline(raw.tif, row, y, 0);
  }
  raw.Close();
  auto loadedFile = LoadFile(raw.path);
  TTiffGraphic& loaded = *loadedFile;
  EXPECT_EQ(loaded.ImageKind(), ikGray256);
  const auto grey = RunBinary("convert '" + raw.path.string() + "' -depth 8 gray:-");
  ASSERT_EQ(grey.size(), 16u * 8);
  EXPECT_NEAR(grey[0], 235, 3);  // sample 20 with white as zero is light
  EXPECT_NEAR(loaded.GetPixelIndex(0, 0), grey[0], 3);
  EXPECT_NEAR(loaded.GetPixelIndex(15, 7), grey[15 + 7 * 16], 3);
}

TEST(TiffRead, GroupFourFromAnotherWriterWithBlackIsZeroCountsAsFax) {
  // Fax data is read as white-is-zero whatever the file says.
  RawTiff raw("g4_minblack.tif");
  raw.Page(8, 1, 1, PHOTOMETRIC_MINISBLACK);
  TIFFSetField(raw.tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
  std::uint8_t row = 0xC0;
  TIFFWriteScanline(raw.tif, &row, 0, 0);
  raw.Close();
  auto loadedFile = LoadFile(raw.path);
  TTiffGraphic& loaded = *loadedFile;
  EXPECT_EQ(loaded.Compression(), tcGroup4);
  EXPECT_EQ(loaded.GetPixelIndex(0, 0), 0);  // set bit: black
  EXPECT_EQ(loaded.GetPixelIndex(2, 0), 1);
}

TEST(TiffRead, PaletteOneBitFileKeepsItsColours) {
  RawTiff raw("palette1.tif");
  raw.Page(10, 1, 1, PHOTOMETRIC_PALETTE);
  std::uint16_t red[2] = {0xFFFF, 0}, green[2] = {0, 0}, blue[2] = {0, 0xFFFF};
  TIFFSetField(raw.tif, TIFFTAG_COLORMAP, red, green, blue);
  std::uint8_t row[2] = {0x55, 0x40};
  TIFFWriteScanline(raw.tif, row, 0, 0);
  raw.Close();
  auto loadedFile = LoadFile(raw.path);
  TTiffGraphic& loaded = *loadedFile;
  EXPECT_EQ(loaded.ImageKind(), ikColor16);
  for (int x = 0; x < 10; ++x) EXPECT_EQ(loaded.GetRgbPixel(x, 0), x % 2 ? 0x0000FFu : 0xFF0000u) << x;
}

TEST(TiffRead, WideColourMapsAreRefused) {
  RawTiff raw("palette16.tif");
  raw.Page(2, 1, 16, PHOTOMETRIC_PALETTE);
  std::vector<std::uint16_t> map(65536, 0x1234);
  TIFFSetField(raw.tif, TIFFTAG_COLORMAP, map.data(), map.data(), map.data());
  std::uint16_t row[2] = {1, 2};
  TIFFWriteScanline(raw.tif, row, 0, 0);
  raw.Close();
  EXPECT_EQ(ErrorOf([&] { LoadFile(raw.path); }),
            "ETiffError Palette images with more than 8 bits per pixel are not supported");
}

TEST(TiffRead, LibtiffsMessagesAreNotPrinted) {
  std::vector<std::uint8_t> bytes{'I', 'I', 42, 0, 200, 0, 0, 0, 1, 2, 3};
  ::testing::internal::CaptureStderr();
  TMemoryStream stream(bytes.data(), bytes.size());
  EXPECT_THROW(TTiffGraphic().LoadImage(stream, 1), ETiffError);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST(TiffRead, ProgressStartsAtZeroAndEndsAtHundred) {
  auto image = MakeImage(ikTrueColor, 8, 50);
  std::vector<int> reported;
  image->ProgressCallback = [&](const void*, std::uint8_t p) { reported.push_back(p); };
  TMemoryStream stream;
  image->SaveToStream(stream);
  ASSERT_FALSE(reported.empty());
  EXPECT_EQ(reported.front(), 0);
  EXPECT_EQ(reported.back(), 100);
  EXPECT_TRUE(std::is_sorted(reported.begin(), reported.end()));
  reported.clear();
  stream.SetPosition(0);
  image->LoadImage(stream, 1);
  EXPECT_EQ(reported.front(), 0);
  EXPECT_EQ(reported.back(), 100);
}

TEST(TiffWrite, AnEmptyImageWritesNothing) {
  // libtiff would write a directory with width 0, which no reader accepts.
  TTiffGraphic empty;
  TMemoryStream stream;
  EXPECT_EQ(ErrorOf([&] { empty.SaveToStream(stream); }), "ETiffError Cannot save an empty image");
  EXPECT_EQ(stream.Size(), 0);
}

TEST(TiffGraphicClass, AssignCopiesRowsPerStripButNotTexts) {
  auto source = MakeImage(ikTrueColor, 4, 4);
  source->RowsPerStrip = 2;
  source->Software = "source";
  TTiffGraphic target;
  target.Assign(source.get());
  EXPECT_EQ(target.RowsPerStrip, 2);
  EXPECT_EQ(target.Software, "");
  EXPECT_EQ(target.Compression(), tcPackbits);
  ExpectSamePixels(*source, target);
  EXPECT_EQ(FindImageFileFormat("tif")().get()->ClassName(), std::string("TTiffGraphic"));
  EXPECT_EQ(ImageFileFormatDescription("TIFF"), "TIFF file");
}

// libtiff is loaded by the first TIFF: a missing library or entry point is a sentence that names
// the package, not a crash.
TEST(TiffLibrary, AMissingLibraryOrEntryPointIsNamed) {
  std::string problem;
  EXPECT_EQ(TTiffLibrary::Load("libtiff-absent.so.6", problem), nullptr);
  EXPECT_EQ(problem.rfind("TIFF files need libtiff: install the package libtiff6 (libtiff-absent.so.6", 0), 0u)
      << problem;
  EXPECT_EQ(TTiffLibrary::Load("libz.so.1", problem), nullptr);
  EXPECT_EQ(problem, "TIFF files cannot be read or written: libz.so.1 lacks TIFFClientOpenExt");
  problem.clear();
  EXPECT_NE(TTiffLibrary::Load(TTiffLibrary::kLibrary, problem), nullptr) << problem;
}

}  // namespace
}  // namespace lumipage
