#include <gtest/gtest.h>

#include <random>

#include "extract/extract.h"
#include "test_util.h"

namespace plenvar {
namespace {

using testing::TempDir;
using testing::WriteFile;

std::vector<std::string> Split(const TempDir& dir, std::string_view input) {
  WriteFile(dir.path / "in.msg", input);
  testing::CollectingOutput output;
  EXPECT_FALSE(SplitMailFile(dir.Sub("in.msg"), output));
  return output.messages;
}

TEST(SplitMailFileTest, CutsWhereTheRulesSay) {
  struct Case {
    const char* what;
    std::string input;
    std::vector<std::string> messages;
  };
  const Case cases[] = {
      {"empty file", "", {}},
      {"one message loses its envelope",
       "From a@b Mon\r\nReceived: 1\r\nSubject: s\r\n\r\nbody\r\n",
       {"Received: 1\r\nSubject: s\r\n\r\nbody\r\n"}},
      {"keyword inside the first line",
       "Resent-Date: Mon\r\nSubject: x\r\n\r\nb\r\n",
       {"Date: Mon\r\nSubject: x\r\n\r\nb\r\n"}},
      {"middle message keeps its envelope",
       "From a\r\nReceived: 1\r\n\r\nb1\r\n\r\nFrom b\r\nReceived: 2\r\n\r\nb2\r\n\r\n"
       "From c\r\nReceived: 3\r\n\r\nb3\r\n",
       {"Received: 1\r\n\r\nb1\r\n", "From b\r\nReceived: 2\r\n\r\nb2\r\n",
        "Received: 3\r\n\r\nb3\r\n"}},
      {"several trigger lines in one header block",
       "Received: 1\r\nReceived: 2\r\nReturn-Path: <x>\r\n\r\nbody\r\n",
       {"Received: 1\r\nReceived: 2\r\nReturn-Path: <x>\r\n\r\nbody\r\n"}},
      {"trigger without empty line before it cuts at the header's end",
       "Received: 1\r\nSubject: s\r\n\r\nbody\r\nReceived: 2\r\n\r\nb2\r\n\r\nReceived: 3\r\n",
       {"Received: 1\r\nSubject: s\r\n", "body\r\nReceived: 2\r\n\r\nb2\r\n", "Received: 3\r\n"}},
      {"Return-Path cuts too",
       "Return-Path: <a>\r\n\r\nb\r\n\r\nReturn-Path: <c>\r\n\r\nd\r\n",
       {"Return-Path: <a>\r\n\r\nb\r\n", "Return-Path: <c>\r\n\r\nd\r\n"}},
      {"small letters neither cut nor count", "received: 1\r\n\r\nx\r\n\r\nreceived: 2\r\n", {}},
      {"keyword without its colon does not cut",
       "Received: 1\r\n\r\nx\r\n\r\nReceived 2\r\n\r\nReturn-Path <x>\r\n",
       {"Received: 1\r\n\r\nx\r\n\r\nReceived 2\r\n\r\nReturn-Path <x>\r\n"}},
      {"separator at position 1 does not cut", "\r\n\r\nReceived: 1\r\n", {"Received: 1\r\n"}},
      {"separator at position 3 cuts",
       "\r\n\r\n\r\nReceived: 1\r\n",
       {"\r\n\r\n", "Received: 1\r\n"}},
      {"first message without keyword is kept whole",
       "hello\r\n\r\nReceived: 1\r\n",
       {"hello\r\n", "Received: 1\r\n"}},
      {"tail without keyword is dropped", "just text\r\n\r\nmore\r\n", {}},
      {"lone CR ends a line, lone LF does not",
       "Received: 1\rSubject: a\nb\r\rbody",
       {"Received: 1\r\nSubject: a\nb\r\n\r\nbody\r\n"}},
      {"LF line ends, cut as their CR LF twin",
       "From a\nReceived: 1\n\nb1\r\n\nReceived: 2\rx\n\nb2",
       {"Received: 1\r\n\r\nb1\r\n", "Received: 2\rx\r\n\r\nb2\r\n"}},
      {"bytes pass through",
       std::string("Date: \0\x1a\xe9\r\n\r\nb\x1a\r\n", 17),
       {std::string("Date: \0\x1a\xe9\r\n\r\nb\x1a\r\n", 17)}},
  };
  TempDir dir;
  for (const Case& c : cases) {
    for (std::size_t size : {1, 2, 3, 5, 256 * 1024}) {
      testing::BlockSize block(size);
      EXPECT_EQ(Split(dir, c.input), c.messages) << c.what << ", block size " << size;
    }
  }
}

// The rules exactly as stated, line by line with a backward search on every
// trigger line: slow, but plainly right.
std::vector<std::string> LiteralLines(std::string_view input) {
  std::vector<std::string> lines;
  std::string line;
  bool open = false;
  const std::size_t first = input.find_first_of("\r\n");
  const bool lf = first != std::string::npos && input[first] == '\n';
  for (std::size_t i = 0; i < input.size(); ++i) {
    if (input[i] == (lf ? '\n' : '\r')) {
      if (lf && !line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
      line.clear();
      open = false;
      if (!lf && i + 1 < input.size() && input[i + 1] == '\n') ++i;
    } else {
      line += input[i];
      open = true;
    }
  }
  if (open) lines.push_back(line);
  return lines;
}

std::size_t LiteralFirstHeader(const std::string& text) {
  std::size_t best = std::string::npos;
  for (const char* keyword : {"Received:", "Date:", "Return-Path:", "Subject:", "Content-Type:"}) {
    best = std::min(best, text.find(keyword));
  }
  return best == std::string::npos ? 0 : best + 1;
}

std::vector<std::string> LiteralSplit(std::string_view input) {
  std::vector<std::string> messages;
  std::string work;
  bool first = true;
  for (const std::string& line : LiteralLines(input)) {
    work += line + "\r\n";
    if (line.compare(0, 9, "Received:") != 0 && line.compare(0, 12, "Return-Path:") != 0) continue;
    std::size_t p = 0;
    for (std::size_t q = work.size(); q >= 1; --q) {
      if (work.compare(q - 1, 4, "\r\n\r\n") == 0) {
        p = q;
        break;
      }
    }
    if (p <= 1) continue;
    std::string pending = work.substr(0, p + 1);
    if (first) {
      std::size_t h = LiteralFirstHeader(pending);
      if (h > 0) pending = pending.substr(h - 1);
    }
    messages.push_back(pending);
    first = false;
    work = work.substr(p + 3);
  }
  std::size_t h = LiteralFirstHeader(work);
  if (h > 0) messages.push_back(work.substr(h - 1));
  return messages;
}

TEST(SplitMailFileTest, MatchesTheLiteralBackwardSearchOnRandomTexts) {
  const char* const kLines[] = {"",
                                "",
                                "",
                                "Received: a",
                                "Return-Path: <b>",
                                "Date: c",
                                "From d",
                                "body text",
                                "Subject: e",
                                "Received:",
                                "received: f",
                                "Receive",
                                "xReceived: g"};
  const char* const kEnds[] = {"\r\n", "\r\n", "\r\n", "\r\n", "\r", "\n"};
  std::mt19937 random(20261208);
  TempDir dir;
  for (int round = 0; round < 400; ++round) {
    std::string input;
    const int lines = static_cast<int>(random() % 40);
    for (int i = 0; i < lines; ++i) {
      input += kLines[random() % std::size(kLines)];
      if (i + 1 < lines || random() % 4 != 0) input += kEnds[random() % std::size(kEnds)];
    }
    testing::BlockSize block(1 + random() % 16);
    ASSERT_EQ(Split(dir, input), LiteralSplit(input)) << "round " << round << ", input:\n" << input;
  }
}

// The worst shapes of mail file, cut in blocks of 64 bytes: a search that
// went back to a line's start every block would show as a count of bytes
// searched that grows with the square of the size. Each byte of the text
// (at most twice the file: a lone CR gains its LF) is searched once, the
// room stays near the largest message, not the file, and the text that grew
// a block at a time (past the size of a huge page) is the text that was read.
TEST(SplitMailFileTest, WorstShapesSearchEachByteOnce) {
  struct Case {
    const char* what;
    std::string head, unit;
    std::size_t size, messages;
    std::size_t room;   // at most this
    bool takes = true;  // the sink takes a large message's buffer
  };
  const std::size_t kSize = 64 << 10;
  std::string lines = "Received: x\r\n\r\n";
  while (lines.size() < (5 << 19)) lines += std::string(78, 'a') + "\r\n";
  const Case cases[] = {
      {"one line without an end", "", std::string(1, '\0'), kSize, 0, 2 * kSize},
      {"lone CRs", "", "\r", kSize, 0, 4 * kSize},
      {"a header, then one line", "Received: x\r\n\r\n", "a", kSize, 1, 2 * kSize},
      {"empty messages", "", "Received: x\r\n\r\n", kSize, kSize / 15 + 1, 8 << 10},
      {"messages of 2.5 MiB in lines", "", lines, 3 * lines.size(), 3, 3 * lines.size()},
      {"the same after empty lines, their buffer left", "", lines + "\r\n", 3 * lines.size(), 3,
       2 * lines.size(), false},
  };
  testing::BlockSize block(64);
  TempDir dir;
  for (const Case& c : cases) {
    std::string input = c.head;
    while (input.size() < c.size) input += c.unit;
    WriteFile(dir.path / "in.msg", input);
    Cutter cutter;
    testing::CollectingOutput output;
    output.takes = c.takes;
    SplitMailFile(dir.Sub("in.msg"), cutter, output);
    EXPECT_EQ(output.messages.size(), c.messages) << c.what;
    EXPECT_TRUE(output.messages == LiteralSplit(input)) << c.what;
    EXPECT_LE(cutter.searched, 2 * input.size() + 2) << c.what;
    EXPECT_LE(cutter.work.capacity() + cutter.rest.capacity(), c.room) << c.what;
  }
}

TEST(SplitMailFileTest, KeywordFarIntoTheFileStillCounts) {
  // Eleven million bytes of preamble before the only keyword.
  std::string input;
  const std::string filler = std::string(98, 'x') + "\r\n";
  while (input.size() < 11'000'000) input += filler;
  input += "Subject: far\r\n\r\nbody\r\n";
  TempDir dir;
  EXPECT_EQ(Split(dir, input), std::vector<std::string>{"Subject: far\r\n\r\nbody\r\n"});
}

TEST(SplitMailFileTest, MissingMailFileFailsAndHandsOverNothing) {
  TempDir dir;
  testing::CollectingOutput output;
  EXPECT_THROW(SplitMailFile(dir.Sub("missing.msg"), output), Error);
  EXPECT_TRUE(output.messages.empty());
}

}  // namespace
}  // namespace plenvar
