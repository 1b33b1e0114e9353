#include "output/output.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "target/message_names.h"
#include "test_util.h"

namespace plenvar {
namespace {

using testing::ReadTree;
using testing::TempDir;
using testing::Tree;

// The same events into every output. A message file that cannot be written
// still uses its number and ends its mail file (whose own failure then goes
// unsaid); the walk's failures keep their place; a dry run numbers alike and
// writes nothing.
TEST(OutputTest, EveryOutputNumbersAndReportsAlike) {
  const struct {
    int writers;
    RunKind kind;
  } outputs[] = {
      {1, RunKind::kList}, {1, RunKind::kExport}, {2, RunKind::kExport}, {7, RunKind::kExport}};
  for (std::size_t which = 0; which < std::size(outputs); ++which) {
    TempDir dir;
    testing::WriteFile(dir.path / "blocked", "a file where a folder belongs");
    ExportReport report;
    RunControl control;
    testing::ScriptedStore store;
    std::unique_ptr<MailFileQueue> output =
        testing::MakeQueue(outputs[which].writers, report, store, control, outputs[which].kind);
    const std::string a = dir.Sub("a"), blocked = dir.Sub("blocked") + "\\x";
    store.Add("one.msg", {{{"m1\r\n", false}, {"m2\r\n", true}}, std::nullopt});
    output->MailFile("one.msg", a);
    store.Add("two.msg", {{{"m3\r\n", false}, {"m4\r\n", false}},
                          Failure{kMailFileNotRead, "two.msg", "unsaid once a write failed"}});
    output->MailFile("two.msg", blocked);
    output->Skip({kNotRegularFile, "fifo.msg", "not a regular file"});
    store.Add("three.msg",
              {{{"m5\r\n", false}}, Failure{kMailFileChanged, "three.msg", "changed"}});
    output->MailFile("three.msg", a);
    output->Finish();
    output.reset();

    const bool dry = which == 0;
    std::vector<std::string> failed;
    for (const Failure& f : report.failures) failed.push_back(f.path);
    const std::string third = blocked + "\\" + MessageFileName(3);
    const std::vector<std::string> want = {dry ? "two.msg" : third, "fifo.msg", "three.msg"};
    EXPECT_EQ(failed, want) << which;
    EXPECT_EQ(report.done.mailFiles, 3) << which;
    EXPECT_EQ(report.done.messages, dry ? 5 : 3) << which;
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
  RunControl control;
  testing::ScriptedStore store;
  auto output = testing::MakeQueue(2, report, store, control);
  const std::string big(std::size_t{33} << 20, 'x');
  store.Add("big.msg", {{{big, false}}, std::nullopt});
  output->MailFile("big.msg", dir.Sub("out"));
  output->Finish();
  EXPECT_EQ(report.total, 0);
  EXPECT_EQ(std::filesystem::file_size(dir.path / "out" / MessageFileName(1)), big.size());
}

}  // namespace
}  // namespace plenvar
