#include "extract/line_reader.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace plenvar {
namespace {

using testing::TempDir;
using testing::WriteFile;

std::string ReadAll(const std::string& path, std::size_t* calls = nullptr) {
  LineReader reader;
  OpenLines(path, &reader);
  TextBuffer text;
  std::size_t n = 0;
  while (ReadLines(reader, &text)) ++n;
  EXPECT_FALSE(ReadLines(reader, &text)) << "a drained reader must stay at its end";
  if (calls != nullptr) *calls = n;
  return std::string(text.view());
}

TEST(LineReaderTest, LineEndsAtEveryBlockBoundary) {
  struct Case {
    std::string input;
    std::string lines;  // every line ended by CR LF
  };
  const Case cases[] = {
      {"", ""},
      {"\r\n", "\r\n"},
      {"\r", "\r\n"},
      {"\n", "\r\n"},
      {"abc", "abc\r\n"},
      {"abc\r\n", "abc\r\n"},
      {"abc\r", "abc\r\n"},
      {"a\rb\rc", "a\r\nb\r\nc\r\n"},
      {"a\r\nb\nc", "a\r\nb\nc\r\n"},      // CR line ends: a lone LF is text
      {"a\nb\r\nc\n", "a\r\nb\r\nc\r\n"},  // LF line ends: CR LF still ends a line
      {"a\nb\rc\r", "a\r\nb\rc\r\r\n"},    // and a lone CR is text
      {"\n\r\r\n\n", "\r\n\r\r\n\r\n"},
      {"\r\r\n\n\r", "\r\n\r\n\n\r\n"},
      {"\r\r\r", "\r\n\r\n\r\n"},
      {"\r\n\r\n", "\r\n\r\n"},
      {"\n\r", "\r\n\r\r\n"},
      {std::string("\0\x1a\xff\r\n\x1a", 6), std::string("\0\x1a\xff\r\n\x1a\r\n", 8)},
      {"Received: x\r\n\r\nbody\r\n", "Received: x\r\n\r\nbody\r\n"},
  };
  TempDir dir;
  const std::string path = dir.Sub("in.txt");
  for (const Case& c : cases) {
    WriteFile(path, c.input);
    for (std::size_t size : {1, 2, 3, 4, 5, 7, 64 * 1024}) {
      testing::BlockSize block(size);
      EXPECT_EQ(ReadAll(path), c.lines) << "input \"" << c.input << "\", block size " << size;
    }
  }
}

TEST(LineReaderTest, ReadsInBlocks) {
  TempDir dir;
  const std::string path = dir.Sub("in.txt");
  WriteFile(path, std::string(1000, 'x') + "\r\n");
  testing::BlockSize block(100);
  std::size_t calls = 0;
  EXPECT_EQ(ReadAll(path, &calls), std::string(1000, 'x') + "\r\n");
  EXPECT_EQ(calls, 11u) << "one call per 100-byte block";
}

TEST(LineReaderTest, MissingFileNamesThePath) {
  TempDir dir;
  LineReader reader;
  try {
    OpenLines(dir.Sub("missing.msg"), &reader);
    FAIL() << "opening a missing file must fail";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()).rfind(dir.Sub("missing.msg") + ": ", 0), 0u) << e.what();
  }
}

}  // namespace
}  // namespace plenvar
