#include "output/output.h"

#include <gtest/gtest.h>

#include <functional>

#include "target/message_names.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "manifest/manifest.h"
#include "platform/folders.h"
#include "test_util.h"

namespace plenvar {
namespace {

using testing::ReadTree;
using testing::TempDir;
using testing::Tree;

TEST(OutputTest, NamesByEighteenDigits) {
  EXPECT_EQ(MessageFileName(1), "000000000000000001.MAI");
  EXPECT_EQ(MessageFileName(2147483648), "000000002147483648.MAI");  // past 32 bits
  // What a verify and a rerun take a name in the target for.
  const struct {
    const char* name;
    NameKind kind;
  } names[] = {{"000000000000000042.MAI", NameKind::kMessageFile},
               {"000000000000000042.MAI.tmp", NameKind::kTemporary},
               {"000000000000000007-3.MAI.tmp", NameKind::kTemporary},
               {"000000000000000007-12.MAI.tmp", NameKind::kTemporary},
               {"000000000000000007-x.MAI.tmp", NameKind::kOther},
               {"000000000000000007-.MAI.tmp", NameKind::kOther},
               {"000000000000000007-3x.MAI.tmp", NameKind::kOther},
               {"000000000000000007-3.MAI", NameKind::kOther},
               {"00000000000000042.MAI", NameKind::kOther},
               {"000000000000000000.MAI", NameKind::kMessageFile},  // never one it writes
               {"000000000000000000-1.MAI.tmp", NameKind::kTemporary},
               {"000000000000000042.mai", NameKind::kOther},
               {"000000000000000042.MAI.bak", NameKind::kOther}};
  for (const auto& n : names) {
    std::int64_t number = 0;
    EXPECT_EQ(KindOfName(n.name, &number), n.kind) << n.name;
  }
}

// A manifest's lines as sha256sum writes and reads them, and what may be
// replaced as one.
TEST(ManifestTest, LinesAsSha256sumWritesThemAndWhatCountsAsOne) {
  const std::string d(64, 'a');
  const struct {
    const char* path;
    std::string line;
    bool readBack = true;  // a "\\" in a name is no path of this program's
  } lines[] = {{"000000000000000001.MAI", d + "  000000000000000001.MAI\n"},
               {"a b/Ça/000000000000000002.MAI", d + "  a b/Ça/000000000000000002.MAI\n"},
               // Names Windows cannot hold.
               {"new\nline/1.MAI", "\\" + d + "  new\\nline/1.MAI\n", !platform::kWindowsNames},
               {"cr\r/1.MAI", "\\" + d + "  cr\\r/1.MAI\n", !platform::kWindowsNames},
               {"back\\slash/1.MAI", "\\" + d + "  back\\\\slash/1.MAI\n", false}};
  std::string digest, path, why;
  for (const auto& l : lines) {
    EXPECT_EQ(ManifestLine(d, l.path), l.line) << l.path;
    const std::string_view line = std::string_view(l.line).substr(0, l.line.size() - 1);
    EXPECT_EQ(ParseManifestLine(line, &digest, &path, &why), l.readBack) << l.path << ": " << why;
    if (l.readBack) {
      EXPECT_EQ(path, l.path) << "read back";
    }
  }
  // As sha256sum also writes them, and what never leads out of the target.
  using namespace std::string_literals;
  const std::string longest(platform::kLongestPath, 'x');
  const struct {
    std::string line;
    bool read;
  } read[] = {
      {d + " *a/1.MAI", true},
      {d + "  a/1.MAI\r", true},
      {d + "  ../a/1.MAI", false},
      {d + "  a/../../1.MAI", false},
      {d + "  /etc/passwd", false},
      {d + "  C:/x/1.MAI", !platform::kWindowsNames},  // "C:" is a folder's name on POSIX
      {d + "  a//1.MAI", false},
      {d + "  a\\b", false},
      {"\\" + d + "  a\\x", false},
      {d + "  ", false},
      {d.substr(1) + "   a", false},
      {d + "  ..\0x/1.MAI"s, false},  // the system would read ".."
      {d + "  a/1.MAI\0"s, false},
      {d + "  " + longest, true},
      {d + "  " + longest + "x", false},
      {"\\" + d + "  " + std::string(longest.size() - 1, 'x') + "\\n", !platform::kWindowsNames}};
  for (const auto& r : read)
    EXPECT_EQ(ParseManifestLine(r.line, &digest, &path, &why), r.read) << r.line.substr(0, 80);
  // The one rule, as each system reads names: Windows also refuses what it
  // would take for a drive, a device, a stream, or trim.
  const struct {
    std::string path;
    bool posix, windows;
  } paths[] = {{"a b/Ça/000000000000000002.MAI", true, true},
               {"x:/in/1.MAI", true, false},
               {"a/b:c", true, false},
               {"a\x01b/1.MAI", true, false},
               {"a*/1.MAI", true, false},
               {"dot./1.MAI", true, false},
               {"space /1.MAI", true, false},
               {"nul/1.MAI", true, false},
               {"Com1.txt/1.MAI", true, false},
               {"com10/1.MAI", true, true},
               {"a\0b"s, false, false},
               {"/a", false, false}};
  for (const auto& p : paths) {
    EXPECT_EQ(PathInsideTarget(p.path, false, &why), p.posix) << p.path;
    EXPECT_EQ(PathInsideTarget(p.path, true, &why), p.windows) << p.path;
  }
  // Any file may become a temporary one, cut short by a kill; the final
  // name is only ever a whole manifest.
  const struct {
    const char* name;
    std::string text;
    bool manifest, temporary;
  } files[] = {{"empty", "", true, true},
               {"a line", d + "  x/000000000000000001.MAI\n", true, true},
               {"an escaped line", "\\" + d + "  x\\ny\n", !platform::kWindowsNames,
                !platform::kWindowsNames},
               {"cut short by a kill", d + "  x/1.MAI\n" + d.substr(0, 30), false, true},
               {"hex words", "cafe", false, true},
               {"a bad line after good ones", d + "  x\n" + d + "  x\nnotes\n", false, false},
               {"upper-case hex", std::string(64, 'A') + "  x\n", false, false},
               {"one space", d + " x\n", false, false},
               {"a log", "run\t0.9.0\texport\n", false, false},
               {"a message", "Received: from mx\r\n\r\nHi.\r\n", false, false}};
  TempDir dir;
  for (const auto& f : files) {
    testing::WriteFile(dir.path / "m", f.text);
    EXPECT_EQ(HoldsManifest(dir.Sub("m"), false), f.manifest) << f.name;
    EXPECT_EQ(HoldsManifest(dir.Sub("m"), true), f.temporary) << f.name;
  }
  EXPECT_FALSE(HoldsManifest(dir.Sub("none"), true)) << "no file";
}

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
