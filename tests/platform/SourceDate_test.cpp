// SOURCE_DATE_EPOCH: only a plain count of seconds that a four-digit year can state is used; any
// other value is as if it were not set, so the job writes today's date instead of a wrong one.
#include "platform/SourceDate.h"

#include <gtest/gtest.h>

namespace lumipage::platform {
namespace {

TEST(SourceDateEpoch, PlainSecondsOnly) {
  EXPECT_EQ(ParseSourceDateEpoch("0"), 0);
  EXPECT_EQ(ParseSourceDateEpoch("1700000000"), 1700000000);
  EXPECT_EQ(ParseSourceDateEpoch("253402300799"), 253402300799);  // 9999-12-31 23:59:59
  for (const char* bad : {"", "-1", "+5", " 1700000000", "1700000000 ", "17e8", "0x10", "253402300800",
                          "99999999999999999999"}) {
    EXPECT_FALSE(ParseSourceDateEpoch(bad)) << '"' << bad << '"';
  }
}

}  // namespace
}  // namespace lumipage::platform
