// Runs the built program on real trees: output tree, notices on their
// streams, exit status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <sstream>

#include "e2e/run_plenvar.h"
#include "extract/extract.h"
#include "platform/digest.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "test_util.h"

namespace plenvar {
namespace {

using testing::Faults;
using testing::MakeTree;
using testing::Process;
using testing::ReadFile;
using testing::ReadTree;
using testing::RunPlenvar;
using testing::TempDir;
using testing::Tree;

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
      {{"/S:~/store", "/T:~/out4", "/m:*.msg", "/MT:4"}, "out4"},  // ~ as the shell has it
  };
  TempDir dir;
  MakeTree(dir.path / "store", kStore);
  setenv("HOME", dir.path.c_str(), 1);
  for (const Case& c : cases) {
    std::vector<std::string> args;
    for (std::string a : c.args) {
      if (a.find('@') != std::string::npos) a.replace(a.find('@'), 1, dir.path.string());
      args.push_back(a);
    }
    // Every message file has its final name before the flush starts.
    Process p = RunPlenvar(dir, args, {"late-rename"});
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
      {{"/S:store/bob/inbox.msg", "/T:out"},
       "",
       "/S:SourceDirectory cannot be read: store/bob/inbox.msg: Not a directory\n"},
      {{"/S:store", "/T:out", "/LOG:store/anna/inbox.msg"},
       "",
       "/LOG:file exists and is not a log of this program: store/anna/inbox.msg\n"},
      {{"/S:store", "/T:out/new", "/LOG:nowhere/run.log"},
       "",
       "/LOG:file could not be created: nowhere/run.log: No such file or directory\n"},
      {{"/S:store", "/T:held"},
       "",
       "An export of plenvar is writing into /T:TargetDirectory: held\n"},
      {{"/S:store", "/T:held", "/VERIFY"},
       "",
       "An export of plenvar is writing into /T:TargetDirectory: held\n"},
      {{"/S:store", "/T:read"}, "", "A verify of plenvar is reading /T:TargetDirectory: read\n"},
      {{"/S:store", "/T:store/bob/inbox.msg/out"},
       "",
       "/T:TargetDirectory could not be created: store/bob/inbox.msg: not a folder\n"},
      {{"/S:store", "/T:store/bob/inbox.msg/out", "/LIST"},
       "",
       "/T:TargetDirectory could not be created: store/bob/inbox.msg: not a folder\n"},
      {{"/S:store", "/T:store/bob/inbox.msg/out", "/VERIFY"},
       "",
       "/T:TargetDirectory could not be created: store/bob/inbox.msg: not a folder\n"},
      {{"/S:store", "/T:out", "/MANIFEST:"}, "", "/MANIFEST:file parameter was not supplied.\n"},
      {{"/S:store", "/T:out", "/LIST", "/MANIFEST:m"},
       "",
       "/LIST and /MANIFEST:file cannot go together: a dry run writes nothing.\n"},
      {{"/S:store", "/T:out", "/LOG:run.log", "/MANIFEST:./run.log"},
       "",
       "/MANIFEST:file and /LOG:file name the same file: ./run.log\n"},
      {{"/S:store", "/T:out", "/MANIFEST:store/anna/sent/m"},
       "",
       "/MANIFEST:file lies inside /S:SourceDirectory, which is never written: "
       "store/anna/sent/m\n"},
      {{"/S:store", "/T:out", "/manifest:notes.txt"},
       "",
       "/MANIFEST:file exists and is not a manifest of this program: notes.txt\n"},
      {{"/S:store", "/T:out", "/MANIFEST:m", "/LOG:nowhere/run.log"},
       "",
       "/LOG:file could not be created: nowhere/run.log: No such file or directory\n"},
      {{"/S:store", "/T:out", "/MANIFEST:nowhere/m"},
       "",
       "/MANIFEST:file could not be created: nowhere/m: No such file or directory\n"},
      // The run's own files never take a message file's name in the target.
      {{"/S:store", "/T:out", "/MANIFEST:out/000000000000000001.MAI"},
       "",
       "/MANIFEST:file lies inside /T:TargetDirectory under the name of a message file: "
       "out/000000000000000001.MAI\n"},
      {{"/S:store", "/T:out", "/MANIFEST:out/./000000000000000001-1.MAI"},
       "",
       "/MANIFEST:file lies inside /T:TargetDirectory under the name of a message file: "
       "out/./000000000000000001-1.MAI.tmp\n"},
      {{"/S:store", "/T:out", "/LOG:out/000000000000000002-1.MAI.tmp"},
       "",
       "/LOG:file lies inside /T:TargetDirectory under the name of a message file: "
       "out/000000000000000002-1.MAI.tmp\n"},
      // Ours, exactly: a log begins with a whole run line, a manifest's final
      // name holds whole lines.
      {{"/S:store", "/T:out", "/LOG:results.tsv"},
       "",
       "/LOG:file exists and is not a log of this program: results.tsv\n"},
      {{"/S:store", "/T:out", "/MANIFEST:cafe.txt"},
       "",
       "/MANIFEST:file exists and is not a manifest of this program: cafe.txt\n"},
      // Its temporary name is the run's: never written through to a file elsewhere.
      {{"/S:store", "/T:out", "/MANIFEST:linked.sha256"},
       "",
       "/MANIFEST:file exists and is not a manifest of this program: linked.sha256.tmp\n"},
      {{"/S:store", "/T:out", "/MANIFEST:hard.sha256"},
       "",
       "/MANIFEST:file exists and is not a manifest of this program: hard.sha256.tmp\n"},
      // One run per log and per manifest.
      {{"/S:store", "/T:out", "/LOG:held.log"},
       "",
       "Another run of plenvar is writing /LOG:file: held.log\n"},
      {{"/S:store", "/T:out", "/MANIFEST:held.sha256"},
       "",
       "Another run of plenvar is writing /MANIFEST:file: held.sha256\n"},
      // A check never writes over the export's manifest, and checks only
      // against one that lists something, inside the target.
      {{"/S:store", "/T:out", "/VERIFY", "/MANIFEST:export.sha256"},
       "",
       "/MANIFEST:file exists, and a verify writes a new one: name a new file: export.sha256\n"},
      {{"/T:out", "/VERIFY", "/MANIFEST:empty.sha256"},
       "",
       "/MANIFEST:file lists no message file: empty.sha256\n"},
      {{"/T:out", "/VERIFY", "/MANIFEST:nul.sha256"},
       "",
       "/MANIFEST:file cannot be read: nul.sha256: line 1: a path holding a NUL byte: "
       "..\\x00x/000000000000000007.MAI\n"},
  };
  TempDir dir;
  MakeTree(dir.path / "store", kStore);
  const std::string runLine = "run\t0.9.0\texport\tstore\tout\t*.*\t2\t2026-12-09T18:33:01Z\n";
  testing::WriteFile(dir.path / "run.log", runLine);
  testing::WriteFile(dir.path / "notes.txt", "not a manifest\n");
  const std::string line = std::string(64, '0') + "  ..";
  testing::WriteFile(dir.path / "results.tsv", "run\tseconds\tmemory\n1\t0.5\t100\n");
  testing::WriteFile(dir.path / "cafe.txt", "cafe");
  std::filesystem::create_symlink("cafe.txt", dir.path / "linked.sha256.tmp");
  std::filesystem::create_hard_link(dir.path / "cafe.txt", dir.path / "hard.sha256.tmp");
  testing::WriteFile(dir.path / "export.sha256", line + "/000000000000000001.MAI\n");
  testing::WriteFile(dir.path / "empty.sha256", "");
  testing::WriteFile(dir.path / "nul.sha256",
                     line + std::string(1, '\0') + "x/000000000000000007.MAI\n");
  platform::OutputFile heldLog, heldManifest;  // as a run writing them holds them
  const platform::OwnTest any = [](std::string_view) { return true; };
  ASSERT_EQ(platform::CreateOrReplaceOwn(dir.Sub("held.log"), any, &heldLog),
            platform::OwnFile::kOpened);
  ASSERT_EQ(platform::CreateOrReplaceOwn(dir.Sub("held.sha256.tmp"), any, &heldManifest),
            platform::OwnFile::kOpened);
  platform::Append(heldManifest, line);
  platform::Append(heldLog, runLine);
  std::filesystem::create_directory(dir.path / "held");
  std::filesystem::create_directory(dir.path / "read");
  platform::FolderLock held, read;  // as an export writing there, a verify reading there
  ASSERT_EQ(platform::LockFolder(dir.Sub("held"), false, &held), platform::Lock::kTaken);
  ASSERT_EQ(platform::LockFolder(dir.Sub("read"), true, &read), platform::Lock::kTaken);
  for (const Case& c : cases) {
    Process p = RunPlenvar(dir, c.args);
    const std::string what = c.args.empty() ? "no arguments" : c.args[0];
    EXPECT_EQ(p.status, 2) << what;
    EXPECT_EQ(p.out, c.out) << what;
    EXPECT_EQ(p.err, c.err) << what;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.path / "out"));
  // A verify waits for no other verify: it finds what the empty target lacks.
  const Process verify = RunPlenvar(dir, {"/S:store", "/T:read", "/VERIFY"});
  EXPECT_EQ(verify.status, 1) << verify.err;
  EXPECT_EQ(verify.err.rfind("Verify Completed with errors\n", 0), 0u) << verify.err;
  EXPECT_FALSE(std::filesystem::exists(dir.path / "m.tmp")) << "a refused run's manifest";
  EXPECT_EQ(ReadFile(dir.path / "run.log"), runLine);
  EXPECT_EQ(ReadFile(dir.path / "notes.txt"), "not a manifest\n");
  EXPECT_EQ(ReadFile(dir.path / "held.log"), runLine);
  EXPECT_EQ(ReadFile(dir.path / "results.tsv"), "run\tseconds\tmemory\n1\t0.5\t100\n");
  EXPECT_EQ(ReadFile(dir.path / "cafe.txt"), "cafe");
  EXPECT_EQ(ReadFile(dir.path / "held.sha256.tmp"), line);
  EXPECT_EQ(ReadFile(dir.path / "export.sha256"), line + "/000000000000000001.MAI\n");
  platform::Close(heldLog);
  platform::Close(heldManifest);
  EXPECT_EQ(ReadFile(dir.path / "store/anna/inbox.msg"), kStore.at("anna/inbox.msg"));
  // A dry run writes nothing there, so it takes no lock.
  EXPECT_EQ(RunPlenvar(dir, {"/S:store", "/T:held", "/LIST", "/SILENT"}).status, 0);
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
            "out/anna/sent/000000000000000001.MAI: its folder could not be made: out/anna: "
            "not a folder (the rest of store/anna/sent/sent.msg was not exported)\n"
            "out/anna/000000000000000002.MAI: its folder could not be made: out/anna: not a "
            "folder (the rest of store/anna/inbox.msg was not exported)\n"
            "store/bob/loop: a link back to a folder above it\n"
            "store/bob/dangling.msg: not a regular file\n"
            "store/bob/fifo.msg: not a regular file\n");
  Tree expected = {{"anna", "a file where the folder belongs"}};
  expected["bob/"] = "";
  expected["bob/000000000000000003.MAI"] = kExported.at("bob/000000000000000004.MAI");
  EXPECT_EQ(ReadTree(dir.path / "out"), expected);

  p = RunPlenvar(dir, {"/S:store", "/T:out", "/M:*.msg", "/SILENT"});
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(p.out + p.err, "");
}

