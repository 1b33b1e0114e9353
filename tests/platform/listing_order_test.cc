#include <gtest/gtest.h>

#include <algorithm>

#include "platform/platform.h"

namespace plenvar::platform {
namespace {

TEST(ListingOrderTest, FoldsAsciiCaseThenBytes) {
  // The order Windows lists these names in.
  const std::vector<std::string> expected = {
      "10",    "9",   "a.b",       "a.txt",     "ab",   "Alpha",     "A_c",
      "B",     "b",   "b.MAI",     "beta",      "deep", "delta.MAI", "Delta2",
      "Gamma", "sub", "UPPER.txt", "upper.txt", "zeta", "_under",    "\xe9t\xe9"};
  std::vector<Entry> entries;
  for (auto it = expected.rbegin(); it != expected.rend(); ++it) {
    entries.push_back({*it, *it, EntryKind::kFile});
  }
  SortListing(&entries);
  std::vector<std::string> names;
  for (const Entry& e : entries) names.push_back(e.name);
  EXPECT_EQ(names, expected);
}

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
