#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "platform/platform.h"
#include "test_util.h"

namespace plenvar::platform {
namespace {

using plenvar::testing::ReadFile;
using plenvar::testing::TempDir;
using plenvar::testing::WriteFile;

// A log replaces only a log: anything else at its name stays as it was.
TEST(FilesTest, CreateOrReplaceOwnReplacesOnlyItsOwnKind) {
  const struct {
    const char* before;  // nullptr: no file there
    bool replaced;
  } cases[] = {{nullptr, true},    {"run\tx\nmail\t...\n", true},
               {"run\t", true},    {"From a\r\n", false},
               {"", false},        {"run", false},
               {"RUN\tx\n", false}};
  TempDir dir;
  for (const auto& c : cases) {
    const std::string what = c.before == nullptr ? "(none)" : c.before;
    const std::string path = dir.Sub("log");
    std::filesystem::remove(path);
    if (c.before != nullptr) WriteFile(path, c.before);
    OutputFile file;
    EXPECT_EQ(ForeignFileAt(path, "run\t"), !c.replaced) << what;
    EXPECT_EQ(CreateOrReplaceOwn(path, "run\t", &file), c.replaced) << what;
    if (c.replaced) Append(file, "new");
    Close(file);
    EXPECT_EQ(ReadFile(path), c.replaced ? "new" : c.before) << what;
  }
}

TEST(FilesTest, OneHolderOfAFolderLockAtATime) {
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