// A tmpfs of a few pages mounted over a folder, so that the disk really fills;
// or (`of` given) a read-only view of folder `of`. mounted is false where the
// test may not mount.
struct Mounted {
  std::filesystem::path path;
  bool mounted;
  explicit Mounted(std::filesystem::path at, const char* of = nullptr) : path(std::move(at)) {
    std::filesystem::create_directories(path);
    mounted = of == nullptr ? mount("tmpfs", path.c_str(), "tmpfs", 0, "size=256k") == 0
                            : mount(of, path.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
                                  mount(nullptr, path.c_str(), nullptr,
                                        MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
  }
  ~Mounted() { umount(path.c_str()); }
};

// A target on a read-only file system: the failure names that, not the
// missing folder the write then meets.
TEST(PlenvarTest, AReadOnlyTargetSaysSo) {
  TempDir dir;
  MakeTree(dir.path / "store", kStore);
  std::filesystem::create_directory(dir.path / "empty");
  const Mounted target(dir.path / "out", dir.Sub("empty").c_str());
  if (!target.mounted) GTEST_SKIP() << "needs to mount";
  const Process p = RunPlenvar(dir, {"/S:store", "/T:out", "/M:*.msg", "/MT:1"});
  EXPECT_EQ(p.status, 1);
  EXPECT_NE(p.err.find("out/anna/sent/000000000000000001.MAI: its folder could not be made: "
                       "out/anna: Read-only file system (the rest of"),
            std::string::npos)
      << p.err;
  EXPECT_EQ(p.err.find("No such file"), std::string::npos) << p.err;
}

// Each fault is made at its moment in a run over kStore; everything else must
// be exported, the failure counted and named, and no partial or temporary
// file left: the output tree is compared whole.
TEST(PlenvarTest, FaultsAreReportedAndTheRestIsExported) {
  const Tree& x = kExported;
  const std::string mails = "Mail files that could not be read: 1\n";
  const std::string writes = "Message files that could not be written: 1\n";
  // kExported renumbered after message 1 of anna/sent/sent.msg is lost.
  const Tree withoutSent = {{"anna/", ""},
                            {"anna/sent/", ""},
                            {"anna/000000000000000001.MAI", x.at("anna/000000000000000002.MAI")},
                            {"anna/000000000000000002.MAI", x.at("anna/000000000000000003.MAI")},
                            {"bob/", ""},
                            {"bob/000000000000000003.MAI", x.at("bob/000000000000000004.MAI")}};
  Tree grown = x;
  grown["bob/000000000000000005.MAI"] = "Received: late\r\n";
  const Tree takenName = {
      {"anna/", ""},
      {"anna/sent/", ""},
      {"anna/sent/000000000000000001.MAI", x.at("anna/sent/000000000000000001.MAI")},
      {"anna/000000000000000002.MAI/", ""},
      {"bob/", ""},
      {"bob/000000000000000003.MAI", x.at("bob/000000000000000004.MAI")}};
  const Tree diskFull = {
      {"anna/", ""},
      {"anna/sent/", ""},
      {"anna/sent/000000000000000001.MAI", x.at("anna/sent/000000000000000001.MAI")},
      {"anna/000000000000000003.MAI", x.at("anna/000000000000000002.MAI")},
      {"anna/000000000000000004.MAI", x.at("anna/000000000000000003.MAI")},
      {"bob/", ""},
      {"bob/000000000000000005.MAI", x.at("bob/000000000000000004.MAI")}};
  const std::string bigMessage = "Received: big\r\n\r\n" + std::string(300 * 1024, 'x') + "\r\n";
  using Path = const std::filesystem::path&;
  struct Case {
    const char* what;
    std::string fault;
    std::function<void(Path)> setup;
    std::string errors;  // the notice after its first line; DISK stands for the reason
    Tree tree;
  };
  const Case cases[] = {
      {"mail file vanishes before it is read", "vanish:store/anna/sent/sent.msg", nullptr,
       mails + "store/anna/sent/sent.msg: No such file or directory\n", withoutSent},
      {"mail file becomes a folder before it is read", "folder:store/anna/sent/sent.msg", nullptr,
       mails + "store/anna/sent/sent.msg: not a regular file\n", withoutSent},
      {"mail file grows while it is read", "grow:store/bob/inbox.msg", nullptr,
       "Mail files that changed while they were read: 1\nstore/bob/inbox.msg: changed while "
       "it was read (what was read was exported)\n",
       grown},
      {"a folder holds a message file's name", "",
       [](Path dir) {
         std::filesystem::create_directories(dir / "out/anna/000000000000000002.MAI");
       },
       writes + "out/anna/000000000000000002.MAI: Is a directory (the rest of "
                "store/anna/inbox.msg was not exported)\n",
       takenName},
      {"the flush to disk fails", "syncfs", nullptr,
       "Target file systems that could not be flushed to disk: 1\nout/anna/sent: Input/output "
       "error (message files written there may not be on disk)\n",
       x},
      {"a name with control characters", "",
       [](Path dir) { mkfifo((dir / "store/bob/\x1b[2Jx\r\n.msg").c_str(), 0600); },
       "Selected entries that are not regular files: 1\n"
       "store/bob/\\x1b[2Jx\\x0d\\x0a.msg: not a regular file\n",
       x},
      {"names with C1 control characters, as UTF-8 and as a raw byte", "",
       [](Path dir) {
         mkfifo((dir / "store/bob/\xc2\x9b"
                       "2Jx\x9b.msg")
                    .c_str(),
                0600);
         mkfifo((dir / "store/bob/nel\xc2\x85.msg").c_str(), 0600);
       },
       "Selected entries that are not regular files: 2\n"
       "store/bob/nel\\xc2\\x85.msg: not a regular file\n"
       "store/bob/\xc2\\x9b"
       "2Jx\\x9b.msg: not a regular file\n",
       x},
      {"memory runs short", "nomem",
       [&](Path dir) {
         testing::WriteFile(dir / "store/anna/big.msg",
                            "Received: big\r\n\r\n" + std::string(5 << 20, 'x') + "\r\n");
       },
       mails + "store/anna/big.msg: not enough memory\n", x},
      {"the disk fills", "",
       [&](Path dir) { testing::WriteFile(dir / "store/anna/big.msg", bigMessage); },
       writes + "out/anna/000000000000000002.MAI: DISK (the rest of store/anna/big.msg was "
                "not exported)\n",
       diskFull},
  };
  // One writer and several must give the same result. Not on a full disk:
  // which message meets it there depends on what else is being written.
  for (const std::string threads : {"/MT:1", "/MT:4"}) {
    for (const Case& c : cases) {
      std::string errors = c.errors;
      const bool full = errors.find("DISK") != std::string::npos;
      if (full && threads != "/MT:1") continue;
      const std::string what = c.what + (" with " + threads);
      TempDir dir;
      MakeTree(dir.path / "store", kStore);
      if (c.setup) c.setup(dir.path);
      Faults faults{c.fault};
      std::optional<Mounted> disk;
      if (full) {
        disk.emplace(dir.path / "out");
        if (!disk->mounted) faults.fileSizeLimit = 64 * 1024;  // not root: a file size limit
        errors.replace(errors.find("DISK"), 4,
                       disk->mounted ? "No space left on device" : "File too large");
      }
      Process p = RunPlenvar(dir, {"/S:store", "/T:out", "/M:*.msg", threads}, faults);
      EXPECT_EQ(p.status, 1) << what;
      EXPECT_EQ(p.out, "") << what;
      EXPECT_EQ(p.err, "Export Completed with errors\n" + errors) << what;
      EXPECT_EQ(ReadTree(dir.path / "out"), c.tree) << what;
    }
  }
}

// The README's example of a dry run, a run and its log, run as it stands:
// each command's output and the log as the README shows them, but for the
// start time, the writers (one per core) and the seconds.
TEST(PlenvarTest, TheReadmeLogExampleIsRealOutput) {
  const std::string readme = ReadFile(std::filesystem::path(PLENVAR_SOURCE_DIR) / "README.md");
  const std::string first = "$ plenvar /S:mailstore /T:export /M:*.msg /LIST /LOG:plan.log\n";
  const std::size_t begin = readme.find(first);
  ASSERT_NE(begin, std::string::npos);
  std::istringstream block(readme.substr(begin, readme.find("```", begin) - begin));
  TempDir dir;
  std::filesystem::copy(std::filesystem::path(PLENVAR_SOURCE_DIR) / "examples/mailstore",
                        dir.path / "mailstore", std::filesystem::copy_options::recursive);
  // Fields that differ from run to run: the run line's writers and time, the
  // total line's seconds.
  const auto steady = [](std::string text) {
    std::istringstream lines(text);
    std::string out;
    for (std::string line; std::getline(lines, line);) {
      std::vector<std::string> fields;
      std::istringstream split(line);
      for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
      if (fields.size() == 8 && fields[0] == "run") fields[6] = fields[7] = "*";
      if (fields.size() > 4 && fields[0] == "total") fields[fields.size() - 4] = "*";
      for (std::size_t i = 0; i < fields.size(); ++i) out += (i ? "\t" : "") + fields[i];
      out += "\n";
    }
    return out;
  };
  std::string shown, expected;
  const auto check = [&] {
    EXPECT_EQ(steady(shown), steady(expected));
    expected.clear();
  };
  int commands = 0;
  for (std::string line; std::getline(block, line);) {
    if (line.rfind("$ ", 0) != 0) {
      expected += line + "\n";
      continue;
    }
    if (commands++ > 0) check();
    std::vector<std::string> words;
    std::istringstream split(line.substr(2));
    for (std::string word; split >> word;) words.push_back(word);
    if (words[0] == "cat") {
      shown = ReadFile(dir.path / words[1]);
    } else {
      ASSERT_EQ(words[0], "plenvar") << line;
      const Process p = RunPlenvar(dir, std::vector<std::string>(words.begin() + 1, words.end()));
      EXPECT_EQ(p.status, 0) << line;
      shown = p.out;
    }
  }
  check();
  EXPECT_EQ(commands, 3);
}

// A dry run and a verify never say they exported: each failure's words are
// those of the run's kind.
TEST(PlenvarTest, EachKindOfRunSaysWhatItDid) {
  TempDir dir;
  MakeTree(dir.path / "store", kStore);
  ASSERT_EQ(RunPlenvar(dir, {"/S:store", "/T:out", "/M:*.msg"}).status, 0);
  const std::pair<const char*, const char*> cases[] = {{"/LIST", "counted"},
                                                       {"/VERIFY", "compared"}};
  for (const auto& [mode, did] : cases) {
    const Process p = RunPlenvar(dir, {"/S:store", "/T:out", "/M:*.msg", mode, "/LOG:run.log"},
                                 {"grow:store/bob/inbox.msg"});
    EXPECT_EQ(p.status, 1) << mode;
    const std::string reason =
        std::string("store/bob/inbox.msg: changed while it was read (what was read was ") + did +
        ")\n";
    EXPECT_NE(p.err.find(reason), std::string::npos) << mode << ": " << p.err;
    EXPECT_EQ(p.err.find("export"), std::string::npos) << mode << ": " << p.err;
    EXPECT_NE(ReadFile(dir.path / "run.log")
                  .find("inbox.msg\tchanged while it was read (what was read was " +
                        std::string(did) + ")\n"),
              std::string::npos)
        << mode;
  }
}

// A dry run with a log, then the real run with a log, as an administrator
// plans and audits a migration. The log lies inside the source and fits the
// mask, and is never exported.
TEST(PlenvarTest, DryRunAndLog) {
  TempDir dir;
  Tree store = kStore;
  store["anna/tab\there.msg"] = "Received: tab\r\n";
  MakeTree(dir.path / "store", store);
  ASSERT_EQ(mkfifo((dir.path / "store/bob/fifo.msg").c_str(), 0600), 0);
  const std::string bytes = std::to_string(kExported.at("anna/sent/000000000000000001.MAI").size() +
                                           kExported.at("anna/000000000000000002.MAI").size() +
                                           kExported.at("anna/000000000000000003.MAI").size() +
                                           kExported.at("bob/000000000000000004.MAI").size() +
                                           std::string("Received: tab\r\n").size());
  Process p =
      RunPlenvar(dir, {"/S:store", "/T:out", "/M:*.msg", "/LIST", "/LOG:store/bob/run.msg"});
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(p.err,
            "List Completed with errors\nSelected entries that are not regular files: 1\n"
            "store/bob/fifo.msg: not a regular file\nMail files: 4\nMessages: 5\nBytes: " +
                bytes + "\n");
  EXPECT_FALSE(std::filesystem::exists(dir.path / "out"));
  std::vector<std::string> lines;
  {
    std::istringstream log(ReadFile(dir.path / "store/bob/run.msg"));
    for (std::string line; std::getline(log, line);) lines.push_back(line);
  }
  ASSERT_EQ(lines.size(), 7u) << ReadFile(dir.path / "store/bob/run.msg");
  EXPECT_EQ(lines[0].rfind("run\t", 0), 0u) << lines[0];
  EXPECT_NE(lines[0].find("\tlist\tstore\tout\t*.msg\t"), std::string::npos) << lines[0];
  EXPECT_EQ(lines[1], "mail\tstore/anna/sent/sent.msg\tout/anna/sent\t1\t1\t1\t" +
                          std::to_string(kExported.at("anna/sent/000000000000000001.MAI").size()));
  EXPECT_EQ(lines[3].rfind("mail\tstore/anna/tab\\x09here.msg\tout/anna\t4\t4\t1\t", 0), 0u)
      << lines[3];
  EXPECT_EQ(lines[4], "fail\tnot-regular-file\tstore/bob/fifo.msg\tnot a regular file");
  EXPECT_EQ(lines[5].rfind("mail\tstore/bob/inbox.msg\tout/bob\t5\t5\t1\t", 0), 0u) << lines[5];
  EXPECT_EQ(lines[6].rfind("total\t5\t4\t5\t" + bytes + "\t0\t0\t0\t1\t0\t0\t0\t", 0), 0u)
      << lines[6];

  std::filesystem::remove(dir.path / "store/bob/fifo.msg");
  p = RunPlenvar(dir, {"/S:store", "/T:out", "/M:*.msg", "/LOG:store/bob/run.msg"});
  EXPECT_EQ(p.status, 0) << p.err;
  EXPECT_EQ(ReadTree(dir.path / "out").size(), kExported.size() + 1);
  const std::string log = ReadFile(dir.path / "store/bob/run.msg");
  EXPECT_EQ(log.find("\tlist\t"), std::string::npos) << "replaced, not appended to";
  EXPECT_EQ(log.find("store/bob/run.msg"), std::string::npos) << "the log was read as a mail file";
  EXPECT_NE(log.find("\ntotal\t"), std::string::npos) << log;

  p = RunPlenvar(dir, {"/S:store", "/T:out2", "/LOG:nowhere/run.log"});
  EXPECT_EQ(p.status, 2);
  EXPECT_EQ(p.err, "/LOG:file could not be created: nowhere/run.log: No such file or directory\n");
  EXPECT_FALSE(std::filesystem::exists(dir.path / "out2"));

  // A message file would be renamed over the log, taking its lines: refused
  // before anything is written.
  std::filesystem::remove(dir.path / "out/anna/000000000000000003.MAI");
  p = RunPlenvar(dir, {"/S:store", "/T:out", "/M:*.msg", "/LOG:out/anna/000000000000000003.MAI"});
  EXPECT_EQ(p.status, 2);
  EXPECT_EQ(p.err,
            "/LOG:file lies inside /T:TargetDirectory under the name of a message file: "
            "out/anna/000000000000000003.MAI\n");
  EXPECT_FALSE(std::filesystem::exists(dir.path / "out/anna/000000000000000003.MAI"));

  // A log moved away keeps its lines, and its total line counts the failure.
  p = RunPlenvar(dir, {"/S:store", "/T:out", "/M:*.msg", "/LOG:run.log"},
                 {"move-log:store/bob/inbox.msg"});
  EXPECT_EQ(p.status, 1);
  EXPECT_NE(p.err.find("\nrun.log: moved away during the run (its lines are in the moved file)\n"),
            std::string::npos)
      << p.err;
  const std::string moved = ReadFile(dir.path / "moved.log");
  std::vector<std::string> total;
  std::istringstream fields(moved.substr(moved.rfind("total\t")));
  for (std::string field; std::getline(fields, field, '\t');) total.push_back(field);
  ASSERT_GT(total.size(), 11u) << moved;
  EXPECT_EQ(total[11], "1") << "log-not-written in the total line: " << moved;
}

// A reader of the notice that went away (`plenvar ... | head -c 0`) is no
// signal that ends the run: the status and the log are the run's own.
TEST(PlenvarTest, AReaderThatWentAwayStopsNothing) {
  TempDir dir;
  MakeTree(dir.path / "store", kStore);
  const struct {
    std::vector<std::string> args;
    int status;
  } cases[] = {
      {{"--help"}, 0},
      {{"/S:store", "/T:out", "/M:*.msg", "/LOG:export.log"}, 0},
      {{"/S:store", "/T:out", "/M:*.msg", "/LIST", "/LOG:list.log"}, 0},
      {{"/S:store", "/T:out", "/M:*.msg", "/VERIFY", "/LOG:verify.log"}, 0},
  };
  Faults faults;
  faults.readerGone = true;
  for (const auto& c : cases) {
    const Process p = RunPlenvar(dir, c.args, faults);
    EXPECT_EQ(p.status, c.status) << c.args.back() << p.err;
    if (c.args.size() == 1) continue;
    const std::string log = ReadFile(dir.path / c.args.back().substr(5));
    EXPECT_NE(log.find("\ntotal\t"), std::string::npos) << log;
    EXPECT_EQ(log.find("interrupted"), std::string::npos) << log;
  }
}

// The log is passed by whatever name reaches it; a mail file inside a target
// that lies inside the source is named as not exported.
TEST(PlenvarTest, TheLogByIdentityAndMailInsideTheTarget) {
  TempDir dir;
  MakeTree(dir.path / "s", {{"anna/in.msg", "Received: x\r\n\r\nb\r\n"},
                            {"bob/in.msg", "Received: y\r\n\r\nc\r\n"}});
  ASSERT_EQ(RunPlenvar(dir, {"/S:s", "/T:o", "/LOG:s/anna/run.log"}).status, 0);
  ASSERT_EQ(RunPlenvar(dir, {"/S:s", "/T:o", "/LOG:run.log"}).status, 0);
  std::filesystem::create_symlink("s/anna/run.log", dir.path / "lnk.log");
  std::filesystem::create_hard_link(dir.path / "run.log", dir.path / "s/bob/hard.log");
  // The log, the file that holds its lines, and the name by which the walk meets it.
  const char* const cases[][3] = {{"/LOG:lnk.log", "s/anna/run.log", "s/anna/run.log"},
                                  {"/LOG:run.log", "run.log", "s/bob/hard.log"}};
  for (const auto& [log, file, met] : cases) {
    const Process p = RunPlenvar(dir, {"/S:s", "/T:o", log});
    EXPECT_EQ(p.status, 0) << log << p.err;
    const std::string text = ReadFile(dir.path / file);
    EXPECT_EQ(text.find(std::string("mail\t") + met), std::string::npos) << log << ": " << text;
    EXPECT_NE(text.find("\ntotal\t"), std::string::npos) << log << ": " << text;
  }
  // A link in the source to a folder below the target leads to the output of
  // the runs before, which no run exports.
  std::filesystem::create_directory_symlink("../o/anna", dir.path / "s/0link");
  const Process linked = RunPlenvar(dir, {"/S:s", "/T:o", "/LOG:run.log"});
  EXPECT_EQ(linked.status, 0) << linked.err;
  EXPECT_FALSE(std::filesystem::exists(dir.path / "o/0link")) << linked.err;
  std::filesystem::remove(dir.path / "s/0link");
  for (int run = 1; run <= 2; ++run) {
    const Process p = RunPlenvar(dir, {"/S:s", "/T:s/anna", "/M:*.msg"});
    EXPECT_EQ(p.status, 1) << run;
    EXPECT_EQ(p.err.rfind("Export Completed with errors\nMail files inside the target, not "
                          "exported: 1\ns/anna/in.msg: lies inside the target, which the walk "
                          "passes by\n",
                          0),
              0u)
        << run << p.err;
  }
}

// The progress line shows only on a terminal, and never with /SILENT; it is
// cleared before the notice. Everything else runs without one.
TEST(PlenvarTest, ProgressLineOnATerminal) {
  TempDir dir;
  MakeTree(dir.path / "store", kStore);
  // The line must shorten to fit, or it wraps; in one column nothing fits.
  const std::pair<const char*, unsigned short> cases[] = {{"", 40}, {"/SILENT", 40}, {"", 1}};
  for (const auto& [silent, columns] : cases) {
    int terminal = -1, child_end = -1;
    winsize narrow = {24, columns, 0, 0};
    ASSERT_EQ(openpty(&terminal, &child_end, nullptr, nullptr, &narrow), 0);
    const std::string out = dir.Sub("stdout.txt");
    const pid_t child = fork();
    if (child == 0) {
      if (chdir(dir.path.c_str()) != 0) _exit(126);
      dup2(child_end, 2);
      dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
      close(terminal);
      // The log fits the mask and lies in the source: it is not counted either.
      execl(PLENVAR_BINARY, "plenvar", "/S:store", "/T:out", "/M:*.msg", "/LOG:store/run.msg",
            silent, static_cast<char*>(nullptr));
      _exit(127);
    }
    close(child_end);
    std::string shown;
    char buffer[4096];
    for (ssize_t n; (n = read(terminal, buffer, sizeof buffer)) > 0;) shown.append(buffer, n);
    close(terminal);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << silent;
    if (*silent != '\0') {
      EXPECT_EQ(shown, "");
      EXPECT_EQ(ReadFile(out), "");
      continue;
    }
    if (columns == 1) {
      for (std::size_t at; (at = shown.find("\r\x1b[K")) != std::string::npos;) shown.erase(at, 4);
      EXPECT_EQ(shown, "");
      continue;
    }
    EXPECT_EQ(shown.rfind("\r0/3 mail files  0.0/0.0 MB  --:-- left\x1b[K", 0), 0u) << shown;
    EXPECT_EQ(shown.substr(shown.size() - 4), "\r\x1b[K") << shown;
    EXPECT_EQ(ReadFile(out), "Export Completed\n");
  }
}

// Random stores with faults, run with one writer and with several: the trees,
// notices and exit statuses must be the same. The faults: a file where a
// target folder belongs, a folder where a message file belongs (its write
// fails and ends its mail file, shifting every later number), read-only
// message files, FIFOs, names that cannot be mail files, a mail file that
// vanishes.
TEST(PlenvarTest, WritersChangeNothing) {
  const char* const folders[] = {"", "a/", "B/", "a/x/", "c/y/z/"};
  const char* const lines[] = {"Received: r", "Return-Path: <p>", "Date: d", "Subject: s", "", "",
                               "body",        "From env"};
  for (unsigned seed = 1; seed <= 40; ++seed) {
    std::mt19937 random(seed);
    const auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
    Tree store, target;
    for (const char* folder : folders) {
      for (std::size_t f = pick(4); f > 0; --f) {
        std::string text;
        for (std::size_t l = pick(40); l > 0; --l) text += std::string(lines[pick(8)]) + "\r\n";
        store[folder + std::string(f == 3 && pick(4) == 0 ? "n/o.msg" : "m") + std::to_string(f) +
              ".msg"] = text;
      }
      // A message past 1 MiB and one after it, which the cutter hands over
      // with its buffer: in a mail file one worker writes, and in one large
      // enough for every worker to write its messages.
      if (seed % 4 == 1 && *folder == '\0')
        store[folder + std::string("big.msg")] = "Received: a\r\n\r\n" +
                                                 std::string((seed % 8 == 1 ? 3 : 5) << 20, 'x') +
                                                 "\r\n\r\nReceived: b\r\n\r\nb\r\n\r\n"
                                                 "Received: c\r\n\r\nReceived: d\r\n";
      const std::size_t fault = pick(6);
      const bool leaf = *folder != '\0' && std::string(folder) != "a/";
      if (leaf && fault == 0) {
        target[std::string(folder, std::strlen(folder) - 1)] = "blocks the folder";
        continue;
      }
      const auto number = static_cast<std::int64_t>(1 + pick(12));
      if (fault == 1 || fault == 3) target[folder + MessageFileName(number) + "/"] = "";
      if (fault == 2 || fault == 3) target[folder + MessageFileName(number + 1)] = "read-only";
    }
    std::vector<Process> results;
    std::vector<Tree> trees;
    for (const char* threads : {"/MT:1", "/MT:2", "/MT:7"}) {
      TempDir dir;
      MakeTree(dir.path / "store", store);
      MakeTree(dir.path / "out", target);
      if (seed % 5 == 0) mkfifo((dir.path / "store/a/fifo.msg").c_str(), 0600);
      for (const auto& [name, content] : target) {
        if (content == "read-only") chmod((dir.path / "out" / name).c_str(), 0444);
      }
      const Faults faults{seed % 7 == 0 ? "vanish:store/m1.msg" : ""};
      results.push_back(RunPlenvar(dir, {"/S:store", "/T:out", threads}, faults));
      trees.push_back(ReadTree(dir.path / "out"));
    }
    for (std::size_t i = 1; i < results.size(); ++i) {
      EXPECT_EQ(results[i].status, results[0].status) << "seed " << seed << " run " << i;
      EXPECT_EQ(results[i].out, results[0].out) << "seed " << seed << " run " << i;
      EXPECT_EQ(results[i].err, results[0].err) << "seed " << seed << " run " << i;
      EXPECT_EQ(trees[i], trees[0]) << "seed " << seed << " run " << i;
    }
  }
}

// A source deeper than the platform's path length and a folder of tens of
// thousands of files: the walk ends, says what it could not reach and
// exports the rest.
TEST(PlenvarTest, DeepAndWideSources) {
  TempDir dir;
  constexpr int kLevels = 24;  // 24 names of 200 characters: past PATH_MAX (4096)
  constexpr int kFiles = 20000;
  const std::string level(200, 'd');
  {
    // Made level by level through descriptors: the paths get too long to name.
    ASSERT_EQ(mkdir((dir.path / "store").c_str(), 0700), 0);
    int fd = open((dir.path / "store").c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    for (int i = 1; i <= kLevels; ++i) {
      ASSERT_EQ(mkdirat(fd, level.c_str(), 0700), 0);
      const int file = openat(fd, "m.msg", O_WRONLY | O_CREAT, 0600);
      const std::string text = "Received: level " + std::to_string(i - 1) + "\r\n";
      ASSERT_EQ(write(file, text.data(), text.size()), static_cast<ssize_t>(text.size()));
      close(file);
      const int next = openat(fd, level.c_str(), O_RDONLY | O_DIRECTORY);
      close(fd);
      fd = next;
    }
    close(fd);
  }
  std::filesystem::create_directory(dir.path / "wide");
  for (int i = 0; i < kFiles; ++i) {
    testing::WriteFile(dir.path / "wide" / ("f" + std::to_string(i) + ".msg"),
                       "Received: " + std::to_string(i) + "\r\n");
  }
  Process p = RunPlenvar(dir, {"/S:store", "/T:out", "/M:*.msg"});
  EXPECT_EQ(p.status, 1);
  EXPECT_NE(p.err.find("File name too long"), std::string::npos) << p.err;
  // Every level that fits was exported with its own message; deeper ones were reported.
  std::string folder = "out";
  int exported = 0;
  for (int i = 0; i < kLevels && folder.size() < 4096 - 64; ++i, folder += "/" + level) {
    const auto names = testing::ListNames(dir.path / folder);
    for (const std::string& name : names) {
      if (name.size() == 22) {
        EXPECT_EQ(ReadFile(dir.path / folder / name),
                  "Received: level " + std::to_string(i) + "\r\n");
        ++exported;
      }
    }
  }
  EXPECT_GE(exported, 15);
  EXPECT_LT(exported, kLevels);
  // The depth test's tree is past what std::filesystem can remove.
  EXPECT_EQ(std::system(("rm -rf " + dir.Sub("store") + " " + dir.Sub("out")).c_str()), 0);

  p = RunPlenvar(dir, {"/S:wide", "/T:out", "/M:*.msg"});
  EXPECT_EQ(p.status, 0) << p.err;
  EXPECT_EQ(testing::ListNames(dir.path / "out").size(), static_cast<std::size_t>(kFiles));
  EXPECT_EQ(ReadFile(dir.path / "out" / MessageFileName(kFiles)), "Received: 9999\r\n");
}

// Off by default: it writes a 4.4 GB mail file and as much again of message
// files under TMPDIR. Run it with
//   build/tests/plenvar_tests --gtest_also_run_disabled_tests --gtest_filter='*4GiB*'
// Positions and sizes must not wrap at 32 bits: one message straddles 2^32
// and many lie past it.
TEST(PlenvarTest, DISABLED_MailFileLargerThan4GiB) {
  constexpr std::size_t kMessageSize = 1 << 20;
  constexpr int kMessages = 4200;
  TempDir dir;
  std::filesystem::create_directory(dir.path / "store");
  // Message n: "Received: n" padded to 10 digits, a subject, an empty line,
  // body lines of x up to kMessageSize; an empty line between messages.
  std::string message = "Received: 0000000000\r\nSubject: big\r\n\r\n";
  while (message.size() + 1024 <= kMessageSize) message += std::string(1022, 'x') + "\r\n";
  message += std::string(kMessageSize - message.size() - 2, 'y') + "\r\n";
  const auto numbered = [&](int n) {
    std::string text = message;
    const std::string digits = std::to_string(n);
    text.replace(20 - digits.size(), digits.size(), digits);
    return text;
  };
  {
    std::ofstream mail(dir.path / "store" / "big.msg", std::ios::binary);
    for (int n = 1; n <= kMessages; ++n) {
      if (n > 1) mail << "\r\n";
      mail << numbered(n);
    }
    ASSERT_TRUE(mail.good());
  }
  ASSERT_GT(std::filesystem::file_size(dir.path / "store" / "big.msg"), std::uint64_t{1} << 32);
  const auto start = std::chrono::steady_clock::now();
  Process p = RunPlenvar(dir, {"/S:store", "/T:out", "/SILENT"});
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  std::printf("%d messages, %.1f s, peak RSS of the program %.1f MB\n", kMessages, seconds,
              static_cast<double>(usage.ru_maxrss) / 1024);
  EXPECT_EQ(p.status, 0) << p.err;
  EXPECT_EQ(testing::ListNames(dir.path / "out").size(), static_cast<std::size_t>(kMessages));
  for (int n = 1; n <= kMessages; ++n) {
    const auto path = dir.path / "out" / MessageFileName(n);
    ASSERT_EQ(std::filesystem::file_size(path), kMessageSize) << n;
  }
  const int straddling = static_cast<int>((std::uint64_t{1} << 32) / (kMessageSize + 2)) + 1;
  for (int n : {1, straddling, straddling + 1, kMessages}) {
    EXPECT_TRUE(ReadFile(dir.path / "out" / MessageFileName(n)) == numbered(n)) << n;
  }
}

TEST(PlenvarTest, MissingSourceWritesNothing) {
  TempDir dir;
  Process p = RunPlenvar(dir, {"/S:nothing", "/T:out", "/SILENT"});
  EXPECT_EQ(p.status, 2);
  EXPECT_EQ(p.out + p.err,
            "/S:SourceDirectory cannot be read: nothing: No such file or directory\n");
  EXPECT_FALSE(std::filesystem::exists(dir.path / "out"));
}

// The manifest sha256sum writes for the message files of `tree`, in number order.
std::string ManifestOf(const Tree& tree) {
  std::vector<std::pair<std::string, std::string>> files;  // name, path
  for (const auto& [path, text] : tree) {
    const std::size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.size() == 22 && name.compare(18, 4, ".MAI") == 0) files.emplace_back(name, path);
  }
  std::sort(files.begin(), files.end());
  std::string manifest;
  for (const auto& [name, path] : files)
    manifest += platform::Sha256Hex(tree.at(path)) + "  " + path + "\n";
  return manifest;
}

// `sha256sum -c` run on the manifest from inside the target: its status and output.
Process CheckWithSha256sum(const TempDir& dir, const std::string& target,
                           const std::string& manifest) {
  Process p;
  const std::string command = "cd '" + dir.Sub(target) + "' && sha256sum -c --strict '" +
                              dir.Sub(manifest) + "' > '" + dir.Sub("check.out") + "' 2>&1";
  p.status = WEXITSTATUS(std::system(command.c_str()));
  p.out = ReadFile(dir.path / "check.out");
  return p;
}

// From the calls the fault shim recorded in "calls" (which it takes away):
// the message files a manifest lists reach the disk before it takes its
// name, and its name reaches the disk after.
void ExpectDurableInOrder(const TempDir& dir, const std::string& what) {
  const std::string calls = ReadFile(dir.path / "calls");
  std::filesystem::remove(dir.path / "calls");
  const std::size_t renamed = calls.find("rename m.sha256.tmp m.sha256\n");
  ASSERT_NE(renamed, std::string::npos) << what << calls;
  EXPECT_LT(calls.find("syncfs\n"), renamed) << what << calls;
  EXPECT_NE(calls.find("fsync " + std::filesystem::canonical(dir.path).string() + "\n", renamed),
            std::string::npos)
      << what << calls;
}

// A signal stops the run: what was handed over is written, nothing temporary
// stays, the log tells how far it got, and the same command run again
// completes the export. A second signal kills at once; a rerun still does.
TEST(PlenvarTest, InterruptedRunsEndCleanlyAndARerunCompletesThem) {
  const char* const sent = "anna/sent/000000000000000001.MAI";
  const Tree sentOnly = {{"anna/", ""}, {"anna/sent/", ""}, {sent, kExported.at(sent)}};
  for (const char* threads : {"/MT:1", "/MT:4"}) {
    // After sent.msg was read to its end: a worker cutting it is not stopped.
    for (const std::string fault : {"term:store/anna/inbox.msg@store/anna/sent/sent.msg",
                                    "term2:store/anna/inbox.msg@store/anna/sent/sent.msg"}) {
      const std::string what = fault + " with " + threads;
      TempDir dir;
      MakeTree(dir.path / "store", kStore);
      const std::vector<std::string> args = {
          "/S:store", "/T:out", "/M:*.msg", "/LOG:run.log", "/MANIFEST:m.sha256", threads};
      setenv("PLENVAR_RECORD", dir.Sub("calls").c_str(), 1);
      Process p = RunPlenvar(dir, args, {fault});
      unsetenv("PLENVAR_RECORD");
      // What a stopped run committed is listed; a killed run lists nothing.
      EXPECT_EQ(std::filesystem::exists(dir.path / "m.sha256"), fault[4] == ':') << what;
      if (fault[4] == ':') {
        EXPECT_EQ(ReadFile(dir.path / "m.sha256"), ManifestOf(sentOnly)) << what;
        ExpectDurableInOrder(dir, what);
        EXPECT_EQ(p.status, 128 + SIGTERM) << what;
        EXPECT_EQ(p.err,
                  "Export interrupted by SIGTERM: run the same command again to complete it.\n")
            << what;
        EXPECT_EQ(ReadTree(dir.path / "out"), sentOnly) << what;
        const std::string log = ReadFile(dir.path / "run.log");
        EXPECT_NE(
            log.find("\tinterrupted before its end\ninterrupted\tSIGTERM\nmanifest\tm.sha256\t" +
                     platform::Sha256Hex(ManifestOf(sentOnly)) + "\ntotal\t"),
            std::string::npos)
            << log;
      } else {
        EXPECT_EQ(p.status, -1) << what;  // killed by the signal
        // Written at once, the run line lets the rerun know the log as its own.
        EXPECT_EQ(ReadFile(dir.path / "run.log").rfind("run\t", 0), 0u) << what;
      }
      setenv("PLENVAR_RECORD", dir.Sub("calls").c_str(), 1);
      p = RunPlenvar(dir, args, {"record"});
      unsetenv("PLENVAR_RECORD");
      EXPECT_EQ(p.status, 0) << what << p.err;
      ExpectDurableInOrder(dir, what + ", rerun");
      EXPECT_EQ(ReadTree(dir.path / "out"), kExported) << what;
      EXPECT_EQ(ReadFile(dir.path / "m.sha256"), ManifestOf(kExported)) << what;
      EXPECT_FALSE(std::filesystem::exists(dir.path / "m.sha256.tmp")) << what;
      // The sent message was in place; a killed run may have written more.
      if (fault[4] == ':') {
        EXPECT_EQ(p.out,
                  "Export Completed\nMessage files written: 3\n"
                  "Message files already in place: 1\n")
            << what;
      }
    }
  }
}

// Every message file a run leaves, with its SHA-256, as coreutils checks it:
// the same with any number of writers and after a rerun; a verify lists what
// it found matching; a name with a line break is escaped as sha256sum does.
TEST(PlenvarTest, AManifestListsWhatTheRunLeaves) {
  TempDir dir;
  MakeTree(dir.path / "store", kStore);
  const std::string manifest = ManifestOf(kExported);
  const std::vector<std::string> args = {"/S:store", "/T:out", "/M:*.msg", "/MANIFEST:m.sha256",
                                         "/LOG:run.log"};
  for (const char* threads : {"/MT:4", "/MT:1", "/MT:1"}) {  // the last over the first's output
    std::vector<std::string> run = args;
    run.push_back(threads);
    Process p = RunPlenvar(dir, run);
    EXPECT_EQ(p.status, 0) << threads << p.err;
    EXPECT_EQ(ReadFile(dir.path / "m.sha256"), manifest) << threads;
    EXPECT_FALSE(std::filesystem::exists(dir.path / "m.sha256.tmp")) << threads;
    EXPECT_NE(ReadFile(dir.path / "run.log")
                  .find("\nmanifest\tm.sha256\t" + platform::Sha256Hex(manifest) + "\ntotal\t"),
              std::string::npos)
        << threads;
  }
  Process check = CheckWithSha256sum(dir, "out", "m.sha256");
  EXPECT_EQ(check.status, 0) << check.out;
  const std::vector<std::string> alone = {"/T:out", "/VERIFY", "/MANIFEST:m.sha256"};
  Process p = RunPlenvar(dir, alone);
  EXPECT_EQ(p.status, 0) << p.err;
  std::size_t bytes = 0;
  for (const auto& [path, text] : kExported) bytes += text.size();
  EXPECT_EQ(p.out, "Verify Completed\nMail files: 0\nMessages: 4\nBytes: " + std::to_string(bytes) +
                       "\nManifest SHA-256: " + platform::Sha256Hex(manifest) + "\n");
  testing::WriteFile(dir.path / "out/anna/000000000000000003.MAI", "changed\r\n");
  check = CheckWithSha256sum(dir, "out", "m.sha256");
  EXPECT_EQ(check.status, 1);
  EXPECT_NE(check.out.find("anna/000000000000000003.MAI: FAILED\n"), std::string::npos)
      << check.out;
  // The same from the program, without the source: changed, missing, extra.
  std::filesystem::rename(dir.path / "out/bob/000000000000000004.MAI",
                          dir.path / "out/bob/000000000000000005.MAI");
  for (const char* threads : {"/MT:1", "/MT:3"}) {
    std::vector<std::string> run = alone;
    run.push_back(threads);
    p = RunPlenvar(dir, run);
    EXPECT_EQ(p.status, 1) << threads;
    EXPECT_EQ(
        p.err,
        "Verify Completed with errors\nMessage files that are missing: 1\n"
        "Message files that differ from the manifest: 1\n"
        "Files in the target that the manifest does not list: 1\n"
        "out/anna/000000000000000003.MAI: its SHA-256 is " +
            platform::Sha256Hex("changed\r\n") +
            ", not the manifest's\nout/bob/000000000000000004.MAI: No such file or directory\n"
            "out/bob/000000000000000005.MAI: a message file the manifest does not list\n"
            "Mail files: 0\nMessages: 4\nBytes: " +
            std::to_string(bytes - kExported.at("anna/000000000000000003.MAI").size() -
                           kExported.at("bob/000000000000000004.MAI").size() + 9) +
            "\nManifest SHA-256: " + platform::Sha256Hex(manifest) + "\n")
        << threads;
  }
  // A stop as bob's file is opened: what was checked is reported, bob's file
  // and the extra search are not reached.
  testing::WriteFile(dir.path / "out/bob/000000000000000004.MAI",
                     kExported.at("bob/000000000000000004.MAI"));
  std::vector<std::string> stopped = alone;
  stopped.push_back("/MT:1");
  stopped.push_back("/LOG:stop.log");
  p = RunPlenvar(dir, stopped, {"term:out/bob/000000000000000004.MAI"});
  EXPECT_EQ(p.status, 128 + SIGTERM);
  EXPECT_EQ(p.err, "Verify interrupted by SIGTERM.\n");
  const std::string log = ReadFile(dir.path / "stop.log");
  EXPECT_NE(log.find("\nfail\tmessage-differs\tout/anna/000000000000000003.MAI\t"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find("bob/"), std::string::npos) << log;
  std::filesystem::remove(dir.path / "out/bob/000000000000000005.MAI");
  testing::WriteFile(dir.path / "bad.sha256", manifest + "not a line\n");
  p = RunPlenvar(dir, {"/T:out", "/VERIFY", "/MANIFEST:bad.sha256"});
  EXPECT_EQ(p.status, 2);
  EXPECT_EQ(p.err,
            "/MANIFEST:file cannot be read: bad.sha256: line 5: not a SHA-256 in lower-case hex, "
            "two spaces and a path\n");

  // A verify lists only what matches.
  p = RunPlenvar(dir, {"/S:store", "/T:out", "/M:*.msg", "/VERIFY", "/MANIFEST:v.sha256"});
  EXPECT_EQ(p.status, 1) << p.err;
  Tree matching = kExported;
  matching.erase("anna/000000000000000003.MAI");
  EXPECT_EQ(ReadFile(dir.path / "v.sha256"), ManifestOf(matching));

  // Names as sha256sum writes them: "\n" for a line break, the line led by "\".
  MakeTree(dir.path / "odd", {{"new\nline/box.msg", "Subject: odd\r\n\r\nx\r\n"}});
  p = RunPlenvar(dir, {"/S:odd", "/T:odd-out", "/MANIFEST:odd.sha256"});
  EXPECT_EQ(p.status, 0) << p.err;
  EXPECT_EQ(ReadFile(dir.path / "odd.sha256"),
            "\\" + platform::Sha256Hex("Subject: odd\r\n\r\nx\r\n") +
                "  new\\nline/000000000000000001.MAI\n");
  check = CheckWithSha256sum(dir, "odd-out", "odd.sha256");
  EXPECT_EQ(check.status, 0) << check.out;
}

// A check from a manifest in any order (sorted, shuffled, a line twice)
// finds every file that differs and every extra one, whatever else the
// folder holds before it, and tells the manifest's own SHA-256 in its log.
TEST(PlenvarTest, ACheckFromAManifestInAnyOrderFindsEverything) {
  TempDir dir;
  MakeTree(dir.path / "store", kStore);
  // Inside the target under a name of its own: a natural place.
  ASSERT_EQ(
      RunPlenvar(dir, {"/S:store", "/T:out", "/M:*.msg", "/MANIFEST:out/manifest.sha256"}).status,
      0);
  std::istringstream lines(ReadFile(dir.path / "out/manifest.sha256"));
  std::vector<std::string> listed;
  for (std::string line; std::getline(lines, line);) listed.push_back(line + "\n");
  std::string shuffled = listed.front();
  for (auto line = listed.rbegin(); line != listed.rend(); ++line) shuffled += *line;
  testing::WriteFile(dir.path / "shuffled.sha256", shuffled);
  for (const char* changed : {"anna/000000000000000002.MAI", "anna/000000000000000003.MAI"})
    testing::WriteFile(dir.path / "out" / changed, "changed\r\n");
  // Made in this order, the extra files come before and after other files
  // in any listing order the file system keeps.
  for (const char* name : {"000000000000000009.MAI", "0-notes.txt", "000000000000000010.MAI",
                           "0-more.txt", "000000000000000011.MAI"})
    testing::WriteFile(dir.path / "out/bob" / name, "x");
  Process p = RunPlenvar(dir, {"/T:out", "/VERIFY", "/MANIFEST:shuffled.sha256", "/LOG:check.log"});
  EXPECT_EQ(p.status, 1);
  for (const char* count : {"differ from the manifest: 2\n", "the manifest does not list: 3\n",
                            "000000000000000011.MAI: a message file the manifest does not list\n"})
    EXPECT_NE(p.err.find(count), std::string::npos) << p.err;
  EXPECT_NE(p.err.find("\nManifest SHA-256: " + platform::Sha256Hex(shuffled) + "\n"),
            std::string::npos)
      << p.err;
  EXPECT_NE(ReadFile(dir.path / "check.log")
                .find("\nmanifest\tshuffled.sha256\t" + platform::Sha256Hex(shuffled) + "\n"),
            std::string::npos);
}

// A manifest of gigabytes without a line break is refused at once, in
// little memory.
TEST(PlenvarTest, AManifestWithoutLineBreaksIsRefusedInBoundedMemory) {
  TempDir dir;
  std::filesystem::create_directory(dir.path / "out");
  {
    std::ofstream big(dir.path / "big.sha256");
    big << std::string(64, 'a') << "  x";
  }
  std::filesystem::resize_file(dir.path / "big.sha256", std::uintmax_t{1} << 30);  // sparse
  Process p =
      RunPlenvar(dir, {"/T:out", "/VERIFY", "/MANIFEST:big.sha256"}, {"", RLIM_INFINITY, 10});
  EXPECT_EQ(p.status, 2);
  EXPECT_EQ(p.err,
            "/MANIFEST:file cannot be read: big.sha256: line 1: longer than any line of a "
            "manifest\n");
  EXPECT_LT(p.peakKb, 64 << 10);
}

// A rerun finishes the job: a message file already in place with exactly its
// text is left as it is and counted; anything else is handled as by a first run.
TEST(PlenvarTest, ARerunLeavesWhatIsInPlace) {
  using Path = const std::filesystem::path&;
  const std::string anna = "out/anna/000000000000000002.MAI",
                    bob = "out/bob/000000000000000004.MAI";
  const auto folderAt = [](const std::string& name) {
    return [name](Path d) {
      std::filesystem::remove(d / name);
      std::filesystem::create_directory(d / name);
    };
  };
  Tree folderAtBob = kExported, folderAtAnna = kExported;
  folderAtBob.erase("bob/000000000000000004.MAI");
  folderAtBob["bob/000000000000000004.MAI/"] = "";
  // The rest of anna's inbox is not exported, so bob's message is number 3;
  // the 4 of the run before stays.
  folderAtAnna.erase("anna/000000000000000002.MAI");
  folderAtAnna["anna/000000000000000002.MAI/"] = "";
  folderAtAnna["bob/000000000000000003.MAI"] = kExported.at("bob/000000000000000004.MAI");
  const std::string notWritten = "Message files that could not be written: 1\nout/";
  // The rest of anna's inbox and the 4 of the run before: not this run's tree.
  const std::string notLeft = " a message file this run did not leave there; left as it is\n";
  const std::string annaNotWritten =
      "Message files that could not be written: 1\n"
      "Files in the target that the export would not have written: 2\n"
      "out/anna/000000000000000002.MAI: Is a directory (the rest of store/anna/inbox.msg was not "
      "exported)\nout/anna/000000000000000003.MAI:" +
      notLeft + "out/bob/000000000000000004.MAI:" + notLeft;
  const std::string tmp3 = "out/bob/000000000000000003-1.MAI.tmp";
  // What an entry at a temporary name or a message file's leads to: never written.
  const auto victim = [](Path d) {
    testing::WriteFile(d / "victim", "victim\n");
    return d / "victim";
  };
  Tree shifted = kExported, extra = kExported, tmpFolder = kExported, linkedBob = kExported;
  linkedBob.erase("bob/000000000000000004.MAI");
  tmpFolder.erase("bob/000000000000000004.MAI");
  tmpFolder["bob/000000000000000003-1.MAI.tmp/"] = "";
  tmpFolder["bob/000000000000000003-1.MAI.tmp/x/"] = "";
  shifted["bob/000000000000000003.MAI"] = kExported.at("bob/000000000000000004.MAI");
  extra["bob/000000000000000007.MAI"] = kExported.at("bob/000000000000000004.MAI");
  const struct {
    const char* what;
    std::function<void(Path)> change;  // to a complete export
    int written, inPlace;
    std::string failure;  // the notice's lines for it, if any
    const Tree& tree;
    bool again = false;  // the rerun is run twice: the second finds the first's files in place
    std::function<void(Path)> then = nullptr;  // after that
    const char* logged = "";                   // a line of the rerun's log
  } cases[] = {
      {"complete", nullptr, 0, 4, "", kExported},
      {"half", [](Path d) { std::filesystem::remove_all(d / "out/bob"); }, 1, 3, "", kExported},
      {"one changed", [&](Path d) { testing::WriteFile(d / bob, "Date: Thu\r\n"); }, 1, 3, "",
       kExported},
      {"one cut short", [&](Path d) { std::filesystem::resize_file(d / bob, 10); }, 1, 3, "",
       kExported},
      {"one changed at its size",
       [&](Path d) { testing::WriteFile(d / bob, std::string(ReadFile(d / bob).size(), 'x')); }, 1,
       3, "", kExported},
      {"a leftover temporary file", [&](Path d) { std::filesystem::rename(d / bob, d / tmp3); }, 1,
       3, "", kExported},
      {"stale temporary files beside messages in place",
       [&](Path d) {
         std::filesystem::copy(d / bob, d / "out/bob/000000000000000009-1.MAI.tmp");
         testing::WriteFile(d / "out/anna/000000000000000000.MAI.tmp", "x");
       },
       0, 4, "", kExported, false, nullptr,
       "removed\tout/bob/000000000000000009-1.MAI.tmp\ta temporary file an earlier run left\n"},
      {"a hard link to a mail file at a temporary name",
       [&](Path d) {
         std::filesystem::remove(d / bob);
         std::filesystem::create_hard_link(d / "store/anna/inbox.msg", d / tmp3);
       },
       1, 3, "", kExported},
      {"a symbolic link at a temporary name",
       [&](Path d) {
         std::filesystem::remove(d / bob);
         std::filesystem::create_symlink(victim(d), d / tmp3);
       },
       1, 3, "", kExported},
      {"a FIFO at a temporary name",
       [&](Path d) {
         std::filesystem::remove(d / bob);
         mkfifo((d / tmp3).c_str(), 0600);
       },
       1, 3, "", kExported},
      {"an empty folder at a temporary name",
       [&](Path d) {
         std::filesystem::remove(d / bob);
         std::filesystem::create_directory(d / tmp3);
       },
       1, 3, "", kExported},
      {"a folder that is not empty at a temporary name",
       [&](Path d) {
         std::filesystem::remove(d / bob);
         std::filesystem::create_directories(d / tmp3 / "x");
       },
       0, 3,
       notWritten + "bob/000000000000000004.MAI: what is at its temporary name "
                    "000000000000000003-1.MAI.tmp could not be removed: Directory not empty (the "
                    "rest of store/bob/inbox.msg was not exported)\n",
       tmpFolder},
      {"a link to a file of the same text in place of a message file",
       [&](Path d) {
         testing::WriteFile(victim(d), ReadFile(d / bob));
         std::filesystem::remove(d / bob);
         std::filesystem::create_symlink(d / "victim", d / bob);
       },
       1, 3, "", kExported},
      // Out of the target, here into the source: never written, nothing removed there.
      {"a link in place of a target folder",
       [&](Path d) {
         std::filesystem::remove_all(d / "out/bob");
         std::filesystem::create_directory_symlink(d / "store/bob", d / "out/bob");
       },
       0, 3,
       notWritten + "bob/000000000000000004.MAI: its folder leads out of the target: out/bob is "
                    "a link (the rest of store/bob/inbox.msg was not exported)\n",
       linkedBob},
      {"a message file beyond those a run leaves",
       [&](Path d) { std::filesystem::copy(d / bob, d / "out/bob/000000000000000007.MAI"); }, 0, 4,
       "Files in the target that the export would not have written: 1\n"
       "out/bob/000000000000000007.MAI:" +
           notLeft,
       extra},
      {"a folder in its place", folderAt(bob), 0, 3,
       notWritten + "bob/000000000000000004.MAI: Is a directory (the rest of "
                    "store/bob/inbox.msg was not exported)\n",
       folderAtBob},
      {"a folder in place of an earlier one", folderAt(anna), 1, 1, annaNotWritten, folderAtAnna},
      // Numbered lower than an export without the failure would: in place all the same.
      {"a folder in place of an earlier one, run twice", folderAt(anna), 0, 2, annaNotWritten,
       folderAtAnna, true},
      // The failure gone: every message at its clean number, and the one the
      // failed run shifted is not taken for this run's.
      {"a folder in place of an earlier one, then removed", folderAt(anna), 1, 3,
       "Files in the target that the export would not have written: 1\n"
       "out/bob/000000000000000003.MAI:" +
           notLeft,
       shifted, true, [&](Path d) { std::filesystem::remove(d / anna); }},
  };
  for (const char* threads : {"/MT:1", "/MT:4"}) {
    for (const auto& c : cases) {
      const std::string what = c.what + std::string(" with ") + threads;
      TempDir dir;
      MakeTree(dir.path / "store", kStore);
      const Tree store = ReadTree(dir.path / "store");
      const std::vector<std::string> args = {"/S:store", "/T:out", "/M:*.msg", threads};
      ASSERT_EQ(RunPlenvar(dir, args).status, 0) << what;
      if (c.change) c.change(dir.path);
      if (c.again) RunPlenvar(dir, args);
      if (c.then) c.then(dir.path);
      const bool hasVictim = std::filesystem::exists(dir.path / "victim");
      const std::string victimText = hasVictim ? ReadFile(dir.path / "victim") : "";
      std::vector<std::string> again = args;
      again.push_back("/LOG:run.log");
      const Process p = RunPlenvar(dir, again);
      const std::string counts = "Message files written: " + std::to_string(c.written) +
                                 "\nMessage files already in place: " + std::to_string(c.inPlace) +
                                 "\n";
      if (c.failure.empty()) {
        EXPECT_EQ(p.status, 0) << what;
        EXPECT_EQ(p.out, "Export Completed\n" + counts) << what;
      } else {
        EXPECT_EQ(p.status, 1) << what;
        EXPECT_EQ(p.err, "Export Completed with errors\n" + c.failure + counts) << what;
      }
      if (std::filesystem::is_fifo(dir.path / tmp3)) {  // reading the tree would block
        ADD_FAILURE() << what << ": a FIFO left at a temporary name";
        continue;
      }
      EXPECT_EQ(ReadTree(dir.path / "out"), c.tree) << what;
      EXPECT_FALSE(std::filesystem::is_symlink(dir.path / bob)) << what;
      EXPECT_EQ(ReadTree(dir.path / "store"), store) << what;
      if (hasVictim) {
        EXPECT_EQ(ReadFile(dir.path / "victim"), victimText) << what;
      }
      const std::string log = ReadFile(dir.path / "run.log");
      EXPECT_NE(log.rfind("\t" + std::to_string(c.inPlace) + "\t0\t0\n"), std::string::npos) << log;
      EXPECT_NE(log.find(c.logged), std::string::npos) << what << "\n" << log;
    }
  }
}

// A mail file of more short messages than may wait for their commit, reached
// after a stretch of empty folders in which every mail file before it was
// committed: the oldest mail file never waits for room, so every run ends.
TEST(PlenvarTest, ManyShortMessagesAfterAnEmptyStretch) {
  TempDir dir;
  Tree store = {{"a/first.msg", "Received: first\r\n"}};
  for (int i = 0; i < 3000; ++i) store["aa/e" + std::to_string(i) + "/"] = "";
  std::string many;
  for (int i = 0; i < 9000; ++i) many += "Received: " + std::to_string(i) + "\r\n\r\nx\r\n\r\n";
  store["b/many.msg"] = many;
  MakeTree(dir.path / "store", store);
  for (const std::string mode : {"/MT:1", "/MT:2", "/MT:7", "", "/LIST"}) {
    std::vector<std::string> args = {"/S:store", "/T:out", "/SILENT"};
    if (!mode.empty()) args.push_back(mode);
    const Process p = RunPlenvar(dir, args, {"", RLIM_INFINITY, 20});
    EXPECT_EQ(p.status, 0) << "'" << mode << "' " << p.err;
    if (mode != "/LIST") {
      EXPECT_EQ(testing::ListNames(dir.path / "out/b").size(), 9000u) << mode;
      std::filesystem::remove_all(dir.path / "out");
    }
  }
}

// A verify stopped by a signal reports what it compared up to the stop and
// nothing after it: the message files it did not reach are not extra files.
TEST(PlenvarTest, AStoppedVerifyFindsNoExtraFiles) {
  for (const char* threads : {"/MT:1", "/MT:4"}) {
    TempDir dir;
    MakeTree(dir.path / "store", {{"anna/inbox.msg", "Received: a\r\n\r\nReceived: b\r\n"},
                                  {"anna/zzz.msg", "Received: c\r\n"}});
    ASSERT_EQ(RunPlenvar(dir, {"/S:store", "/T:out", "/SILENT"}).status, 0) << threads;
    const Process p = RunPlenvar(dir, {"/S:store", "/T:out", "/VERIFY", "/LOG:v.log", threads},
                                 {"term:store/anna/zzz.msg@store/anna/inbox.msg"});
    EXPECT_EQ(p.status, 128 + SIGTERM) << threads;
    const std::string log = ReadFile(dir.path / "v.log");
    EXPECT_EQ(log.find("extra-file"), std::string::npos) << threads << "\n" << log;
    EXPECT_NE(log.find("\tinterrupted before its end\ninterrupted\tSIGTERM\ntotal\t"),
              std::string::npos)
        << threads << "\n"
        << log;
  }
}

// Every mode over one store: afterwards it holds what it held, byte for byte,
// and nothing new but the log and the target tree put inside it. Where the
// test may mount, the modes that write outside it also run over a read-only
// view of it, where any write would fail.
TEST(PlenvarTest, TheSourceIsNeverWritten) {
  TempDir dir;
  MakeTree(dir.path / "store", kStore);
  const Tree before = ReadTree(dir.path / "store");
  const Mounted view(dir.path / "view", dir.Sub("store").c_str());
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"/S:store", "/T:out1", "/MT:1"}, ""},
      {{"/S:store", "/T:out2", "/MT:4", "/LOG:run.log"}, ""},
      {{"/S:store", "/T:out3", "/LIST"}, ""},
      {{"/S:store", "/T:out4", "/LOG:store/run.log"}, ""},
      {{"/S:store", "/T:store/out", "/M:*.msg"}, ""},
      {{"/S:store", "/T:out5"}, "syncfs"},
      {{"/S:store", "/T:out6"}, "term:store/bob/inbox.msg"},
  };
  for (const auto& [args, fault] : cases) {
    RunPlenvar(dir, args, {fault});
    Tree after = ReadTree(dir.path / "store");
    for (auto entry = after.begin(); entry != after.end();) {
      const bool ours = entry->first == "run.log" || entry->first.rfind("out/", 0) == 0;
      entry = ours ? after.erase(entry) : std::next(entry);
    }
    EXPECT_EQ(after, before) << args[1] << " " << args[2];
    if (!view.mounted || !fault.empty() || args[1].rfind("/T:store", 0) == 0) continue;
    std::vector<std::string> viewed = args;
    viewed[0] = "/S:view";
    Process p = RunPlenvar(dir, viewed);
    EXPECT_EQ(p.status, 0) << "read-only " << args[1] << " " << args[2] << ": " << p.err;
  }
}

