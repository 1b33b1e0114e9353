// The write job, driven by one thread.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "job/job.h"
#include "output/output.h"
#include "target/message_names.h"
#include "test_util.h"

namespace plenvar {
namespace {

using testing::ReadTree;
using testing::TempDir;
using testing::Tree;

#ifndef _WIN32
// A write that fails half-way leaves neither a partial nor a temporary file.
TEST(WriteJobTest, WriteFailingHalfWayLeavesNoFile) {
  TempDir dir;
  const pid_t child = fork();
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    ExportReport report;
    RunControl control;
    testing::ScriptedStore store;
    auto output = testing::MakeQueue(1, report, store, control);
    testing::ScriptedStore::Script script;
    for (const std::size_t size : {10, 8000, 10})
      script.messages.emplace_back(std::string(size, 'x'), false);
    store.Add("in.msg", script);
    output->MailFile("in.msg", dir.Sub("out"));
    output->Finish();
    _exit(report.counts[kMessageNotWritten] == 1 && report.done.messages == 1 ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(ReadTree(dir.path / "out"), (Tree{{MessageFileName(1), std::string(10, 'x')}}));
}
#endif

// Every state a message's work leaves, through an export's commit, in a
// folder an earlier run left message file 5 in: what is counted, what is
// reported, and what the folder holds after (never a temporary file).
TEST(WriteJobTest, EveryStateItsWorkLeavesIsCommitted) {
  const std::string m = "m\r\n", five = MessageFileName(5);
  const std::string three = MessageFileName(3), four = MessageFileName(4);
  const struct {
    MessageState state;
    std::int64_t workedFor, number;  // the number its work was done for; its own
    Tree before, after;              // besides message file 5
    std::int64_t messages, inPlace;
    const char* failure;  // how the reason reported begins, if one is
  } rows[] = {
      {MessageState::kPlaced, 3, 3, {{three, m}}, {{three, m}}, 1, 0, nullptr},
      {MessageState::kTemporary, 3, 3, {{"tmp", m}}, {{three, m}}, 1, 0, nullptr},
      {MessageState::kTemporary, 3, kNoNumber, {{"tmp", m}}, {}, 0, 0, nullptr},
      {MessageState::kTemporary, 6, 5, {{"tmp", m}}, {}, 1, 1, nullptr},
      {MessageState::kTemporary, 6, 4, {{"tmp", m}}, {{four, m}}, 1, 0, nullptr},
      // A folder where its message file goes: the rename fails.
      {MessageState::kTemporary,
       3,
       3,
       {{"tmp", m}, {three + "/x", ""}},
       {{three + "/", ""}, {three + "/x", ""}},
       0,
       0,
       ""},
      {MessageState::kInPlace, 5, 5, {}, {}, 1, 1, nullptr},
      {MessageState::kInPlace, 5, 4, {}, {{four, m}}, 1, 0, nullptr},
      {MessageState::kInPlace, 5, kNoNumber, {}, {}, 0, 0, nullptr},
      {MessageState::kFailed, 3, 3, {}, {}, 0, 0, "refused"},
      {MessageState::kFailed, 3, kNoNumber, {}, {}, 0, 0, nullptr},
      {MessageState::kNotWorked, kNoNumber, 3, {}, {}, 0, 0, "not written"},
  };
  for (std::size_t row = 0; row < std::size(rows); ++row) {
    const auto& r = rows[row];
    TempDir dir;
    Unit unit;
    unit.mailFile = 1;
    unit.source = "in.msg";
    unit.folder = dir.Sub("out");
    unit.folderExists = true;
    const std::string temporary = TemporaryPath(unit.folder, 1, 2);
    Tree before = r.before, after = r.after;
    before[five] = after[five] = m;
    if (before.count("tmp") != 0) {
      before[temporary.substr(unit.folder.size() + 1)] = m;
      before.erase("tmp");
    }
    testing::MakeTree(dir.path / "out", before);
    ExportReport report;
    Tally tally(report);
    std::unique_ptr<Job> job = MakeJob(RunKind::kExport, "", nullptr, dir.path.string());
    MessageOutcome outcome;
    outcome.size = m.size();
    outcome.state = r.state;
    outcome.number = r.workedFor;
    if (r.state == MessageState::kFailed) outcome.Fail("refused");
    CommitSafely(*job, unit, 2, r.number, outcome, tally);
    tally.EndMailFile(unit.source, unit.folder, std::nullopt);
    EXPECT_EQ(report.done.messages, r.messages) << row;
    EXPECT_EQ(report.done.inPlace, r.inPlace) << row;
    ASSERT_EQ(report.failures.size(), r.failure ? 1u : 0u) << row;
    if (r.failure) {
      EXPECT_EQ(report.failures[0].path, MessageFilePath(unit.folder, r.number)) << row;
      EXPECT_EQ(report.failures[0].reason.rfind(r.failure, 0), 0u) << report.failures[0].reason;
    }
    EXPECT_EQ(ReadTree(dir.path / "out"), after) << row;
  }
}

}  // namespace
}  // namespace plenvar
