#include "run/progress.h"

#include <gtest/gtest.h>

namespace plenvar {
namespace {

TEST(FormatProgressTest, CountsMegabytesRateAndTimeLeft) {
  struct Counts {
    std::int64_t mailFiles, bytes, messages;
  };
  const struct {
    StoreSize total;
    Counts done;
    double seconds;
    const char* line;
    double fraction;  // of the bar
    std::size_t width = platform::kAnyWidth;
  } cases[] = {
      {{45701, 200000000},
       {1234, 12000000, 3456},
       2.0,
       "1,234/45,701 mail files  12.0/200.0 MB  3,456 messages  6.0 MB/s  0:31 left",
       0.06},
      {{2, 10000000000},
       {1, 1000000, 7},
       1.0,
       "1/2 mail files  1.0/10000.0 MB  7 messages  1.0 MB/s  2:46:39 left",
       0.0001},
      {{3, 300},
       {1, 100, 1},
       0.2,
       "1/3 mail files  0.0/0.0 MB  1 messages  --.- MB/s  --:-- left",
       1.0 / 3},
      // The store grew since it was counted: nothing is left, not less.
      {{1, 100},
       {2, 500, 2},
       1.0,
       "2/1 mail files  0.0/0.0 MB  2 messages  0.0 MB/s  0:00 left",
       1},
      // Nothing to read: an empty bar, not a division by zero.
      {{0, 0}, {0, 0, 0}, 3.0, "0/0 mail files  0.0/0.0 MB  0 messages  --.- MB/s  --:-- left", 0},
      // A narrow terminal: messages, then the rate go; what is left is cut.
      {{45701, 200000000},
       {1234, 12000000, 3456},
       2.0,
       "1,234/45,701 mail files  12.0/200.0 MB  0:31 left",
       0.06,
       50},
      {{45701, 200000000}, {1234, 12000000, 3456}, 2.0, "1,234/45,7", 0.06, 10},
      {{45701, 200000000}, {1234, 12000000, 3456}, 2.0, "1", 0.06, 1},
      {{45701, 200000000}, {1234, 12000000, 3456}, 2.0, "", 0.06, 0},
  };
  for (const auto& c : cases) {
    RunControl done;
    done.mailFiles = c.done.mailFiles;
    done.bytes = c.done.bytes;
    done.messages = c.done.messages;
    EXPECT_EQ(FormatProgress(c.total, done, c.seconds, c.width), c.line) << c.line;
    EXPECT_NEAR(DoneFraction(c.total, done), c.fraction, 1e-12) << c.line;
  }
}

}  // namespace
}  // namespace plenvar