// "/DATES": every message file gets its message's time, with any number of
// writers (a large mail file's messages handed over too); a rerun sets a
// wrong time without rewriting the file, a read-only one's too; a verify
// tells a time apart from bytes; a dry run counts where the times came from.
TEST(PlenvarTest, DatesGiveEveryMessageFileItsMessagesTime) {
  constexpr std::int64_t kReceived = 1057049557, kDate = 1136239445, kMailFile = 981173106;
  const std::string date = "Date: Mon, 2 Jan 2006 15:04:05 -0700\r\n";
  const Tree store = {
      {"a/in.msg", "From x\r\nReceived: by b; Tue, 1 Jul 2003 10:52:37 +0200\r\n" + date +
                       "\r\nHi.\r\n\r\nFrom y\r\nReceived: by b; no date\r\n" + date +
                       "\r\nHo.\r\n"},
      {"b/big.msg", "From z\r\nSubject: none\r\n\r\n" + std::string(5 << 20, 'x') + "\r\n"},
  };
  const std::map<std::string, std::int64_t> times = {{"a/000000000000000001.MAI", kReceived},
                                                     {"a/000000000000000002.MAI", kDate},
                                                     {"b/000000000000000003.MAI", kMailFile}};
  const auto stat = [](const std::filesystem::path& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st;
  };
  for (const char* threads : {"/MT:1", "/MT:3", "/M:*.msg"}) {  // the last: default writers
    TempDir dir;
    MakeTree(dir.path / "store", store);
    const timespec old[2] = {{kMailFile, 0}, {kMailFile, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (dir.path / "store/b/big.msg").c_str(), old, 0), 0);
    const auto run = [&](std::vector<std::string> more) {
      more.insert(more.begin(), {"/S:store", "/T:out", threads, "/LOG:run.log", "/DATES"});
      return RunPlenvar(dir, more);
    };
    ASSERT_EQ(run({}).status, 0) << threads;
    for (const auto& [name, time] : times)
      EXPECT_EQ(stat(dir.path / "out" / name).st_mtime, time) << name << threads;
    EXPECT_NE(ReadFile(dir.path / "run.log").find("\ndates\t1\t1\t1\ntotal"), std::string::npos);
    // Wrong times, one on a read-only file: set in place, not rewritten.
    const std::filesystem::path one = dir.path / "out" / times.begin()->first;
    std::filesystem::last_write_time(dir.path / "out/b/000000000000000003.MAI",
                                     std::filesystem::file_time_type::clock::now());
    std::filesystem::permissions(one, std::filesystem::perms::owner_read);
    std::filesystem::last_write_time(one, std::filesystem::file_time_type::clock::now());
    const Process verify = run({"/VERIFY"});
    EXPECT_EQ(verify.status, 1) << threads;
    EXPECT_NE(verify.err.find("Message files whose time is not their message's: 2\n"),
              std::string::npos)
        << verify.err;
    EXPECT_NE(ReadFile(dir.path / "run.log")
                  .find("the message's time 2003-07-01T08:52:37Z (from "
                        "Received:)\n"),
              std::string::npos);
    const ino_t inode = stat(one).st_ino;
    const Process rerun = run({});
    EXPECT_EQ(rerun.status, 0) << rerun.err;
    EXPECT_EQ(stat(one).st_ino, inode) << threads;
    EXPECT_EQ(stat(one).st_mode & 0777, 0400u) << threads;
    for (const auto& [name, time] : times)
      EXPECT_EQ(stat(dir.path / "out" / name).st_mtime, time) << name << threads;
    EXPECT_EQ(run({"/VERIFY"}).status, 0) << threads;
    EXPECT_NE(run({"/LIST"}).out.find("from Received: 1, from Date: 1, from the mail file: 1"),
              std::string::npos)
        << threads;
  }
}

}  // namespace
}  // namespace plenvar
