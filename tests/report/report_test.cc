#include "report/report.h"

#include <gtest/gtest.h>

#include "report/run_log.h"
#include "test_util.h"

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

// What counts as a log: a whole first line as LogRun writes it, and nothing
// that merely begins with "run" and a tab.
TEST(RunLogTest, ALogIsAWholeRunLineOfItsShape) {
  testing::TempDir dir;
  {
    RunLog log;
    ASSERT_EQ(OpenRunLog(dir.Sub("run.log"), &log), platform::OwnFile::kOpened);
    LogRun(log, "1.2.3", "verify", "s\tx", "t", "*.msg", 7);
  }
  const std::string written = testing::ReadFile(dir.path / "run.log");
  const std::string time = "\t2026-12-09T18:33:01Z\n";
  const struct {
    std::string head;
    bool log;
  } heads[] = {{written, true},
               {written.substr(0, written.size() - 1), false},  // not a whole line
               {"run\t0.9\texport\ts\tt\t*.*\t2" + time + "mail\t", true},
               {"run\tseconds\tmemory\n1\t0.5\t100\n", false},
               {"run\t", false},
               {"run\t0.9\timport\ts\tt\t*.*\t2" + time, false},
               {"run\t0.9\texport\ts\tt\t*.*\tmany" + time, false},
               {"run\t0.9\texport\ts\tt\t*.*\t2\textra" + time, false},
               {"run\t0.9\texport\ts\tt\t*.*\t2\t2026-12-09 18:33:01Z\n", false},
               {"run\t\texport\ts\tt\t*.*\t2" + time, false}};
  for (const auto& h : heads) EXPECT_EQ(StartsAsLog(h.head), h.log) << h.head;
}

}  // namespace
}  // namespace plenvar
