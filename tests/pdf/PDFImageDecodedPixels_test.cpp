// The encoding rules of the decoded-pixels path, fed through BMP files built here byte by byte
// (so that the palette is exactly the one under test) and through decoded TIFF rows.
#include "pdf/PDFImageDecodedPixels.h"

#include <gtest/gtest.h>

#include "pdf/PDFImageBMP.h"
#include "pdf/PDFStructure.h"
#include "tests/pdf/PDFImageDecodedTestUtil.h"

namespace lumipage {
namespace {

std::string Le32(uint32_t v) {
  return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
}
std::string Le16(uint16_t v) { return {static_cast<char>(v), static_cast<char>(v >> 8)}; }

// A bottom-up BMP of the given depth; rows are given top first, unpadded.
std::string Bmp(int32_t w, int32_t h, int bits, const std::vector<uint32_t>& palette,
                const std::vector<std::string>& rowsTopFirst) {
  const size_t stride = (static_cast<size_t>(w) * bits + 31) / 32 * 4;
  std::string pixels;
  for (int32_t y = h - 1; y >= 0; --y) {
    std::string row = rowsTopFirst[static_cast<size_t>(y)];
    row.resize(stride, '\0');
    pixels += row;
  }
  std::string table;
  for (uint32_t c : palette) table += std::string{static_cast<char>(c), static_cast<char>(c >> 8), static_cast<char>(c >> 16), '\0'};
  const uint32_t offset = 14 + 40 + static_cast<uint32_t>(table.size());
  std::string info = Le32(40) + Le32(static_cast<uint32_t>(w)) + Le32(static_cast<uint32_t>(h)) + Le16(1) +
                     Le16(static_cast<uint16_t>(bits)) + Le32(0) + Le32(static_cast<uint32_t>(pixels.size())) +
                     Le32(0) + Le32(0) + Le32(static_cast<uint32_t>(palette.size())) + Le32(0);
  return "BM" + Le32(offset + static_cast<uint32_t>(pixels.size())) + Le32(0) + Le32(offset) + info + table + pixels;
}

struct Built {
  TPDFStructure Store;
  TBuiltImage Image;
  [[nodiscard]] std::string Entry(const char* key) const {
    const TPDFObject* v = Image.Stream->Dictionary()->Get(key);
    return v == nullptr ? "" : v->ToText();
  }
};

TEST(DecodedPixelsTest, OneBitDecodeFollowsPaletteEntryZero) {
  const std::vector<std::string> rows = {std::string("\xA0", 1), std::string("\x50", 1)};
  Built black;
  ASSERT_TRUE(BuildBmpImage(black.Store, Bmp(4, 2, 1, {0x000000, 0xFFFFFF}, rows), false, black.Image));
  EXPECT_EQ(black.Entry("ColorSpace"), "/DeviceGray");
  EXPECT_EQ(black.Entry("BitsPerComponent"), "1");
  EXPECT_EQ(black.Entry("Decode"), "[ 0 1 ]");
  EXPECT_EQ(black.Image.Stream->RawData(), std::string("\xA0\x50", 2));  // packed rows, top first
  Built white;
  ASSERT_TRUE(BuildBmpImage(white.Store, Bmp(4, 2, 1, {0xFFFFFF, 0x000000}, rows), false, white.Image));
  EXPECT_EQ(white.Entry("Decode"), "[ 1 0 ]");
  // Either way the page shows the BMP's colours.
  const auto painted = formatstest::RenderImage(*white.Image.Stream);
  EXPECT_EQ(painted.Samples[0], 0);       // bit 1 -> entry 1, black
  EXPECT_EQ(painted.Samples[3], 65535);   // bit 0 -> entry 0, white
}

TEST(DecodedPixelsTest, GreyOnlyForTheFull256EntryRamp) {
  std::vector<uint32_t> ramp;
  for (uint32_t i = 0; i < 256; ++i) ramp.push_back(i << 16 | i << 8 | i);
  const std::vector<std::string> rows = {std::string("\x00\x10\xFF", 3)};
  Built grey;
  ASSERT_TRUE(BuildBmpImage(grey.Store, Bmp(3, 1, 8, ramp, rows), false, grey.Image));
  EXPECT_EQ(grey.Entry("ColorSpace"), "/DeviceGray");
  EXPECT_EQ(grey.Image.Stream->RawData(), std::string("\x00\x10\xFF", 3));

  // 16 grey entries are not the ramp: stored as RGB.
  std::vector<uint32_t> sixteen(ramp.begin(), ramp.begin() + 16);
  Built rgb;
  ASSERT_TRUE(BuildBmpImage(rgb.Store, Bmp(3, 1, 8, sixteen, {std::string("\x00\x01\x0F", 3)}), false, rgb.Image));
  EXPECT_EQ(rgb.Entry("ColorSpace"), "/DeviceRGB");
  EXPECT_EQ(rgb.Entry("BitsPerComponent"), "8");
  EXPECT_EQ(rgb.Image.Stream->RawData(), std::string("\x00\x00\x00\x01\x01\x01\x0F\x0F\x0F", 9));

  // One entry off the ramp is enough.
  ramp[200] = 0xC8C8C9;
  Built off;
  ASSERT_TRUE(BuildBmpImage(off.Store, Bmp(3, 1, 8, ramp, rows), false, off.Image));
  EXPECT_EQ(off.Entry("ColorSpace"), "/DeviceRGB");
}

TEST(DecodedPixelsTest, CompressionFollowsTheSetting) {
  const std::string bmp = Bmp(2, 2, 24, {}, {std::string("\x01\x02\x03\x04\x05\x06", 6), std::string(6, '\x7f')});
  Built plain;
  ASSERT_TRUE(BuildBmpImage(plain.Store, bmp, false, plain.Image));
  EXPECT_EQ(plain.Entry("Filter"), "");
  // BGR in the file, RGB in the PDF.
  EXPECT_EQ(plain.Image.Stream->RawData().substr(0, 6), std::string("\x03\x02\x01\x06\x05\x04", 6));
  EXPECT_EQ(plain.Image.Kind, EPDFImageKind::Pixels);
  Built packed;
  ASSERT_TRUE(BuildBmpImage(packed.Store, bmp, true, packed.Image));
  EXPECT_EQ(packed.Entry("Filter"), "/FlateDecode");
  EXPECT_EQ(packed.Image.Stream->Decode(), plain.Image.Stream->RawData());
  EXPECT_EQ(packed.Entry("Type") + packed.Entry("Subtype"), "/XObject/Image");
}

TEST(DecodedPixelsTest, TiffRowsKeepGreyAndCmyk) {
  TPDFStructure store;
  TDecodedPixels grey;
  grey.Source = EPixelSource::Tiff;
  grey.Allocate(2, 1, 8);  // no palette: a TIFF grey page needs none
  grey.Photometric = 1;
  EXPECT_EQ(MakeDecodedPixelsStream(store, grey, false)->Dictionary()->Get("ColorSpace")->ToText(), "/DeviceGray");
  // WhiteIsZero grey is inverted by /Decode rather than shown as a negative.
  grey.Photometric = 0;
  EXPECT_EQ(MakeDecodedPixelsStream(store, grey, false)->Dictionary()->Get("Decode")->ToText(), "[ 1 0 ]");

  TDecodedPixels cmyk;
  cmyk.Source = EPixelSource::Tiff;
  cmyk.Photometric = 5;
  cmyk.Allocate(1, 1, 32);
  cmyk.Rows = {1, 2, 3, 4};
  TPDFStream* s = MakeDecodedPixelsStream(store, cmyk, false);
  EXPECT_EQ(s->Dictionary()->Get("ColorSpace")->ToText(), "/DeviceCMYK");
  EXPECT_EQ(s->RawData(), std::string("\1\2\3\4", 4));
  // Four samples that are not CMYK: RGB with the fourth dropped.
  cmyk.Photometric = 2;
  s = MakeDecodedPixelsStream(store, cmyk, false);
  EXPECT_EQ(s->Dictionary()->Get("ColorSpace")->ToText(), "/DeviceRGB");
  EXPECT_EQ(s->RawData(), std::string("\1\2\3", 3));
}

TEST(DecodedPixelsTest, BrokenBmpRefused) {
  const std::string good = Bmp(2, 2, 24, {}, {std::string(6, '\1'), std::string(6, '\2')});
  TPDFStructure store;
  TBuiltImage built;
  EXPECT_FALSE(BuildBmpImage(store, good.substr(0, 30), false, built));
  std::string badBits = good;
  badBits[28] = 7;
  EXPECT_FALSE(BuildBmpImage(store, badBits, false, built));
  std::string huge = good;
  huge.replace(18, 8, Le32(60000) + Le32(60000));
  EXPECT_FALSE(BuildBmpImage(store, huge, false, built));
}

}  // namespace
}  // namespace lumipage
