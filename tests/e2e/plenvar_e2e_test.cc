// Runs the built program on real trees: output tree, notices on their
// streams, exit status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "test_util.h"

namespace plenvar {
namespace {

using testing::MakeTree;
using testing::ReadFile;
using testing::ReadTree;
using testing::TempDir;
using testing::Tree;

struct Process {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs plenvar with args in folder cwd, under a 30-second timeout so that a
// hang fails the test instead of stalling it.
Process RunPlenvar(const TempDir& dir, const std::vector<std::string>& args) {
  const std::string out = dir.Sub("stdout.txt");
  const std::string err = dir.Sub("stderr.txt");
  std::vector<std::string> argv = {"timeout", "30", PLENVAR_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  pid_t child = fork();
  if (child == 0) {
    std::vector<char*> c_argv;
    for (std::string& a : argv) c_argv.push_back(a.data());
    c_argv.push_back(nullptr);
    if (chdir(dir.path.c_str()) != 0) _exit(126);
    dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
    dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    execvp("timeout", c_argv.data());
    _exit(127);
  }
  Process p;
  int status = 0;
  waitpid(child, &status, 0);
  p.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  p.out = ReadFile(out);
  p.err = ReadFile(err);
  std::filesystem::remove(out);
  std::filesystem::remove(err);
  return p;
}

const Tree kStore = {
    {"anna/inbox.msg",
     "From carl Mon\r\nReceived: from relay\r\nReceived: from mx\r\nSubject: one\r\n\r\nHi.\r\n\r\n"
     "From dora Tue\r\nReturn-Path: <dora>\r\nReceived: from mx\r\nSubject: two\r\n\r\nHello.\r\n"},
    {"anna/sent/sent.msg",
     "From anna Wed\r\nReceived: from store\r\nSubject: three\r\n\r\nBye.\r\n"},
    {"bob/inbox.msg", "Date: Thu\r\nSubject: four\r\n\r\nWelcome.\r\n"},
    {"bob/notes.txt", "Received: not selected by *.msg\r\n"},
    {"empty/", ""},
};

const Tree kExported = {
    {"anna/", ""},
    {"anna/sent/", ""},
    {"anna/sent/000000000000000001.MAI", "Received: from store\r\nSubject: three\r\n\r\nBye.\r\n"},
    {"anna/000000000000000002.MAI",
     "Received: from relay\r\nReceived: from mx\r\nSubject: one\r\n\r\nHi.\r\n"},
    {"anna/000000000000000003.MAI",
     "Return-Path: <dora>\r\nReceived: from mx\r\nSubject: two\r\n\r\nHello.\r\n"},
    {"bob/", ""},
    {"bob/000000000000000004.MAI", "Date: Thu\r\nSubject: four\r\n\r\nWelcome.\r\n"},
};

TEST(PlenvarTest, ExportsAStoreByAbsoluteAndRelativePaths) {
  struct Case {
    std::vector<std::string> args;  // "@" stands for the test's folder
    const char* target;
  };
  const Case cases[] = {
      {{"/S:@/store", "/T:@/out1", "/M:*.msg"}, "out1"},
      {{"/S:store/", "/T:out2/new", "/M:*.MSG"}, "out2/new"},
      {{"/M:*.msg", "/T:./out3", "/S:./store"}, "out3"},
  };
  TempDir dir;
  MakeTree(dir.path / "store", kStore);
  for (const Case& c : cases) {
    std::vector<std::string> args;
    for (std::string a : c.args) {
      if (a.find('@') != std::string::npos) a.replace(a.find('@'), 1, dir.path.string());
      args.push_back(a);
    }
    Process p = RunPlenvar(dir, args);
    EXPECT_EQ(p.status, 0) << c.target;
    EXPECT_EQ(p.out, "Export Completed\n") << c.target;
    EXPECT_EQ(p.err, "") << c.target;
    EXPECT_EQ(ReadTree(dir.path / c.target), kExported) << c.target;
  }
}

TEST(PlenvarTest, NoticesAndExitStatusForParameters) {
  const std::string usage =
      "Usage: /S:SourceDirectory /T:TargetDirectory /M:FileMask /SILENT\n\nEg: "
      "/S:C:\\LegacyMailStore\\Domain\\Mailboxes /T:C:\\Program "
      "Files\\Corvane\\Postoffices\\Domain\\MAILROOT /M:*.msg\n";
  struct Case {
    std::vector<std::string> args;
    const char* out;
    std::string err;
  };
  const Case cases[] = {
      {{}, usage.c_str(), ""},
      {{"/SILENT"}, usage.c_str(), ""},
      {{"/S:store"}, "", "/T:TargetDirectory parameter was not supplied.\n"},
      {{"/T:out", "/SILENT"}, "", "/S:SourceDirectory parameter was not supplied.\n"},
  };
  TempDir dir;
  for (const Case& c : cases) {
    Process p = RunPlenvar(dir, c.args);
    const std::string what = c.args.empty() ? "no arguments" : c.args[0];
    EXPECT_EQ(p.status, 2) << what;
    EXPECT_EQ(p.out, c.out) << what;
    EXPECT_EQ(p.err, c.err) << what;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.path / "out"));
}

TEST(PlenvarTest, FailuresAreReportedAndNeverHang) {
  TempDir dir;
  MakeTree(dir.path / "store", kStore);
  const auto bob = dir.path / "store" / "bob";
  ASSERT_EQ(mkfifo((bob / "fifo.msg").c_str(), 0600), 0);
  std::filesystem::create_symlink(dir.path / "nowhere", bob / "dangling.msg");
  std::filesystem::create_directory_symlink("..", bob / "loop");  // back to store
  MakeTree(dir.path / "out", {{"anna", "a file where the folder belongs"}});

  Process p = RunPlenvar(dir, {"/S:store", "/T:out", "/M:*.msg"});
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(p.out, "");
  EXPECT_EQ(p.err,
            "Export Completed with errors\n"
            "Folders that could not be opened: 1\n"
            "Message files that could not be written: 2\n"
            "Selected entries that are not regular files: 2\n"
            "out\\anna\\sent\\000000000000000001.MAI: Not a directory (the rest of "
            "store\\anna\\sent\\sent.msg was not exported)\n"
            "out\\anna\\000000000000000002.MAI: Not a directory (the rest of "
            "store\\anna\\inbox.msg was not exported)\n"
            "store\\bob\\loop: a link back to a folder above it\n"
            "store\\bob\\dangling.msg: not a regular file\n"
            "store\\bob\\fifo.msg: not a regular file\n");
  Tree expected = {{"anna", "a file where the folder belongs"}};
  expected["bob/"] = "";
  expected["bob/000000000000000003.MAI"] = kExported.at("bob/000000000000000004.MAI");
  EXPECT_EQ(ReadTree(dir.path / "out"), expected);

  p = RunPlenvar(dir, {"/S:store", "/T:out", "/M:*.msg", "/SILENT"});
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(p.out + p.err, "");
}

TEST(PlenvarTest, MissingSourceWritesNothing) {
  TempDir dir;
  Process p = RunPlenvar(dir, {"/S:nothing", "/T:out", "/SILENT"});
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(p.out + p.err, "");
  EXPECT_FALSE(std::filesystem::exists(dir.path / "out"));
}

}  // namespace
}  // namespace plenvar
