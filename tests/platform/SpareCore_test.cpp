#include "platform/SpareCore.h"

#include <gtest/gtest.h>

namespace lumipage::platform {
namespace {

// A second thread is taken only when nothing else runs now and the machine is not busy most of
// the time; text that cannot be read says no.
TEST(SpareCore, NothingElseRunningAndTheAverageUnderTheCores) {
  struct Case {
    const char* loadavg;
    unsigned cores;
    bool spare;
  };
  const Case cases[] = {
      {"0.52 0.38 0.30 1/312 4711\n", 2, true},
      {"1.40 1.10 0.90 1/312 4711\n", 2, true},   // our own earlier pages, nothing running now
      {"0.52 0.38 0.30 2/312 4711\n", 2, false},  // another task on the other core
      {"2.10 1.90 1.80 1/312 4711\n", 2, false},  // busy most of the time
      {"0.10 0.10 0.10 3/312 4711\n", 4, true},
      {"0.10 0.10 0.10 1/312 4711\n", 1, false},
      {"", 2, false},
      {"0.52 0.38 0.30\n", 2, false},
      {"x 0.38 0.30 1/312 4711\n", 2, false},
      {"0.52 0.38 0.30 1 4711\n", 2, false},
  };
  for (const Case& c : cases) EXPECT_EQ(CoreToSpare(c.loadavg, c.cores), c.spare) << c.loadavg << " " << c.cores;
}

}  // namespace
}  // namespace lumipage::platform
