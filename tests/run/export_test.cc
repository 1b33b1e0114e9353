#include "run/export.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "target/target_folders.h"
#include "test_util.h"

namespace plenvar {
namespace {

using testing::MakeTree;
using testing::ReadTree;
using testing::TempDir;
using testing::Tree;

TEST(RunExportTest, MirrorsTheTreeAndNumbersSubfoldersFirst) {
  TempDir dir;
  MakeTree(dir.path / "src",
           {
               {"root.msg", "Received: r\r\n"},
               {"noext", "Received: skipped, no dot\r\n"},
               {"anna/inbox.msg", "Received: a1\r\n\r\nx\r\n\r\nReceived: a2\r\n"},
               {"anna/sent/s.msg", "Received: s\r\n"},
               {"Bob/b.msg", "Received: b\r\n"},
               {"bob2/empty.msg", ""},
               {"carl/", ""},
           });
  ExportReport report = RunExport({dir.Sub("src"), dir.Sub("out"), "*.*", ""});
  EXPECT_EQ(report.total, 0);
  // Listing order folds case: anna, Bob, bob2, carl; subfolders before files.
  EXPECT_EQ(ReadTree(dir.path / "out"),
            (Tree{
                {"anna/", ""},
                {"anna/sent/", ""},
                {"anna/sent/000000000000000001.MAI", "Received: s\r\n"},
                {"anna/000000000000000002.MAI", "Received: a1\r\n\r\nx\r\n"},
                {"anna/000000000000000003.MAI", "Received: a2\r\n"},
                {"Bob/", ""},
                {"Bob/000000000000000004.MAI", "Received: b\r\n"},
                {"bob2/", ""},
                {"000000000000000005.MAI", "Received: r\r\n"},
            }));
}

TEST(RunExportTest, SourceWithTrailingSeparatorAndTextRepeatedBelow) {
  TempDir dir;
  MakeTree(dir.path / "m", {{"x/m/a.msg", "Received: deep\r\n"}});
  ExportReport report = RunExport({dir.Sub("m") + "\\", dir.Sub("t"), "*.msg", ""});
  EXPECT_EQ(report.total, 0);
  EXPECT_EQ(ReadTree(dir.path / "t"),
            (Tree{{"x/", ""}, {"x/m/", ""}, {"x/m/000000000000000001.MAI", "Received: deep\r\n"}}));
}

TEST(RunExportTest, MissingSourceIsAFailure) {
  TempDir dir;
  ExportReport report = RunExport({dir.Sub("missing"), dir.Sub("out"), "*.*", ""});
  EXPECT_EQ(report.counts[kFolderNotOpened], 1);
  ASSERT_EQ(report.failures.size(), 1u);
  EXPECT_EQ(report.failures[0].path, dir.Sub("missing"));
  EXPECT_FALSE(report.failures[0].reason.empty());
}

TEST(RunExportTest, BlockedTargetFolderFailsThatFileOnly) {
  TempDir dir;
  MakeTree(dir.path / "src", {{"anna/a.msg", "Received: a\r\n"}, {"bob/b.msg", "Received: b\r\n"}});
  MakeTree(dir.path / "out", {{"anna", "a regular file where a folder belongs"}});
  ExportReport report = RunExport({dir.Sub("src"), dir.Sub("out"), "*.msg", ""});
  EXPECT_EQ(report.counts[kMessageNotWritten], 1);
  EXPECT_EQ(report.total, 1);
  EXPECT_EQ(ReadTree(dir.path / "out"), (Tree{{"anna", "a regular file where a folder belongs"},
                                              {"bob/", ""},
                                              {"bob/000000000000000002.MAI", "Received: b\r\n"}}));
}

// The walk never enters the target tree, however it is spelled, so that a
// second run leaves exactly the tree the first one left.
TEST(RunExportTest, TargetInsideTheSourceIsNotExportedAgain) {
  const Tree store = {{"aa/a.msg", "Received: a\r\n"}, {"zz/z.msg", "Received: z\r\n"}};
  struct Case {
    const char* target;  // under the test folder
    const char* mask;
    const char* exported;  // where the message files land, within the source
  };
  const Case cases[] = {
      {"src/export", "*.*", "export/"},
  // Another spelling of the same folder: a link on POSIX, letter case on Windows.
#ifdef _WIN32
      {"SRC/export", "*.*", "export/"},
#else
      {"alias/export", "*.*", "export/"},
#endif
      // Made by the run, inside a folder the walk reaches later.
      {"src/zz/out", "*.*", "zz/out/"},
      // The same folder: message files beside the mail files, as ever; with
      // every name selected too, the program's own files are never selected.
      {"src", "*.msg", ""},
      {"src", "*.*", ""},
  };
  for (const Case& c : cases) {
    TempDir dir;
    MakeTree(dir.path / "src", store);
#ifndef _WIN32
    std::filesystem::create_directory_symlink("src", dir.path / "alias");
#endif
    Tree expected = store;
    expected.insert({"aa/", ""});
    expected.insert({"zz/", ""});
    const std::string at = c.exported;
    expected.insert({{at + "aa/", ""},
                     {at + "aa/000000000000000001.MAI", "Received: a\r\n"},
                     {at + "zz/", ""},
                     {at + "zz/000000000000000002.MAI", "Received: z\r\n"}});
    if (!at.empty()) expected.insert({at, ""});
    for (int run = 1; run <= 2; ++run) {
      EnsureFolderPath(dir.Sub(c.target));  // as Main does before every export
      ExportReport report = RunExport({dir.Sub("src"), dir.Sub(c.target), c.mask, ""});
      EXPECT_EQ(report.total, 0) << c.target << " run " << run;
      EXPECT_EQ(ReadTree(dir.path / "src"), expected) << c.target << " run " << run;
    }
  }
}

// In the target tree the program's own files are never selected, so a rerun
// leaves the tree the first run left; a mail file inside a target that lies
// inside the source is not exported, and each run says so.
TEST(RunExportTest, MailFilesInTheTargetTree) {
  const Tree store = {{"aa/a.msg", "Received: a\r\n"}, {"src/s.msg", "Received: s\r\n"}};
  const struct {
    const char* target;  // under the test folder, which holds the source "src"
    std::int64_t inside;
  } cases[] = {
      {"src/aa", 1},  // at a mailbox's folder: its mail file is inside the target
      {"src", 0},     // the source itself
      {".", 0},       // above the source: src/src/s.msg goes to src/000000000000000002.MAI
  };
  for (const auto& c : cases) {
    TempDir dir;
    MakeTree(dir.path / "src", store);
    Tree first;
    for (int run = 1; run <= 2; ++run) {
      EnsureFolderPath(dir.Sub(c.target));
      ExportReport report = RunExport({dir.Sub("src"), dir.Sub(c.target), "*.*", ""});
      EXPECT_EQ(report.counts[kInsideTarget], c.inside) << c.target << " run " << run;
      EXPECT_EQ(report.total, c.inside) << c.target << " run " << run;
      if (c.inside > 0 && !report.failures.empty()) {
        EXPECT_EQ(report.failures[0].path, dir.Sub("src") + "\\aa\\a.msg");
      }
      if (run == 1) first = ReadTree(dir.path);
      EXPECT_EQ(ReadTree(dir.path), first) << c.target << " run " << run;
    }
    EXPECT_GT(first.size(), store.size() + 2) << c.target << ": nothing exported";
  }
}

#ifndef _WIN32
TEST(RunExportTest, EntriesThatCannotBeMailFilesAreSkippedAndCounted) {
  TempDir dir;
  MakeTree(dir.path / "src", {{"ok/a.msg", "Received: a\r\n"}, {"odd/", ""}});
  const auto odd = dir.path / "src" / "odd";
  ASSERT_EQ(mkfifo((odd / "pipe.msg").c_str(), 0600), 0);
  std::filesystem::create_symlink(dir.path / "nowhere", odd / "dangling.msg");
  std::filesystem::create_directory_symlink("..", odd / "loop");  // back to src
  std::filesystem::create_directory(odd / "back\\slash");
  testing::WriteFile(odd / "file\\name.msg", "Received: x\r\n");
  testing::WriteFile(odd / "link-target.txt", "Received: through a link\r\n");
  std::filesystem::create_symlink("link-target.txt", odd / "link.msg");
  ExportReport report = RunExport({dir.Sub("src"), dir.Sub("out"), "*.msg", ""});
  EXPECT_EQ(report.counts[kNotRegularFile], 2) << "the FIFO and the dangling link";
  EXPECT_EQ(report.counts[kFolderNotOpened], 2) << "the loop and the folder named with \\";
  EXPECT_EQ(report.counts[kMailFileNotRead], 1) << "the file named with \\";
  EXPECT_EQ(ReadTree(dir.path / "out"),
            (Tree{{"odd/", ""},
                  {"odd/000000000000000001.MAI", "Received: through a link\r\n"},
                  {"ok/", ""},
                  {"ok/000000000000000002.MAI", "Received: a\r\n"}}));
}

TEST(RunExportTest, UnreadableFolderAndFileAreCountedWhenNotRoot) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads everything";
  TempDir dir;
  MakeTree(dir.path / "src", {{"closed/a.msg", "Received: a\r\n"}, {"b.msg", "Received: b\r\n"}});
  std::filesystem::permissions(dir.path / "src" / "closed", std::filesystem::perms::none);
  std::filesystem::permissions(dir.path / "src" / "b.msg", std::filesystem::perms::none);
  ExportReport report = RunExport({dir.Sub("src"), dir.Sub("out"), "*.msg", ""});
  std::filesystem::permissions(dir.path / "src" / "closed", std::filesystem::perms::owner_all);
  EXPECT_EQ(report.counts[kFolderNotOpened], 1);
  EXPECT_EQ(report.counts[kMailFileNotRead], 1);
}
#endif

}  // namespace
}  // namespace plenvar
