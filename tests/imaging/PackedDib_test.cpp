#include "imaging/PackedDib.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ImagingTestUtil.h"
#include "imaging/BitmapGraphic.h"
#include "imaging/MemoryStream.h"
#include "platform/GlobalMemory.h"

namespace lumipage {
namespace {

TEST(PackedDib, StrideIsPaddedToFourBytes) {
  struct Case {
    std::uint64_t width;
    unsigned bits;
    std::uint64_t stride;
  };
  for (const Case& c : {Case{1, 1, 4}, Case{32, 1, 4}, Case{33, 1, 8}, Case{7, 4, 4}, Case{9, 4, 8}, Case{3, 8, 4},
                        Case{5, 8, 8}, Case{1, 24, 4}, Case{3, 24, 12}, Case{5, 24, 16}, Case{0, 24, 0}}) {
    EXPECT_EQ(DibStride(c.width, c.bits), c.stride) << c.width << " x " << c.bits;
  }
}

TEST(PackedDib, ResolutionRoundsToNearestWithHalvesAwayFromZero) {
  struct Case {
    std::int32_t pels;
    std::int64_t dpi;
  };
  // 2500 and 7500 pixels per metre are exactly 63.5 and 190.5 dpi.
  for (const Case& c : {Case{2835, 72}, Case{3780, 96}, Case{3937, 100}, Case{11811, 300}, Case{2500, 64},
                        Case{7500, 191}, Case{-7500, -191}, Case{0, 0}, Case{19, 0}, Case{20, 1}}) {
    EXPECT_EQ(DpiFromPelsPerMetre(c.pels), c.dpi) << c.pels;
  }
  EXPECT_EQ(PelsPerMetreFromDpi(72), 2835);
  EXPECT_EQ(PelsPerMetreFromDpi(150), 5906);
  EXPECT_EQ(PelsPerMetreFromDpi(300), 11811);
  EXPECT_EQ(PelsPerMetreFromDpi(1e12), 0);  // beyond the header field
  // Every 16-bit resolution survives the trip through the header.
  for (int dpi = 1; dpi <= 65535; ++dpi) ASSERT_EQ(DpiFromPelsPerMetre(PelsPerMetreFromDpi(dpi)), dpi);
}

// A header's resolution reads the same through a BMP file, a packed DIB and a decoded bitmap, and
// as the source manager reports a page file's (which always rounded halves up): 190.5 dpi is 191.
TEST(PackedDib, EveryReaderRoundsTheHeaderResolutionAlike) {
  const TBitmapInfoHeader header = testing::DibHeader(4, 2, 24, 7500);
  const std::vector<std::uint8_t> rows(2 * DibStride(4, 24), 0x5A);

  TDibGraphic fromDib;
  platform::GlobalBlock block(testing::MakeDib(header, {}, rows));
  fromDib.LoadFromDibHandle(block.get());
  EXPECT_EQ(fromDib.DpiX(), 191);

  TDibGraphic fromDecoded;
  fromDecoded.LoadFromBitmapHandle(TDecodedBitmap{header, {}, rows});
  EXPECT_EQ(fromDecoded.DpiY(), 191);

  TMemoryStream file;
  const std::uint8_t fileHeader[14] = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0};
  file.WriteBuffer(fileHeader, sizeof fileHeader);
  file.WriteBuffer(&header, sizeof header);
  file.WriteBuffer(rows.data(), rows.size());
  file.SetPosition(0);
  TBitmapGraphic fromFile;
  fromFile.LoadFromStream(file);
  EXPECT_EQ(fromFile.DpiX(), 191);
}

TEST(PackedDib, BuilderAndReaderAgree) {
  const TBitmapInfoHeader h = PackedDibHeader(10, 3, 8, 2, 300, 150);
  EXPECT_EQ(h.biSizeImage, 3 * 12u);
  EXPECT_EQ(h.biXPelsPerMeter, 11811);
  EXPECT_EQ(h.biYPelsPerMeter, 5906);
  EXPECT_EQ(PackedDibSize(h), 40u + 8 + 36);
  std::vector<std::uint8_t> block(PackedDibSize(h), 0);
  const TRgbQuad table[2] = {{0, 0, 0, 0}, {255, 255, 255, 0}};
  std::uint8_t* rows = WritePackedDibHead(block.data(), h, table);
  EXPECT_EQ(rows - block.data(), 48);
  const auto view = ReadPackedDib(block.data(), block.size(), 100);
  ASSERT_TRUE(view);
  EXPECT_TRUE(view->Plain());
  EXPECT_EQ(view->Colours, 2u);
  EXPECT_EQ(view->Pixels, rows);
  EXPECT_EQ(view->Size(), block.size());
  EXPECT_EQ(std::memcmp(view->Table + 4, &table[1], 4), 0);
}

TEST(PackedDib, ReaderRefusesWhatDoesNotFitItsBlock) {
  struct Case {
    const char* what;
    TBitmapInfoHeader header;
    std::size_t extra;  // bytes after the header
  };
  auto with = [](auto change) {
    TBitmapInfoHeader h = PackedDibHeader(4, 2, 8, 0, 0, 0);
    change(h);
    return h;
  };
  const std::size_t whole = 4 * 256 + 8;
  const std::vector<Case> refused = {
      {"rows cut short", PackedDibHeader(4, 2, 8, 0, 0, 0), whole - 1},
      {"table larger than the depth", with([](auto& h) { h.biClrUsed = 257; }), 4 * 257 + 8},
      {"no height", with([](auto& h) { h.biHeight = 0; }), whole},
      {"too wide", with([](auto& h) { h.biWidth = 101; }), 1 << 16},
      {"too tall upside down", with([](auto& h) { h.biHeight = -101; }), 1 << 16},
      {"depth", with([](auto& h) { h.biBitCount = 7; }), whole},
      {"compressed without a size", with([](auto& h) { h.biCompression = BI_RLE8; h.biSizeImage = 0; }), whole},
      {"header beyond the block", with([](auto& h) { h.biSize = 4096; }), whole},
  };
  for (const Case& c : refused) {
    std::vector<std::uint8_t> block(sizeof c.header + c.extra, 0);
    std::memcpy(block.data(), &c.header, sizeof c.header);
    EXPECT_FALSE(ReadPackedDib(block.data(), block.size(), 100)) << c.what;
  }
  TBitmapInfoHeader topDown = PackedDibHeader(4, 2, 24, 0, 0, 0);
  topDown.biHeight = -2;
  std::vector<std::uint8_t> block(sizeof topDown + 2 * 12, 0);
  std::memcpy(block.data(), &topDown, sizeof topDown);
  const auto view = ReadPackedDib(block.data(), block.size(), 100);
  ASSERT_TRUE(view);
  EXPECT_TRUE(view->TopDown);
  EXPECT_EQ(view->Height, 2);
}

}  // namespace
}  // namespace lumipage
