#include "report/report.h"

#include <gtest/gtest.h>

namespace plenvar {
namespace {

TEST(ExportReportTest, CountsAllListsTen) {
  ExportReport report;
  for (int i = 0; i < 12; ++i) report.Fail({kMailFileNotRead, "f" + std::to_string(i), "gone"});
  report.Fail({kFolderNotOpened, "d", "gone"});
  EXPECT_EQ(report.total, 13);
  EXPECT_EQ(report.counts[kMailFileNotRead], 12);
  EXPECT_EQ(report.counts[kFolderNotOpened], 1);
  ASSERT_EQ(report.failures.size(), 10u);
  EXPECT_EQ(report.failures.back().path, "f9");
}

}  // namespace
}  // namespace plenvar
