#include "output/work_message.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace plenvar {
namespace {

// Shared messages are worked on in any order: the lowest failure ends
// the mail file, however late it comes, and every message before it is still
// worked on.
TEST(WorkMessageTest, TheLowestFailureEndsTheMailFile) {
  const struct {
    std::vector<std::int64_t> failures;  // in the order they happen
    const char* worked;                  // of messages 148 to 152
  } cases[] = {{{}, "11111"},         {{150}, "11100"},      {{150, 149}, "11000"},
               {{151, 150}, "11100"}, {{150, 152}, "11100"}, {{148}, "10000"}};
  for (const auto& c : cases) {
    MailFileEnd end;
    for (const std::int64_t k : c.failures) end.EndAt(k);
    std::string worked;
    for (std::int64_t k = 148; k <= 152; ++k) worked += end.ToWork(k) ? '1' : '0';
    EXPECT_EQ(worked, c.worked) << ::testing::PrintToString(c.failures);
  }
}

}  // namespace
}  // namespace plenvar
