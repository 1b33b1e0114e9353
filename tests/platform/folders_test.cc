#include "platform/folders.h"

#include <gtest/gtest.h>

#include <memory>

#include "test_util.h"

namespace plenvar::platform {
namespace {

using plenvar::testing::TempDir;

// One writer, or any number of readers; whoever is refused learns which.
TEST(FoldersTest, OneWriterOrManyReadersOfAFolderLock) {
  TempDir dir;
  const std::string path = dir.path.string();
  const struct {
    bool firstShared, secondShared;
    Lock second;
  } cases[] = {
      {false, false, Lock::kHeldByWriter},
      {false, true, Lock::kHeldByWriter},
      {true, false, Lock::kHeldByReaders},
      {true, true, Lock::kTaken},
  };
  for (const auto& c : cases) {
    auto first = std::make_unique<FolderLock>();
    ASSERT_EQ(LockFolder(path, c.firstShared, first.get()), Lock::kTaken);
    FolderLock second;
    EXPECT_EQ(LockFolder(path, c.secondShared, &second), c.second)
        << c.firstShared << c.secondShared;
    first.reset();
    FolderLock third;
    if (c.second != Lock::kTaken) {
      EXPECT_EQ(LockFolder(path, c.secondShared, &third), Lock::kTaken);
    }
  }
}

}  // namespace
}  // namespace plenvar::platform
