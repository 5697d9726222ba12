#include <gtest/gtest.h>
#include "platform/Version.h"

TEST(Version, HasThreeNumbers) {
  EXPECT_GE(LUMIPAGE_VERSION_MAJOR, 1);
  EXPECT_STREQ(LUMIPAGE_VERSION_TEXT, "1.0.0");
}
