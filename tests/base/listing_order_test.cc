#include <gtest/gtest.h>

#include <algorithm>

#include "base/text.h"
#include "platform/folders.h"

namespace plenvar {

using platform::Entry;
using platform::EntryKind;

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

}  // namespace
}  // namespace plenvar
