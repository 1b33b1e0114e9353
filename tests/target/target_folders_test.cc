#include "target/target_folders.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "base/error.h"
#include "test_util.h"

namespace plenvar {
namespace {

using testing::TempDir;

TEST(EnsureFolderPathTest, CreatesEveryMissingLevel) {
  TempDir dir;
  // An absolute path keeps its leading separator; doubled and trailing ones add nothing.
  EnsureFolderPath(dir.path.string() + "\\a\\\\b\\c\\");
  EXPECT_TRUE(std::filesystem::is_directory(dir.path / "a" / "b" / "c"));
  EnsureFolderPath(dir.path.string() + "\\a\\b");  // all there already
  testing::WriteFile(dir.path / "file", "x");
  EXPECT_THROW(EnsureFolderPath(dir.path.string() + "\\file\\sub"), Error);
  // A level made before a failure is told, so that it can be taken back.
  std::string made;
  EXPECT_THROW(EnsureFolderPath(dir.path.string() + "\\new\\" + std::string(300, 'x'), &made),
               Error);
  EXPECT_EQ(made, dir.path.string() + "\\new\\");
}

}  // namespace
}  // namespace plenvar
