#include "output/output.h"

#include <gtest/gtest.h>

#include <functional>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "test_util.h"

namespace plenvar {
namespace {

using testing::ReadTree;
using testing::TempDir;
using testing::Tree;

TEST(OutputTest, NamesByEighteenDigits) {
  EXPECT_EQ(MessageFileName(1), "000000000000000001.MAI");
  EXPECT_EQ(MessageFileName(2147483648), "000000002147483648.MAI");  // past 32 bits
}

// The same events into every output. A message file that cannot be written
// still uses its number and ends its mail file (whose own failure then goes
// unsaid); the walk's failures keep their place; a dry run numbers alike and
// writes nothing.
TEST(OutputTest, EveryOutputNumbersAndReportsAlike) {
  const std::function<std::unique_ptr<Output>(ExportReport&)> outputs[] = {
      MakeListOutput, [](ExportReport& r) { return MakeSerialOutput(r); },
      [](ExportReport& r) { return testing::WorkersAsOutput(2, r); },
      [](ExportReport& r) { return testing::WorkersAsOutput(7, r); }};
  for (std::size_t which = 0; which < std::size(outputs); ++which) {
    TempDir dir;
    testing::WriteFile(dir.path / "blocked", "a file where a folder belongs");
    ExportReport report;
    std::unique_ptr<Output> output = outputs[which](report);
    const std::string a = dir.Sub("a"), blocked = dir.Sub("blocked") + "\\x";
    output->BeginMailFile("one.msg", a);
    output->Message("m1\r\n", nullptr);
    std::string owned = "m2\r\n";
    output->Message(owned, &owned);
    output->EndMailFile(std::nullopt);
    output->BeginMailFile("two.msg", blocked);
    output->Message("m3\r\n", nullptr);
    output->Message("m4\r\n", nullptr);
    output->EndMailFile(Failure{kMailFileNotRead, "two.msg", "unsaid once a write failed"});
    output->Skip({kNotRegularFile, "fifo.msg", "not a regular file"});
    output->BeginMailFile("three.msg", a);
    output->Message("m5\r\n", nullptr);
    output->EndMailFile(Failure{kMailFileChanged, "three.msg", "changed"});
    output->Finish();
    output.reset();

    const bool dry = which == 0;
    std::vector<std::string> failed;
    for (const Failure& f : report.failures) failed.push_back(f.path);
    const std::string third = blocked + "\\" + MessageFileName(3);
    const std::vector<std::string> want = {dry ? "two.msg" : third, "fifo.msg", "three.msg"};
    EXPECT_EQ(failed, want) << which;
    EXPECT_EQ(report.mailFiles, 3) << which;
    EXPECT_EQ(report.messages, dry ? 5 : 3) << which;
    Tree expected = {{"blocked", "a file where a folder belongs"}};
    if (!dry) {
      expected.insert({{"a/", ""},
                       {"a/000000000000000001.MAI", "m1\r\n"},
                       {"a/000000000000000002.MAI", "m2\r\n"},
                       {"a/000000000000000004.MAI", "m5\r\n"}});
    }
    EXPECT_EQ(ReadTree(dir.path), expected) << which;
  }
}

// More than the bytes that may wait to be written, in one message.
TEST(OutputTest, AMessageLargerThanTheWaitingCapIsWritten) {
  TempDir dir;
  ExportReport report;
  auto output = testing::WorkersAsOutput(2, report);
  output->BeginMailFile("big.msg", dir.Sub("out"));
  const std::string big(std::size_t{33} << 20, 'x');
  output->Message(big, nullptr);
  output->EndMailFile(std::nullopt);
  output->Finish();
  EXPECT_EQ(report.total, 0);
  EXPECT_EQ(std::filesystem::file_size(dir.path / "out" / MessageFileName(1)), big.size());
}

#ifndef _WIN32
// A write that fails half-way leaves neither a partial nor a temporary file.
TEST(OutputTest, WriteFailingHalfWayLeavesNoFile) {
  TempDir dir;
  const pid_t child = fork();
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    ExportReport report;
    auto output = MakeSerialOutput(report);
    output->BeginMailFile("in.msg", dir.Sub("out"));
    for (const std::size_t size : {10, 8000, 10}) output->Message(std::string(size, 'x'), nullptr);
    output->EndMailFile(std::nullopt);
    output->Finish();
    _exit(report.counts[kMessageNotWritten] == 1 && report.messages == 1 ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(ReadTree(dir.path / "out"), (Tree{{MessageFileName(1), std::string(10, 'x')}}));
}
#endif

}  // namespace
}  // namespace plenvar
