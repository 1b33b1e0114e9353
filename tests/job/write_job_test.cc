// The write job, driven by one thread.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

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
