// The source manager's own settings with a range: a value beyond it is cut to the nearest end,
// however large its digits, and a malformed one keeps the default.
#include <gtest/gtest.h>

#include <string>

#include "dsm/SourceConfig.h"
#include "tests/support/TempDir.h"

namespace lumipage::dsm {
namespace {

struct BoundCase {
  const char* name;
  const char* ini;
  int readTimeout, cacheSeconds, paperAfter, busyFor;
};

class SourceConfigBounds : public ::testing::TestWithParam<BoundCase> {};

TEST_P(SourceConfigBounds, AreCutToTheirRange) {
  testing::TempDir dir;
  dir.Write("twain_32.ini", GetParam().ini);
  const TSourceConfigList list = TSourceConfigList::Load(dir / "twain_32.ini");
  ASSERT_FALSE(list.Sources.empty());
  EXPECT_EQ(list.Sane.ReadTimeoutSeconds, GetParam().readTimeout);
  EXPECT_EQ(list.Sane.CacheSeconds, GetParam().cacheSeconds);
  EXPECT_EQ(list.Sources[0].PaperAfter, GetParam().paperAfter);
  EXPECT_EQ(list.Sources[0].BusyFor, GetParam().busyFor);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SourceConfigBounds,
    ::testing::Values(
        BoundCase{"defaults", "", kDefaultReadTimeoutSeconds, kDefaultCacheSeconds, 0, 0},
        BoundCase{"in_range", "[Sane]\nReadTimeout=5\nCacheSeconds=0\n[Source1]\nPaperAfter=7\nBusyFor=$10\n", 5, 0, 7, 16},
        BoundCase{"all_ones",
                  "[Sane]\nReadTimeout=$FFFFFFFF\nCacheSeconds=4294967295\n[Source1]\nPaperAfter=0xFFFFFFFF\nBusyFor=99999999999\n",
                  kMaxReadTimeoutSeconds, kMaxCacheSeconds, kMaxWaitSeconds, kMaxWaitSeconds},
        BoundCase{"negative", "[Sane]\nReadTimeout=-1\nCacheSeconds=-99999999999\n[Source1]\nPaperAfter=-5\nBusyFor=-$FFFFFFFF\n",
                  1, 0, 0, 0},
        BoundCase{"malformed", "[Sane]\nReadTimeout=soon\nCacheSeconds=1h\n[Source1]\nPaperAfter=x\n",
                  kDefaultReadTimeoutSeconds, kDefaultCacheSeconds, 0, 0}),
    [](const auto& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace lumipage::dsm
