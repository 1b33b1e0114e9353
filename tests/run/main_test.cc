#include "run/main.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "output/output.h"
#include "platform/process.h"
#include "test_util.h"

namespace plenvar {
namespace {

using testing::TempDir;

struct RunResult {
  int status;
  std::vector<Notice> notices;
};

// A path as the command line carries it: "\" separated.
std::string Arg(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

RunResult RunMain(const std::string& commandLine) {
  RunResult run{0, {}};
  run.status = Main(commandLine, [&](const Notice& n) { run.notices.push_back(n); });
  return run;
}

const std::string kOptions =
    "\r\nOptions: /S:SourceDirectory /T:TargetDirectory /M:FileMask /MT:n /LIST /VERIFY /DATES "
    "/LOG:file "
    "/MANIFEST:file /SILENT";

TEST(MainTest, ParameterNoticesEndTheRunBeforeAnyWork) {
  // The usage text as specified, character for character.
  const Notice usage{
      "Usage: /S:SourceDirectory /T:TargetDirectory /M:FileMask /SILENT\r\n\r\nEg: "
      "/S:C:\\LegacyMailStore\\Domain\\Mailboxes /T:C:\\Program "
      "Files\\Corvane\\Postoffices\\Domain\\MAILROOT /M:*.msg",
      "Plenvar", kIconInformation};
  const Notice noTarget{"/T:TargetDirectory parameter was not supplied.", "Error", kIconError};
  const Notice noSource{"/S:SourceDirectory parameter was not supplied.", "Error", kIconError};
  const Notice badThreads{"/MT:n must be a number of writer threads from 1 to 64.", "Error",
                          kIconError};
  const auto error = [](const std::string& text) { return Notice{text, "Error", kIconError}; };
  const auto unknown = [&](const std::string& word) {
    return error("Unknown option: " + word + kOptions);
  };
  struct Case {
    std::string commandLine;
    Notice notice;
  };
  const Case cases[] = {
      {"", usage},
      {"/SILENT", usage},
      {"/M:*.msg /SILENT", usage},
      {"/S: /T:", usage},
      {"/S:src", noTarget},
      {"/S:src /SILENT", noTarget},
      {"/T:out", noSource},
      {"/T:out /S:\"\"", noSource},
      // The specified checks come first.
      {"/S:src /MT:0", noTarget},
      {"/S:src /T:out /MT:0", badThreads},
      {"/S:src /T:out /MT:65 /SILENT", badThreads},
      {"/S:src /T:out /mt:two", badThreads},
      {"/S:src /T:out /MT:", badThreads},
      {"/S:src /T:out /MT:-1", badThreads},
      // Every word that begins with "/" must be an option, each given once.
      {"/X:foo", unknown("/X:foo")},
      {"/S:small /T:out /M*.msg", unknown("/M*.msg")},
      {"/S:small /T:out /LOG plan.tsv", unknown("/LOG")},
      {"/S: /srv /T:out", unknown("/srv")},
      {"/S:C:/Data/Mail /T:out", unknown("/Data")},
      {"/S:a /T:b /LISTING", unknown("/LISTING")},
      {"store /T:out", error("Text outside any option: store" + kOptions)},
      {"/S:a /T:b /LIST plan", error("/LIST takes no value: plan")},
      {"/S:a /T:b /LIST /verify", error("/LIST and /VERIFY cannot go together.")},
      {"/S:a /T:b /DATES now", error("/DATES takes no value: now")},
      {"/S:a /T:b /DATESX", unknown("/DATESX")},
      {"/T:b /VERIFY /MANIFEST:m /dates",
       error("/DATES reads each message's time from /S:SourceDirectory: a verify from "
             "/MANIFEST:file alone checks bytes only.")},
      {"/S:small /S:store /T:out", error("/S: given twice: give each option once.")},
      {"/m:*.msg /M:*.txt /S:a /T:b", error("/M: given twice: give each option once.")},
      {"/S:a /T:b /SILENT /silent", error("/SILENT given twice: give each option once.")},
  };
  for (const Case& c : cases) {
    RunResult run = RunMain(c.commandLine);
    EXPECT_EQ(run.status, kExitUsage) << c.commandLine;
    ASSERT_EQ(run.notices.size(), 1u) << c.commandLine;
    EXPECT_EQ(run.notices[0].text, c.notice.text) << c.commandLine;
    EXPECT_EQ(run.notices[0].title, c.notice.title) << c.commandLine;
    EXPECT_EQ(run.notices[0].style, c.notice.style) << c.commandLine;
  }
}

// GNU-style --help and --version, and Windows' /?, on every platform; in any
// other spelling they are no options.
TEST(MainTest, HelpAndVersion) {
  const std::string outside = "Text outside any option: ";
  const struct {
    const char* commandLine;
    int status;
    std::string text;
  } cases[] = {
      {"--help", kExitClean, kHelpText},
      {"/?", kExitClean, kHelpText},
      {"--version", kExitClean, kVersionText},
      {"--help --version", kExitUsage, outside + "--help --version" + kOptions},
      {"--HELP", kExitUsage, outside + "--HELP" + kOptions},
  };
  for (const auto& c : cases) {
    RunResult run = RunMain(c.commandLine);
    EXPECT_EQ(run.status, c.status) << c.commandLine;
    ASSERT_EQ(run.notices.size(), 1u) << c.commandLine;
    EXPECT_EQ(run.notices[0].text, c.text) << c.commandLine;
    EXPECT_EQ(run.notices[0].style, c.status == 0 ? kIconInformation : kIconError) << c.commandLine;
  }
  // One line per option.
  for (const char* option :
       {"/S:", "/T:", "/M:", "/MT:", "/LIST", "/VERIFY", "/LOG:", "/MANIFEST:", "/SILENT"})
    EXPECT_NE(std::string(kHelpText).find("\n  " + std::string(option)), std::string::npos)
        << option;
  const std::string version = kVersionText;
  EXPECT_EQ(version.rfind("plenvar ", 0), 0u) << version;
  EXPECT_EQ(version.find_first_not_of("0123456789.", 8), std::string::npos) << version;
}

TEST(MainTest, CompletionNoticeUnlessSilentInCapitals) {
  TempDir dir;
  testing::MakeTree(dir.path / "src", {{"a.msg", "Received: a\r\n"}, {"b", "Received: b\r\n"}});
  struct Case {
    std::string extra;
    std::size_t notices;
  };
  const Case cases[] = {{"", 1}, {" /SILENT", 0}, {" /silent", 1}, {" /M:*.msg/SILENT", 0}};
  for (const Case& c : cases) {
    // Each into a target of its own: a rerun's notice also counts what it found in place.
    const std::string folders =
        "/S:" + Arg(dir.Sub("src")) + " /T:" + Arg(dir.Sub("out" + std::to_string(&c - cases)));
    RunResult run = RunMain(folders + c.extra);
    EXPECT_EQ(run.status, kExitClean) << c.extra;
    ASSERT_EQ(run.notices.size(), c.notices) << c.extra;
    if (c.notices == 1) {
      EXPECT_EQ(run.notices[0].text, "Export Completed");
      EXPECT_EQ(run.notices[0].title, "Done");
      EXPECT_EQ(run.notices[0].style, kIconInformation);
    }
  }
  // A dry run asked for in any letter case stays one.
  RunResult run = RunMain("/S:" + Arg(dir.Sub("src")) + " /T:" + Arg(dir.Sub("dry")) + " /list");
  EXPECT_EQ(run.notices.at(0).text.rfind("List Completed", 0), 0u) << run.notices[0].text;
  EXPECT_FALSE(std::filesystem::exists(dir.path / "dry"));
  // The default mask "*.*" skipped the name without a dot.
  EXPECT_EQ(testing::ListNames(dir.path / "out0"),
            std::vector<std::string>{"000000000000000001.MAI"});
}

TEST(MainTest, FailuresTurnTheNoticeIntoAWarning) {
  TempDir dir;
  // A file where the mail file's target folder must go.
  testing::MakeTree(dir.path, {{"src/a/m.txt", "Subject: x\r\n"}, {"out/a", ""}});
  const std::string folders = "/S:" + Arg(dir.Sub("src")) + " /T:" + Arg(dir.Sub("out"));
  RunResult run = RunMain(folders);
  EXPECT_EQ(run.status, kExitWithFailures);
  ASSERT_EQ(run.notices.size(), 1u);
  EXPECT_EQ(run.notices[0].title, "Done");
  EXPECT_EQ(run.notices[0].style, kIconWarning);
  EXPECT_EQ(run.notices[0].text.rfind("Export Completed with errors\r\n"
                                      "Message files that could not be written: 1\r\n",
                                      0),
            0u)
      << run.notices[0].text;

  run = RunMain(folders + " /SILENT");
  EXPECT_EQ(run.status, kExitWithFailures);
  EXPECT_TRUE(run.notices.empty());
}

// A clean export verifies with one writer and with several; each tampering
// after it is found, counted and named.
TEST(MainTest, VerifyFindsWhatDiffersFromTheExport) {
  namespace fs = std::filesystem;
  using Path = const fs::path&;
  const std::string two = MessageFileName(2);
  const struct {
    const char* what;
    std::function<void(Path)> tamper;  // given the test folder
    FailureKind kind;                  // kFailureKinds: nothing to find
    std::string path;                  // the first failure's, under out/
    int found = 1;                     // failures of that kind
  } cases[] = {
      {"clean", [](Path) {}, kFailureKinds, ""},
      {"deleted", [&](Path d) { fs::remove(d / "out/a" / two); }, kMessageMissing, "a/" + two},
      {"a byte changed", [&](Path d) { testing::WriteFile(d / "out/a" / two, "Received: B\r\n"); },
       kMessageDiffers, "a/" + two},
      {"both messages of a mail file changed",
       [&](Path d) {
         testing::WriteFile(d / "out/a" / MessageFileName(1), "Received: A\r\n");
         testing::WriteFile(d / "out/a" / two, "Received: B\r\n");
       },
       kMessageDiffers, "a/" + MessageFileName(1), 2},
      {"cut short", [&](Path d) { fs::resize_file(d / "out/a" / two, 5); }, kMessageDiffers,
       "a/" + two},
      {"a byte longer", [&](Path d) { testing::WriteFile(d / "out/a" / two, "Received: b\r\n!"); },
       kMessageDiffers, "a/" + two},
      {"a folder",
       [&](Path d) {
         fs::remove(d / "out/a" / two);
         fs::create_directory(d / "out/a" / two);
       },
       kMessageMissing, "a/" + two},
      {"an extra message file",
       [](Path d) { testing::WriteFile(d / "out/b" / MessageFileName(9), "x"); }, kExtraFile,
       "b/" + MessageFileName(9)},
      {"a leftover", [&](Path d) { testing::WriteFile(d / "out/a" / (two + ".tmp"), "x"); },
       kExtraFile, "a/" + two + ".tmp"},
      {"number 0", [](Path d) { testing::WriteFile(d / "out/a" / MessageFileName(0), "x"); },
       kExtraFile, "a/" + MessageFileName(0)},
      {"number 0, temporary",
       [](Path d) { testing::WriteFile(d / "out/b/000000000000000000-1.MAI.tmp", "x"); },
       kExtraFile, "b/000000000000000000-1.MAI.tmp"},
      {"in a folder whose mail files hold no message",
       [](Path d) { testing::WriteFile(d / "out/c" / MessageFileName(9), "x"); }, kExtraFile,
       "c/" + MessageFileName(9)},
      {"a link to a file that holds the message",
       [&](Path d) {
         testing::WriteFile(d / "copy", "Received: b\r\n");
         fs::remove(d / "out/a" / two);
         std::error_code noLinks;  // under Wine: the file is then simply missing
         fs::create_symlink(d / "copy", d / "out/a" / two, noLinks);
       },
       kMessageMissing, "a/" + two},
      {"a mail file added to the source",
       [](Path d) { testing::WriteFile(d / "src/a/0.msg", "Received: new\r\n"); }, kMessageDiffers,
       "a/" + MessageFileName(1), 2},
  };
  for (const auto& c : cases) {
    TempDir dir;
    testing::MakeTree(dir.path, {{"src/a/m.msg", "Received: a\r\n\r\nReceived: b\r\n"},
                                 {"src/b/n.msg", "Received: c\r\n"},
                                 {"src/c/empty.msg", ""}});
    const std::string folders = "/S:" + Arg(dir.Sub("src")) + " /T:" + Arg(dir.Sub("out"));
    ASSERT_EQ(RunMain(folders + " /SILENT").status, kExitClean) << c.what;
    c.tamper(dir.path);
    for (const char* writers : {" /MT:1", " /MT:3"}) {
      const RunResult run = RunMain(folders + " /VERIFY" + writers);
      const std::string what = c.what + std::string(writers);
      const bool clean = c.kind == kFailureKinds;
      EXPECT_EQ(run.status, clean ? kExitClean : kExitWithFailures) << what;
      const std::string text = run.notices.at(0).text;
      if (clean) {
        EXPECT_EQ(text, "Verify Completed\r\nMail files: 3\r\nMessages: 3\r\nBytes: 39") << what;
        continue;
      }
      const std::string named = platform::DisplayPath(Arg((dir.path / "out" / c.path).string()));
      EXPECT_NE(text.find(std::string("\r\n") + LabelOf(c.kind, RunKind::kVerify) +
                          std::to_string(c.found) + "\r\n"),
                std::string::npos)
          << what << ": " << text;
      EXPECT_NE(text.find("\r\n" + named + ": "), std::string::npos) << what << ": " << text;
    }
  }
}

TEST(CompletionNoticeTest, CountsPerKindThenTenPathsThenTheRest) {
  ExportReport report;
  for (int i = 1; i <= 11; ++i) report.Fail({kMailFileNotRead, "m" + std::to_string(i), "gone"});
  report.Fail({kMessageNotWritten, "w", "full"});
  report.Fail({kNotRegularFile, "p", "not a regular file"});
  const Notice notice = CompletionNotice(report);
  EXPECT_EQ(notice.text,
            "Export Completed with errors\r\n"
            "Mail files that could not be read: 11\r\n"
            "Message files that could not be written: 1\r\n"
            "Selected entries that are not regular files: 1\r\n"
            "m1: gone\r\nm2: gone\r\nm3: gone\r\nm4: gone\r\nm5: gone\r\n"
            "m6: gone\r\nm7: gone\r\nm8: gone\r\nm9: gone\r\nm10: gone\r\n"
            "and 3 more");
  EXPECT_EQ(notice.style, kIconWarning);
  ExportReport eleven;
  for (int i = 1; i <= 11; ++i) eleven.Fail({kMailFileNotRead, "m" + std::to_string(i), "gone"});
  const std::string text = CompletionNotice(eleven).text;
  EXPECT_EQ(text.substr(text.rfind("\r\n") + 2), "and 1 more") << text;
}

}  // namespace
}  // namespace plenvar
