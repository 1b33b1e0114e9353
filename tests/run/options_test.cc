#include "run/options.h"

#include <gtest/gtest.h>

namespace plenvar {
namespace {

TEST(ExtractBetweenTest, FirstStartMarkerToNextEndMarker) {
  struct Case {
    const char* text;
    const char* start;
    const char* end;
    const char* expected;
  };
  const Case cases[] = {
      {"/S:a /T:b", "/S:", "/", "a "},
      {"/S:a /T:b", "/T:", "/", "b"},
      {"/s:a /T:b", "/S:", "/", "a "},  // markers ignore letter case
      {"/S:a", "/T:", "/", ""},
      {"/S:", "/S:", "/", ""},
      {"/S:one /S:two", "/S:", "/", "one "},
      {"xAyBz", "a", "b", "y"},
      {"/T:D:\\Out/SILENT", "/T:", "/", "D:\\Out"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExtractBetween(c.text, c.start, c.end), c.expected)
        << c.text << " between " << c.start << " and " << c.end;
  }
}

TEST(GetParameterTest, ValuesAsTheUserMeantThem) {
  struct Case {
    const char* commandLine;
    const char* key;
    const char* expected;
  };
  const Case cases[] = {
      {"/S:C:\\Old /T:D:\\New /M:*.msg", "/S:", "C:\\Old"},
      {"/S:C:\\Old /T:D:\\New /M:*.msg", "/T:", "D:\\New"},
      {"/S:C:\\Old /T:D:\\New /M:*.msg", "/M:", "*.msg"},
      {"/s:low /t:case", "/T:", "case"},
      {"/S:\"C:\\My Mail\\Boxes\" /T:x", "/S:", "C:\\My Mail\\Boxes"},
      {"/S:  \" spaced \"  /T:x", "/S:", "spaced"},
      {"/S:\ttab\t /T:x", "/S:", "\ttab\t"},  // only spaces are trimmed
      {"/T:D:\\Out/SILENT", "/T:", "D:\\Out"},
      {"/S:first /S:second", "/S:", "first"},
      {"/S: /T:x", "/S:", ""},
      {"/T:x", "/S:", ""},
      {"", "/S:", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GetParameter(c.commandLine, c.key), c.expected) << c.commandLine << " key " << c.key;
  }
}

TEST(WriterThreadsTest, OneToSixtyFourOrOnePerCoreUpToEight) {
  const struct {
    const char* commandLine;
    int threads;
  } cases[] = {{"/MT:1", 1},   {"/mt:64", 64}, {"/S:a /MT: 8 /SILENT", 8},
               {"/MT:08", 8},  {"/MT:65", 0},  {"/MT:0", 0},
               {"/MT:1.5", 0}, {"/MT:100", 0}, {"/MT:\"3\"", 3}};
  const auto writers = [](const char* commandLine) {
    Options options;
    ParseOptions(commandLine, &options);
    return options.threads;
  };
  for (const auto& c : cases) {
    EXPECT_EQ(writers(c.commandLine), c.threads) << c.commandLine;
  }
  const int cores = writers("/S:a /T:b");
  EXPECT_TRUE(cores >= 1 && cores <= 8) << cores;
}

}  // namespace
}  // namespace plenvar
