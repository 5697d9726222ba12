#include "imaging/DibGraphic.h"

#include <gtest/gtest.h>

#include <vector>

#include "ImagingTestUtil.h"
#include "imaging/DefaultPalettes.h"
#include "imaging/MemoryStream.h"
#include "platform/GlobalMemory.h"

namespace lumipage {
namespace {

using testing::DibHeader;
using testing::MakeDib;

// --- Layout --------------------------------------------------------------------------------

struct LayoutCase {
  TImageKind kind;
  std::int32_t width;
  std::uint32_t bytesPerRow;
  unsigned entries;
};

class DibLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(DibLayout, HeaderRowsAndPalette) {
  const LayoutCase c = GetParam();
  TDibGraphic image;
  image.NewImage(c.width, 2, c.kind, nullptr, 0, 0);
  EXPECT_EQ(image.BytesPerRow(), c.bytesPerRow);
  EXPECT_EQ(image.ImageSize(), 2u * c.bytesPerRow);
  const TBitmapInfoHeader& h = image.BitmapInfo().bmiHeader;
  EXPECT_EQ(h.biSize, 40u);
  EXPECT_EQ(h.biPlanes, 1);
  EXPECT_EQ(h.biBitCount, BitsPerPixelOf(c.kind));
  EXPECT_EQ(h.biClrUsed, c.entries);
  EXPECT_EQ(image.LogPalette().palNumEntries, c.entries);
  // Bottom-up: row 0 (the top) is the second row in memory.
  EXPECT_EQ(image.RowBits(0), image.Bits() + image.BytesPerRow());
  EXPECT_EQ(image.RowBits(1), image.Bits());
  EXPECT_EQ(image.DpiX(), kScreenDpi);
  EXPECT_EQ(image.DpiY(), kScreenDpi);
}

INSTANTIATE_TEST_SUITE_P(Kinds, DibLayout,
                         ::testing::Values(LayoutCase{ikTrueColor, 3, 12, 0}, LayoutCase{ikBlackWhite, 10, 4, 2},
                                           LayoutCase{ikBlackWhite, 33, 8, 2}, LayoutCase{ikGray16, 9, 8, 16},
                                           LayoutCase{ikColor16, 8, 4, 16}, LayoutCase{ikGray256, 5, 8, 256},
                                           LayoutCase{ikColor256, 4, 4, 256}));

TEST(DibGraphic, PixelBitsAndNibbles) {
  TDibGraphic bw;
  bw.NewImage(10, 1, ikBlackWhite, nullptr, 300, 300);
  EXPECT_EQ(bw.DpiX(), 300);
  bw.SetPixelIndex(0, 0, 1);
  EXPECT_EQ(bw.RowBits(0)[0], 0x80);  // pixel 0 is bit 7 of byte 0
  bw.SetPixelIndex(9, 0, 1);
  EXPECT_EQ(bw.RowBits(0)[1], 0x40);
  EXPECT_EQ(bw.GetRgbPixel(0, 0), 0xFFFFFFu);
  EXPECT_EQ(bw.GetRgbPixel(1, 0), 0x000000u);

  TDibGraphic g16;
  g16.NewImage(3, 1, ikGray16, nullptr, 0, 0);
  g16.SetPixelIndex(0, 0, 0xA);
  g16.SetPixelIndex(1, 0, 0x5);
  g16.SetPixelIndex(2, 0, 0xF);
  EXPECT_EQ(g16.RowBits(0)[0], 0xA5);
  EXPECT_EQ(g16.RowBits(0)[1], 0xF0);
  EXPECT_EQ(g16.GetRgbPixel(2, 0), 0xFFFFFFu);
  EXPECT_EQ(g16.GetRgbPixel(0, 0), 0xAAAAAAu);  // 17 * 10

  TDibGraphic tc;
  tc.NewImage(2, 1, ikTrueColor, nullptr, 0, 0);
  tc.SetRgbPixel(1, 0, 0x123456);
  EXPECT_EQ(tc.RowBits(0)[3], 0x56);  // blue first
  EXPECT_EQ(tc.RowBits(0)[5], 0x12);
  EXPECT_EQ(tc.GetRgbPixel(1, 0), 0x123456u);
  EXPECT_THROW({ (void)tc.GetPixelIndex(0, 0); }, EOvinexError);
  try {
    tc.SetPixelIndex(0, 0, 1);
    FAIL();
  } catch (const EOvinexError& e) {
    EXPECT_STREQ(e.what(), "The image does not have a palette");
  }
}

struct ThresholdCase {
  std::uint32_t color;
  std::uint8_t index;
};
class BlackWhiteThreshold : public ::testing::TestWithParam<ThresholdCase> {};

TEST_P(BlackWhiteThreshold, WhiteFromSum383) {
  TDibGraphic bw;
  bw.NewImage(1, 1, ikBlackWhite, nullptr, 0, 0);
  bw.SetRgbPixel(0, 0, GetParam().color);
  EXPECT_EQ(bw.GetPixelIndex(0, 0), GetParam().index);
}

INSTANTIATE_TEST_SUITE_P(Sums, BlackWhiteThreshold,
                         ::testing::Values(ThresholdCase{0x7F7F7F, 0},    // 381
                                           ThresholdCase{0x7E8080, 0},    // 382
                                           ThresholdCase{0x7F8080, 1},    // 383
                                           ThresholdCase{0x808080, 1},    // 384
                                           ThresholdCase{0x000000, 0}, ThresholdCase{0xFFFFFF, 1}));

TEST(DibGraphic, DuplicatePaletteColourStoresLowerIndexAndCacheAgrees) {
  TLogPalette p{};
  p.palVersion = kPaletteVersion;
  p.palNumEntries = 4;
  p.palPalEntry[0] = {10, 10, 10, 0};
  p.palPalEntry[1] = {200, 100, 50, 0};
  p.palPalEntry[2] = {200, 100, 50, 0};
  p.palPalEntry[3] = {0, 0, 0, 0};
  TDibGraphic image;
  image.NewImage(4, 1, ikColor256, &p, 0, 0);
  EXPECT_EQ(image.LogPalette().palNumEntries, 4);
  for (int x = 0; x < 4; ++x) image.SetRgbPixel(x, 0, 0xC86432);  // exact duplicate colour
  for (int x = 0; x < 4; ++x) EXPECT_EQ(image.GetPixelIndex(x, 0), 1);
  image.SetRgbPixel(0, 0, 0xC86433);  // nearest is still entry 1 (first of the two)
  EXPECT_EQ(image.GetPixelIndex(0, 0), 1);
  image.SetRgbPixel(1, 0, 0x000000);
  EXPECT_EQ(image.GetPixelIndex(1, 0), 3);
}

TEST(DibGraphic, ConverterCacheSlotsReplaceOnCollision) {
  TLogPalette p = *DefaultPalette(ikGray256);
  TRgbToPaletteConverter conv(&p);
  EXPECT_EQ(conv.ColorToIndex(0x101010), 0x10);
  EXPECT_EQ(conv.ColorToIndex(0x101010), 0x10);
  EXPECT_EQ(conv.Hits(), 1u);
  // Same slot (colour mod 1020), different colour (16, 20, 12): a miss that replaces the slot,
  // so the first colour misses again afterwards.
  EXPECT_EQ(conv.ColorToIndex(0x101010 + 1020), 16);
  EXPECT_EQ(conv.ColorToIndex(0x101010), 0x10);
  EXPECT_EQ(conv.Misses(), 3u);
}

TEST(DibGraphic, DefaultPalettes) {
  const TLogPalette& c16 = *DefaultPalette(ikColor16);
  EXPECT_EQ(c16.palPalEntry[6].peRed, 170);
  EXPECT_EQ(c16.palPalEntry[6].peGreen, 85);
  const TLogPalette& c256 = *DefaultPalette(ikColor256);
  ASSERT_EQ(c256.palNumEntries, 256);
  const int ramp[] = {0, 20, 32, 44, 56, 69, 81, 97, 113, 130, 146, 162, 182, 203, 227, 255};
  for (int i = 0; i < 16; ++i) EXPECT_EQ(c256.palPalEntry[16 + i].peRed, ramp[i]) << i;
  const int ring[6][3] = {{0, 0, 255}, {65, 0, 255}, {125, 0, 255}, {190, 0, 255}, {255, 0, 255}, {255, 0, 190}};
  for (int i = 0; i < 6; ++i) {
    const TPaletteEntry& e = c256.palPalEntry[32 + i];
    EXPECT_EQ(e.peRed, ring[i][0]);
    EXPECT_EQ(e.peGreen, ring[i][1]);
    EXPECT_EQ(e.peBlue, ring[i][2]);
  }
  for (int i = 248; i < 256; ++i) EXPECT_EQ(c256.palPalEntry[i].peRed + c256.palPalEntry[i].peBlue, 0);
  EXPECT_EQ(DefaultPalette(ikGray16)->palPalEntry[15].peGreen, 255);
  EXPECT_EQ(DefaultPalette(ikTrueColor), nullptr);
  EXPECT_EQ(ImageKindName(0), "Black and white");
  EXPECT_EQ(ImageKindName(1), "16 shades of gray");
  EXPECT_EQ(ImageKindName(5), "True color");
  EXPECT_EQ(ImageKindName(6), "");
}

TEST(DibGraphic, ResolutionReadsBack) {
  for (std::uint16_t dpi : {1, 72, 96, 150, 200, 300, 600, 1200, 2400, 65535}) {
    TDibGraphic image;
    image.NewImage(1, 1, ikTrueColor, nullptr, dpi, dpi);
    EXPECT_EQ(image.DpiX(), dpi);
  }
  EXPECT_EQ(DpiToPelsPerMeter(300), 11811);
  EXPECT_EQ(PelsPerMeterToDpi(11811), 300);
}

TEST(DibGraphic, ErrorsOfShapeAndKind) {
  TDibGraphic image;
  try {
    image.SetWidth(5);
    FAIL();
  } catch (const EOvinexError& e) {
    EXPECT_STREQ(e.what(), "Dimensions must be change with the NewImage method");
  }
  try {
    image.NewImage(1, 1, static_cast<TImageKind>(6), nullptr, 0, 0);
    FAIL();
  } catch (const EOvinexError& e) {
    EXPECT_STREQ(e.what(), "Internal error: Invalid image format");
  }
  EXPECT_TRUE(image.Empty());
  // Absurd sizes fail without allocating and leave the image empty.
  EXPECT_THROW(image.NewImage(100000, 100000, ikTrueColor, nullptr, 0, 0), EOutOfResources);
  EXPECT_THROW(image.NewImage(0, 5, ikTrueColor, nullptr, 0, 0), EOutOfResources);
  EXPECT_THROW(image.NewImage(30000, 30000, ikTrueColor, nullptr, 0, 0), EOutOfResources);
  EXPECT_TRUE(image.Empty());
  EXPECT_EQ(image.Width(), 0);
  try {
    TMemoryStream stream;
    image.AppendToStream(stream);
    FAIL();
  } catch (const EOvinexError& e) {
    EXPECT_STREQ(e.what(), "The TDibGraphic format does not support multiple images");
  }
  EXPECT_THROW((void)image.Canvas(), Exception);
  try {
    image.SelectFrame(1);
    FAIL();
  } catch (const EOvinexError& e) {
    EXPECT_STREQ(e.what(), "Frame 1 does not exist");
  }
}

TEST(DibGraphic, TransparentColourByCornerOrCustom) {
  TDibGraphic image;
  image.NewImage(2, 2, ikTrueColor, nullptr, 0, 0);
  image.SetRgbPixel(0, 1, 0x010203);
  image.SetRgbPixel(1, 0, 0x0A0B0C);
  EXPECT_EQ(image.TransparentRgb(), 0x010203u);  // default: bottom-left
  image.TransparentPixel = tpTopRight;
  EXPECT_EQ(image.TransparentRgb(), 0x0A0B0Cu);
  image.TransparentPixel = tpCustom;
  image.TransparentColor = clRed;  // platform order: red in the low byte
  EXPECT_EQ(image.TransparentRgb(), 0xFF0000u);
  image.TransparentPixel = static_cast<TTransparentPixel>(5);
  try {
    (void)image.TransparentRgb();
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Invalid TransparentPixel");
  }
}

TEST(DibGraphic, FillColorPaintsEveryRow) {
  TDibGraphic image;
  image.NewImage(5, 3, ikColor16, nullptr, 0, 0);
  image.FillColor(0xAA0000);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(image.GetPixelIndex(x, y), 4);
  TDibGraphic empty;
  empty.FillColor(0);  // nothing to do
}

// --- Packed DIBs ---------------------------------------------------------------------------

TEST(DibHandle, GreyTableLoadsAsColor256WithItsPalette) {
  std::vector<TRgbQuad> table(256);
  for (int i = 0; i < 256; ++i)
    table[i] = {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i), 0};
  std::vector<std::uint8_t> pixels = {1, 2, 3, 0, 250, 251, 252, 0};  // bottom row first
  platform::GlobalBlock dib(MakeDib(DibHeader(3, 2, 8, 11811), table, pixels));
  TDibGraphic image;
  image.LoadFromDibHandle(dib.get());
  EXPECT_EQ(image.ImageKind(), ikColor256);
  EXPECT_EQ(image.DpiX(), 300);
  EXPECT_EQ(image.DpiY(), 300);
  EXPECT_EQ(image.GetPixelIndex(0, 0), 250);  // top row is the second in the block
  EXPECT_EQ(image.GetPixelIndex(2, 1), 3);
  EXPECT_EQ(image.GetRgbPixel(1, 0), 0xFBFBFBu);
  EXPECT_TRUE(platform::GlobalIsValid(dib.get()));  // the caller keeps the handle
}

TEST(DibHandle, ColourTableOrderAndScreenResolutionForZero) {
  std::vector<TRgbQuad> table = {{10, 20, 30, 0}, {0, 0, 0, 0}};
  platform::GlobalBlock dib(MakeDib(DibHeader(1, 1, 1, 0, 2), table, {0, 0, 0, 0}));
  TDibGraphic image;
  image.LoadFromDibHandle(dib.get());
  EXPECT_EQ(image.ImageKind(), ikBlackWhite);
  EXPECT_EQ(image.GetRgbPixel(0, 0), 0x1E140Au);
  EXPECT_EQ(image.LogPalette().palPalEntry[0].peRed, 30);
  EXPECT_EQ(image.DpiX(), kScreenDpi);
}

TEST(DibHandle, SixteenAndThirtyTwoBitsBecomeTrueColour) {
  // 16 bits, 5-5-5: pure red (0x7C00) and white (0x7FFF); a 2-pixel row is 4 bytes.
  platform::GlobalBlock dib16(MakeDib(DibHeader(2, 1, 16, 3780), {}, {0x00, 0x7C, 0xFF, 0x7F}));
  TDibGraphic a;
  a.LoadFromDibHandle(dib16.get());
  EXPECT_EQ(a.ImageKind(), ikTrueColor);
  EXPECT_EQ(a.GetRgbPixel(0, 0), 0xFF0000u);
  EXPECT_EQ(a.GetRgbPixel(1, 0), 0xFFFFFFu);
  EXPECT_EQ(a.DpiX(), 96);
  platform::GlobalBlock dib32(MakeDib(DibHeader(1, 2, 32), {}, {1, 2, 3, 0, 4, 5, 6, 0}));
  TDibGraphic b;
  b.LoadFromDibHandle(dib32.get());
  EXPECT_EQ(b.GetRgbPixel(0, 1), 0x030201u);
  EXPECT_EQ(b.GetRgbPixel(0, 0), 0x060504u);
}

struct BadDibCase {
  const char* name;
  TBitmapInfoHeader header;
  std::size_t tableEntries;
  std::size_t pixelBytes;
  const char* message;
};

class BadDib : public ::testing::TestWithParam<BadDibCase> {};

TEST_P(BadDib, RaisesClearError) {
  const BadDibCase& c = GetParam();
  platform::GlobalBlock dib(MakeDib(c.header, std::vector<TRgbQuad>(c.tableEntries), std::vector<std::uint8_t>(c.pixelBytes)));
  TDibGraphic image;
  image.NewImage(2, 2, ikTrueColor, nullptr, 0, 0);
  try {
    image.LoadFromDibHandle(dib.get());
    FAIL() << c.name;
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), c.message) << c.name;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadDib,
    ::testing::Values(BadDibCase{"bits2", DibHeader(4, 4, 2), 4, 16, "Unsupported bit count"},
                      BadDibCase{"bits0", DibHeader(4, 4, 0), 0, 16, "Unsupported bit count"},
                      BadDibCase{"absurd", DibHeader(100000, 100000, 24), 0, 64, "Invalid HDIB"},
                      BadDibCase{"zeroWidth", DibHeader(0, 4, 24), 0, 64, "Invalid HDIB"},
                      BadDibCase{"negativeWidth", DibHeader(-4, 4, 24), 0, 64, "Invalid HDIB"},
                      BadDibCase{"tooManyColours", DibHeader(4, 4, 4, 0, 17), 17, 64, "Invalid HDIB"},
                      BadDibCase{"truncatedPixels", DibHeader(4, 4, 24), 0, 47, "Invalid HDIB"},
                      BadDibCase{"truncatedTable", DibHeader(4, 1, 8), 10, 0, "Invalid HDIB"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DibHandle, DecodedBitmapImportChecksItsPixelsAndDepth) {
  TDecodedBitmap bitmap;
  bitmap.Header = DibHeader(4, 2, 24, 3780);
  bitmap.Bits.assign(24, 7);
  TDibGraphic image;
  image.LoadFromBitmapHandle(bitmap);
  EXPECT_EQ(image.GetRgbPixel(3, 1), 0x070707u);
  EXPECT_EQ(image.DpiX(), 96);
  bitmap.Bits.resize(23);
  try {
    image.LoadFromBitmapHandle(bitmap);
    FAIL();
  } catch (const EInvalidGraphic& e) {
    EXPECT_STREQ(e.what(), "Invalid bitmap");
  }
  bitmap.Header.biBitCount = 16;
  bitmap.Bits.assign(16, 0);
  EXPECT_THROW(image.LoadFromBitmapHandle(bitmap), EOvinexError);
}

TEST(DibHandle, CompressedWithoutImageSizeIsInvalid) {
  TBitmapInfoHeader h = DibHeader(4, 4, 8);
  h.biCompression = BI_RLE8;
  platform::GlobalBlock dib(MakeDib(h, std::vector<TRgbQuad>(256), std::vector<std::uint8_t>(8)));
  TDibGraphic image;
  try {
    image.LoadFromDibHandle(dib.get());
    FAIL();
  } catch (const EOvinexError& e) {
    EXPECT_STREQ(e.what(), "Invalid HDIB");
  }
}

TEST(DibHandle, SaveAndReloadRoundTripsEveryKind) {
  for (int k = 0; k <= 5; ++k) {
    TDibGraphic image;
    image.NewImage(7, 3, static_cast<TImageKind>(k), nullptr, 200, 150);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 7; ++x) image.SetRgbPixel(x, y, static_cast<std::uint32_t>(x * 0x251A07 + y * 0x0B3366));
    platform::GlobalBlock dib(image.SaveToDibHandle());
    ASSERT_TRUE(dib);
    TDibGraphic back;
    back.LoadFromDibHandle(dib.get());
    // Grey kinds come back as colour kinds with the same table.
    EXPECT_EQ(BitsPerPixelOf(back.ImageKind()), BitsPerPixelOf(image.ImageKind()));
    EXPECT_EQ(testing::PixelBytes(back), testing::PixelBytes(image)) << k;
    for (int x = 0; x < 7; ++x) EXPECT_EQ(back.GetRgbPixel(x, 1), image.GetRgbPixel(x, 1));
    EXPECT_EQ(back.DpiX(), 200);
    EXPECT_EQ(back.DpiY(), 150);
  }
  TDibGraphic empty;
  EXPECT_EQ(empty.SaveToDibHandle(), nullptr);
}

// A block that is not needed any more is kept, not copied: same pixels as a copy, the handle is
// gone, and a later NewImage gets a fresh zeroed buffer, not the block again.
TEST(DibHandle, TakeKeepsPlainBottomUpBlocksAndCopiesTheRest) {
  for (int k = 0; k <= 5; ++k) {
    TDibGraphic image;
    image.NewImage(9, 4, static_cast<TImageKind>(k), nullptr, 300, 300);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 9; ++x) image.SetRgbPixel(x, y, static_cast<std::uint32_t>(x * 0x1F2E3D + y * 0x0C0B0A));
    platform::GlobalBlock block(image.SaveToDibHandle());
    const platform::HGLOBAL dib = block.get();
    TDibGraphic copied;
    copied.LoadFromDibHandle(dib);
    TDibGraphic taken;
    EXPECT_TRUE(taken.TakeDibHandle(block)) << k;
    EXPECT_FALSE(block);  // the owner let go of it
    EXPECT_FALSE(platform::GlobalIsValid(dib));
    EXPECT_EQ(testing::PixelBytes(taken), testing::PixelBytes(copied)) << k;
    EXPECT_EQ(taken.ImageKind(), copied.ImageKind());
    EXPECT_EQ(taken.DpiX(), 300);
    taken.NewImage(9, 4, static_cast<TImageKind>(k), nullptr, 0, 0);
    EXPECT_EQ(testing::PixelBytes(taken), std::vector<std::uint8_t>(taken.ImageSize(), 0)) << k;
  }

