#include "dsm/RowConvert.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace lumipage::dsm {
namespace {

// Every width through a few 16-pixel steps, at every source and target offset within a vector
// (the aligned start the streaming stores need comes after 0 to 15 single pixels): the fast path
// writes exactly the plain loop's bytes and nothing past the row.
TEST(RgbToBgrRow, MatchesThePlainLoopByteForByte) {
  for (std::size_t width = 0; width <= 72; ++width) {
    for (std::size_t offset = 0; offset < 16; ++offset) {
      std::vector<std::uint8_t> src(3 * width + offset);
      for (std::size_t i = 0; i < src.size(); ++i) src[i] = static_cast<std::uint8_t>(i * 37 + width);
      std::vector<std::uint8_t> fast(3 * width + offset + 8, 0xEE);
      std::vector<std::uint8_t> plain = fast;
      RgbToBgrRow(src.data() + offset, fast.data() + offset, width);
      RgbToBgrRowPlain(src.data() + offset, plain.data() + offset, width);
      ASSERT_EQ(fast, plain) << "width " << width << " offset " << offset;
    }
  }
}

TEST(RgbToBgrRow, SwapsRedAndBlue) {
  const std::vector<std::uint8_t> rgb = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21};
  std::vector<std::uint8_t> bgr(rgb.size());
  RgbToBgrRow(rgb.data(), bgr.data(), 7);
  EXPECT_EQ(bgr, (std::vector<std::uint8_t>{3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10, 15, 14, 13, 18, 17, 16, 21, 20, 19}));
}

}  // namespace
}  // namespace lumipage::dsm
