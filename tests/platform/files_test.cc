#include "platform/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/folders.h"
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

// Files land where their paths say, in whatever order their folders come
// (folders asked for in a row are held open); a folder listed afresh, or
// made anew after one was removed, is the one written into.
TEST(FilesTest, FilesLandWhereTheirPathsSay) {
  TempDir dir;
  const std::string root = dir.path.string() + "\\";
  for (const char* folder : {"a", "b", "ab", "a/b", "z"})
    std::filesystem::create_directories(dir.path / folder);
  const char* writes[] = {"a\\1",  "a\\2",    "b\\3", "a\\4", "ab\\5",
                          "ab\\6", "a\\b\\7", "a\\8", "b\\9", "a\\10"};
  testing::Tree expected = {{"a/", ""}, {"b/", ""}, {"ab/", ""}, {"a/b/", ""}, {"z/", ""}};
  for (const char* name : writes) {
    WriteFileAtomically(root + name, root + name + ".tmp", name);
    std::string relative = name;
    std::replace(relative.begin(), relative.end(), '\\', '/');
    expected[relative] = name;
  }
  std::filesystem::rename(dir.path / "a", dir.path / "z" / "a");
  std::filesystem::create_directory(dir.path / "a");
  OpenFolder(root + "a");
  WriteFileAtomically(root + "a\\11", root + "a\\11" + ".tmp", "a\\11");
  testing::Tree moved;
  for (const auto& [path, text] : expected)
    moved[path.compare(0, 2, "a/") == 0 ? "z/" + path : path] = text;
  moved["a/"] = "";
  moved["a/11"] = "a\\11";
  WriteFileAtomically(root + "b\\12", root + "b\\12" + ".tmp", "");
  WriteFileAtomically(root + "b\\12", root + "b\\12" + ".tmp", "");  // b is held now
  std::filesystem::remove_all(dir.path / "b");
  std::filesystem::create_directory(dir.path / "b");
  WriteFileAtomically(root + "b\\13", root + "b\\13" + ".tmp", "b\\13");
  moved.erase("b/3");
  moved.erase("b/9");
  moved["b/13"] = "b\\13";
  EXPECT_EQ(testing::ReadTree(dir.path), moved);
}

}  // namespace
}  // namespace plenvar::platform
