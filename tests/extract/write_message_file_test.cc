#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "extract/extract.h"
#include "test_util.h"

namespace plenvar {
namespace {

using testing::ListNames;
using testing::ReadFile;
using testing::TempDir;

TEST(WriteMessageFileTest, NamesByEighteenDigits) {
  EXPECT_EQ(MessageFileName(1), "000000000000000001.MAI");
  EXPECT_EQ(MessageFileName(2147483648), "000000002147483648.MAI");  // past 32 bits
}

TEST(WriteMessageFileTest, MakesTheLastFolderLevelAndWritesTheTextAsIs) {
  TempDir dir;
  MessageCount = 41;
  WriteMessageFile("Received: a\r\n", dir.Sub("new") + "\\");  // doubled "\" names the same folder
  EXPECT_EQ(MessageCount, 42);
  EXPECT_EQ(ListNames(dir.path / "new"), std::vector<std::string>{"000000000000000042.MAI"});
  EXPECT_EQ(ReadFile(dir.path / "new" / "000000000000000042.MAI"), "Received: a\r\n");
}

TEST(WriteMessageFileTest, BlockedFolderFailsAndStillUsesTheNumber) {
  TempDir dir;
  testing::WriteFile(dir.path / "blocked", "a regular file where the folder should be");
  MessageCount = 0;
  try {
    WriteMessageFile("Received: a\r\n", dir.Sub("blocked"));
    FAIL() << "writing into a regular file must fail";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("000000000000000001.MAI: "), std::string::npos)
        << e.what();
  }
  EXPECT_EQ(MessageCount, 1);
  EXPECT_EQ(ListNames(dir.path), std::vector<std::string>{"blocked"});
}

#ifndef _WIN32
// Runs body in a child process whose files may not grow past `limit` bytes,
// so a write fails half-way; returns the child's exit status.
template <typename Body>
int WithFileSizeLimit(rlim_t limit, Body body) {
  pid_t child = fork();
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit rl{limit, limit};
    setrlimit(RLIMIT_FSIZE, &rl);
    _exit(body());
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

TEST(WriteMessageFileTest, WriteFailingHalfWayLeavesNoFile) {
  TempDir dir;
  std::filesystem::create_directory(dir.path / "out");
  testing::WriteFile(dir.path / "in.msg", "Received: 1\r\n\r\nshort\r\n\r\nReceived: 2\r\n\r\n" +
                                              std::string(8000, 'x') +
                                              "\r\n\r\nReceived: 3\r\n\r\nshort\r\n");
  int status = WithFileSizeLimit(4096, [&] {
    MessageCount = 0;
    try {
      SplitMailFile(dir.Sub("in.msg"), dir.Sub("out"));
    } catch (const Error&) {
      return MessageCount == 2 ? 0 : 2;
    }
    return 1;
  });
  EXPECT_EQ(status, 0) << "1: no failure raised, 2: wrong count, 100+: signal";
  EXPECT_EQ(ListNames(dir.path / "out"), std::vector<std::string>{"000000000000000001.MAI"})
      << "the first message stays; neither a temporary nor a partial file of the second";
  EXPECT_EQ(ReadFile(dir.path / "out" / "000000000000000001.MAI"), "Received: 1\r\n\r\nshort\r\n");
}
#endif

}  // namespace
}  // namespace plenvar
