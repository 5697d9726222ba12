#include "pdf/PDFImageMetafile.h"

#include <gtest/gtest.h>

#include "pdf/PDFStructure.h"

namespace lumipage {
namespace {

std::string Le32(uint32_t v) {
  return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
}
std::string Le16(uint16_t v) { return {static_cast<char>(v), static_cast<char>(v >> 8)}; }

std::string Placeable(int16_t left, int16_t top, int16_t right, int16_t bottom, uint16_t inch) {
  std::string h = Le32(0x9AC6CDD7) + Le16(0) + Le16(static_cast<uint16_t>(left)) + Le16(static_cast<uint16_t>(top)) +
                  Le16(static_cast<uint16_t>(right)) + Le16(static_cast<uint16_t>(bottom)) + Le16(inch) + Le32(0);
  uint16_t sum = 0;
  for (size_t i = 0; i < 20; i += 2) sum ^= static_cast<uint16_t>(static_cast<uint8_t>(h[i]) | static_cast<uint8_t>(h[i + 1]) << 8);
  h += Le16(sum);
  // Standard header: disk metafile, 9 words, version 3, then the end record.
  h += Le16(1) + Le16(9) + Le16(0x300) + Le32(12) + Le16(0) + Le32(3) + Le16(0);
  return h + Le32(3) + Le16(0);
}

std::string Enhanced(int32_t l, int32_t t, int32_t r, int32_t b) {
  std::string h = Le32(1) + Le32(88) + std::string(16, '\0') + Le32(static_cast<uint32_t>(l)) +
                  Le32(static_cast<uint32_t>(t)) + Le32(static_cast<uint32_t>(r)) + Le32(static_cast<uint32_t>(b)) +
                  " EMF" + Le32(0x10000) + Le32(108) + Le32(2) + std::string(28, '\0');
  h.resize(88, '\0');
  return h + Le32(14) + Le32(20) + std::string(12, '\0');  // EMR_EOF
}

TEST(MetafileTest, SizeFromHeaderAndAnEmptyForm) {
  TPDFStructure store;
  TBuiltImage built;
  // 2 by 1 inches in twips: 192 by 96 pixels at the screen resolution.
  ASSERT_TRUE(BuildMetafileImage(store, Placeable(0, 0, 2880, 1440, 1440), false, built));
  EXPECT_EQ(built.Width, 192);
  EXPECT_EQ(built.Height, 96);
  EXPECT_EQ(built.Kind, EPDFImageKind::Metafile);
  EXPECT_EQ(built.HorizontalResolution, 0);
  EXPECT_EQ(built.ResolutionUnit, 0);
  const TPDFDictionary* d = built.Stream->Dictionary();
  EXPECT_EQ(d->Get("Subtype")->ToText(), "/Form");
  EXPECT_EQ(d->Get("FormType")->ToText(), "1");
  EXPECT_EQ(d->Get("BBox")->ToText(), "[ 0 0 1000 1000 ]");
  EXPECT_EQ(d->Get("Matrix")->ToText(), "[ 0.001 0 0 0.001 0 0 ]");
  EXPECT_TRUE(built.Stream->RawData().empty());

  // EMF frame in hundredths of a millimetre: 1 by 2 inches.
  TBuiltImage emf;
  ASSERT_TRUE(BuildMetafileImage(store, Enhanced(0, 0, 2540, 5080), true, emf));
  EXPECT_EQ(emf.Width, 96);
  EXPECT_EQ(emf.Height, 192);
}

TEST(MetafileTest, BrokenHeadersRefused) {
  TPDFStructure store;
  TBuiltImage built;
  EXPECT_FALSE(BuildMetafileImage(store, Placeable(0, 0, 2880, 1440, 0), false, built));    // no units
  EXPECT_FALSE(BuildMetafileImage(store, Placeable(10, 0, 10, 1440, 1440), false, built));  // no width
  EXPECT_FALSE(BuildMetafileImage(store, Placeable(0, 0, 2880, 1440, 1440).substr(0, 30), false, built));
  std::string badType = Placeable(0, 0, 2880, 1440, 1440);
  badType[22] = 7;
  EXPECT_FALSE(BuildMetafileImage(store, badType, false, built));
  EXPECT_FALSE(BuildMetafileImage(store, Enhanced(0, 0, 2540, 5080).substr(0, 60), true, built));
  EXPECT_FALSE(BuildMetafileImage(store, Enhanced(0, 0, 0, 5080), true, built));
  // A frame spanning the whole 32-bit range is measured without overflow.
  ASSERT_TRUE(BuildMetafileImage(store, Enhanced(INT32_MIN, 0, INT32_MAX, 5080), true, built));
  EXPECT_EQ(built.Width, 162329473);
}

}  // namespace
}  // namespace lumipage
