#include "target/same_file.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "test_util.h"

namespace plenvar {
namespace {

// Whether a file holds exactly a message is an answer, never a throw: a
// missing file, a folder or a link is "no", as is a file of other bytes.
TEST(SameFileTest, AlreadyInPlaceAnswersForWhateverIsThere) {
  testing::TempDir dir;
  testing::WriteFile(dir.path / "same", "From a\n");
  testing::WriteFile(dir.path / "other", "From b\n");
  testing::WriteFile(dir.path / "short", "From\n");
  std::filesystem::create_directory(dir.path / "folder");
  const struct {
    const char* name;
    bool inPlace;
  } cases[] = {{"same", true},  {"other", false},  {"short", false},
               {"none", false}, {"folder", false}, {"link", false}};
  std::error_code linked;
  std::filesystem::create_symlink(dir.path / "same", dir.path / "link", linked);
  for (const auto& c : cases) {
    if (std::string(c.name) == "link" && linked) continue;  // no links on this system
    EXPECT_EQ(AlreadyInPlace(dir.Sub(c.name), "From a\n"), c.inPlace) << c.name;
  }
  EXPECT_EQ(ReadWhole(dir.Sub("same")), "From a\n");
}

}  // namespace
}  // namespace plenvar
