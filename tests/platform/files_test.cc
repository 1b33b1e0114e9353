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

// A log replaces only a log: anything else at its name stays as it was; and
// a file another run holds is left to it, whatever it holds.
TEST(FilesTest, CreateOrReplaceOwnReplacesOnlyItsOwnKind) {
  const OwnTest ours = [](std::string_view head) { return head.rfind("run\t", 0) == 0; };
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
    OutputFile file, second;
    EXPECT_EQ(ForeignFileAt(path, ours), !c.replaced) << what;
    EXPECT_EQ(CreateOrReplaceOwn(path, ours, &file),
              c.replaced ? OwnFile::kOpened : OwnFile::kForeign)
        << what;
    if (c.replaced) Append(file, "run\tnew");
    if (c.replaced) {
      EXPECT_EQ(CreateOrReplaceOwn(path, ours, &second), OwnFile::kHeld) << what;
    }
    Close(file);
    EXPECT_EQ(ReadFile(path), c.replaced ? "run\tnew" : c.before) << what;
  }
}

// An output file is gone after its scope unless it was committed: renamed
// into place, closed, or kept; calls after the first close do nothing.
TEST(FilesTest, OutputFileNotCommittedIsGoneAfterItsScope) {
  using End = void (*)(OutputFile&, const std::string& to);
  const struct {
    End end;
    const char* left;  // the name the file has after its scope, if any
  } cases[] = {
      {[](OutputFile&, const std::string&) {}, nullptr},
      {[](OutputFile&, const std::string&) { throw Error("f", "thrown"); }, nullptr},
      {[](OutputFile& f, const std::string&) { Keep(f); }, "f"},
      {[](OutputFile& f, const std::string& to) { Close(f), RenameAndClose(f, to); }, "f"},
      {[](OutputFile& f, const std::string& to) { RenameAndClose(f, to), RemoveAndClose(f); }, "g"},
      {[](OutputFile& f, const std::string&) { RemoveAndClose(f); }, nullptr},
      {[](OutputFile& f, const std::string&) { OutputFile moved(std::move(f)); }, nullptr},
      {[](OutputFile& f, const std::string&) { Keep(OutputFile() = std::move(f)); }, "f"},
  };
  TempDir dir;
  for (const auto& c : cases) {
    try {
      OutputFile file;
      ASSERT_EQ(CreateOrReplaceOwn(dir.Sub("f"), nullptr, &file), OwnFile::kOpened);
      Append(file, "data");
      c.end(file, dir.Sub("g"));
    } catch (const Error&) {
    }
    testing::Tree left;
    if (c.left != nullptr) left[c.left] = "data";
    EXPECT_EQ(testing::ReadTree(dir.path), left) << &c - cases;
    std::filesystem::remove_all(dir.path / "f");
    std::filesystem::remove_all(dir.path / "g");
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

// A file's time reads back the same from the open file as from its path,
// in any year (the file system may hold a nearer one than was set).
TEST(FilesTest, FileTimesReadBackAsTheFileSystemHoldsThem) {
  TempDir dir;
  for (const std::int64_t time : {std::int64_t{1057049557}, std::int64_t{253402300799}}) {
    const std::string path = (dir.path / std::to_string(time)).string();
    WriteNewFile(path, "x", time);
    std::int64_t held = 0;
    InputFile file;
    OpenForReading(path, &file);
    EXPECT_TRUE(ModifiedSecondsOf(path, &held) && ModifiedSeconds(file) == held) << held;
    Close(file);
  }
}

}  // namespace
}  // namespace plenvar::platform