  // Top-down rows, a locked block and 16 bits are copied; the caller keeps those handles.
  platform::GlobalBlock topDown(MakeDib(DibHeader(1, -2, 24), {}, {1, 2, 3, 0, 4, 5, 6, 0}));
  platform::GlobalBlock locked(MakeDib(DibHeader(1, 2, 24), {}, {1, 2, 3, 0, 4, 5, 6, 0}));
  platform::GlobalBlock sixteen(MakeDib(DibHeader(2, 1, 16), {}, {0x00, 0x7C, 0xFF, 0x7F}));
  platform::GlobalLockGuard hold(locked.get());
  for (platform::GlobalBlock* block : {&topDown, &locked, &sixteen}) {
    TDibGraphic image;
    EXPECT_FALSE(image.TakeDibHandle(*block));
    EXPECT_TRUE(platform::GlobalIsValid(block->get()));
    EXPECT_FALSE(image.Empty());
  }
  TDibGraphic image;
  EXPECT_FALSE(image.TakeDibHandle(locked));
  EXPECT_EQ(image.GetRgbPixel(0, 0), 0x060504u);  // the top row is the second in the block
}

// Taking an image moves it: the same pixels, palette and resolution as a copy, the source
// empty, and a palette image still maps colours through its own (not the source's) palette.
TEST(DibGraphic, TakeImageMovesPixelsAndPalette) {
  for (int k = 0; k <= 5; ++k) {
    TDibGraphic source;
    source.NewImage(5, 3, static_cast<TImageKind>(k), nullptr, 200, 150);
    for (int x = 0; x < 5; ++x) source.SetRgbPixel(x, 1, static_cast<std::uint32_t>(x * 0x3F2A11));
    TDibGraphic copy;
    copy.Assign(&source);
    TDibGraphic taken;
    taken.TakeImage(source);
    EXPECT_TRUE(source.Empty());
    EXPECT_EQ(taken.ImageKind(), copy.ImageKind());
    EXPECT_EQ(testing::PixelBytes(taken), testing::PixelBytes(copy)) << k;
    EXPECT_EQ(taken.DpiX(), 200);
    EXPECT_EQ(taken.DpiY(), 150);
    taken.SetRgbPixel(0, 0, 0xFFFFFF);
    copy.SetRgbPixel(0, 0, 0xFFFFFF);
    EXPECT_EQ(taken.GetRgbPixel(0, 0), copy.GetRgbPixel(0, 0)) << k;
  }
  TDibGraphic empty;
  TDibGraphic target;
  target.NewImage(2, 2, ikTrueColor, nullptr, 0, 0);
  target.TakeImage(empty);
  EXPECT_TRUE(target.Empty());
}

