#include "platform/process.h"

#include <gtest/gtest.h>

#include <vector>

namespace plenvar::platform {
namespace {

#ifndef _WIN32
TEST(CommandLineTest, JoinsArgumentsAndTurnsPathSlashes) {
  struct Case {
    std::vector<const char*> args;
    const char* text;
  };
  const Case cases[] = {
      {{"plenvar"}, ""},
      {{"plenvar", "/S:/srv/old", "/T:/srv/new"}, "/S:\\srv\\old /T:\\srv\\new"},
      {{"plenvar", "/S:a/b", "/SILENT"}, "/S:a\\b /SILENT"},
      {{"plenvar", "/T:out/SILENT"}, "/T:out\\SILENT"},
      {{"plenvar", "/S:my mail/box", "/T:x"}, "/S:my mail\\box /T:x"},
      {{"plenvar", "/S:my /mail"}, "/S:my /mail"},
  };
  for (const Case& c : cases) {
    std::vector<char*> argv;
    for (const char* a : c.args) argv.push_back(const_cast<char*>(a));
    EXPECT_EQ(CommandLine(static_cast<int>(argv.size()), argv.data()), c.text) << c.text;
  }
}
#endif

}  // namespace
}  // namespace plenvar::platform
