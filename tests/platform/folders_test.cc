#include "platform/folders.h"

#include <gtest/gtest.h>

#include <memory>

#include "test_util.h"

namespace plenvar::platform {
namespace {

using plenvar::testing::TempDir;

TEST(FoldersTest, OneHolderOfAFolderLockAtATime) {
  TempDir dir;
  auto first = std::make_unique<FolderLock>();
  ASSERT_TRUE(LockFolder(dir.path.string(), first.get()));
  FolderLock second;
  EXPECT_FALSE(LockFolder(dir.path.string(), &second));
  first.reset();
  EXPECT_TRUE(LockFolder(dir.path.string(), &second));
}

}  // namespace
}  // namespace plenvar::platform