TEST(DibGraphic, AssignKeepsZeroResolutionAndEmptiness) {
  TDibGraphic source;
  source.NewImage(4, 2, ikGray256, nullptr, 0, 0);
  source.SetDpiX(0);
  source.SetDpiY(0);
  source.SetRgbPixel(3, 1, 0x404040);
  source.AnimationDelay = 77;
  TDibGraphic copy;
  copy.Assign(&source);
  EXPECT_EQ(copy.DpiX(), 0);
  EXPECT_EQ(copy.DpiY(), 0);
  EXPECT_EQ(copy.ImageKind(), ikGray256);
  EXPECT_EQ(copy.GetRgbPixel(3, 1), 0x404040u);
  EXPECT_EQ(copy.AnimationDelay, 77u);
  TDibGraphic empty;
  copy.Assign(&empty);
  EXPECT_TRUE(copy.Empty());
  EXPECT_EQ(copy.Width(), 0);
  copy.Assign(&source);
  copy.Assign(nullptr);
  EXPECT_TRUE(copy.Empty());
}

TEST(Progress, ReportsOnlyChangesWithinRange) {
  std::vector<int> seen;
  TProgressEvent cb = [&](const void*, std::uint8_t p) { seen.push_back(p); };
  std::uint8_t last = kNoProgress;
  last = DoProgress(cb, nullptr, 0, 0, 10, last);
  last = DoProgress(cb, nullptr, 0, 0, 10, last);
  last = DoProgress(cb, nullptr, 5, 0, 10, last);
  last = DoProgress(cb, nullptr, 20, 0, 10, last);
  last = DoProgress(cb, nullptr, -3, 0, 10, last);
  last = DoProgress(cb, nullptr, 7, 5, 5, last);  // maximum <= minimum: 0, unchanged
  EXPECT_EQ(seen, (std::vector<int>{0, 50, 100, 0}));
  EXPECT_EQ(DoProgress({}, nullptr, 1, 0, 3, kNoProgress), 33);
}

}  // namespace
}  // namespace lumipage
