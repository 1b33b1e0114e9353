#include "manifest/manifest.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "platform/folders.h"
#include "test_util.h"

namespace plenvar {
namespace {

using testing::TempDir;

// A manifest's lines as sha256sum writes and reads them, and what may be
// replaced as one.
TEST(ManifestTest, LinesAsSha256sumWritesThemAndWhatCountsAsOne) {
  const std::string d(64, 'a');
  const struct {
    const char* path;
    std::string line;
    bool readBack = true;  // a "\\" in a name is no path of this program's
  } lines[] = {{"000000000000000001.MAI", d + "  000000000000000001.MAI\n"},
               {"a b/Ça/000000000000000002.MAI", d + "  a b/Ça/000000000000000002.MAI\n"},
               // Names Windows cannot hold.
               {"new\nline/1.MAI", "\\" + d + "  new\\nline/1.MAI\n", !platform::kWindowsNames},
               {"cr\r/1.MAI", "\\" + d + "  cr\\r/1.MAI\n", !platform::kWindowsNames},
               {"back\\slash/1.MAI", "\\" + d + "  back\\\\slash/1.MAI\n", false}};
  std::string digest, path, why;
  for (const auto& l : lines) {
    EXPECT_EQ(ManifestLine(d, l.path), l.line) << l.path;
    const std::string_view line = std::string_view(l.line).substr(0, l.line.size() - 1);
    EXPECT_EQ(ParseManifestLine(line, &digest, &path, &why), l.readBack) << l.path << ": " << why;
    if (l.readBack) {
      EXPECT_EQ(path, l.path) << "read back";
    }
  }
  // As sha256sum also writes them, and what never leads out of the target.
  using namespace std::string_literals;
  const std::string longest(platform::kLongestPath, 'x');
  const struct {
    std::string line;
    bool read;
  } read[] = {
      {d + " *a/1.MAI", true},
      {d + "  a/1.MAI\r", true},
      {d + "  ../a/1.MAI", false},
      {d + "  a/../../1.MAI", false},
      {d + "  /etc/passwd", false},
      {d + "  C:/x/1.MAI", !platform::kWindowsNames},  // "C:" is a folder's name on POSIX
      {d + "  a//1.MAI", false},
      {d + "  a\\b", false},
      {"\\" + d + "  a\\x", false},
      {d + "  ", false},
      {d.substr(1) + "   a", false},
      {d + "  ..\0x/1.MAI"s, false},  // the system would read ".."
      {d + "  a/1.MAI\0"s, false},
      {d + "  " + longest, true},
      {d + "  " + longest + "x", false},
      {"\\" + d + "  " + std::string(longest.size() - 1, 'x') + "\\n", !platform::kWindowsNames}};
  for (const auto& r : read)
    EXPECT_EQ(ParseManifestLine(r.line, &digest, &path, &why), r.read) << r.line.substr(0, 80);
  // The one rule, as each system reads names: Windows also refuses what it
  // would take for a drive, a device, a stream, or trim.
  const struct {
    std::string path;
    bool posix, windows;
  } paths[] = {{"a b/Ça/000000000000000002.MAI", true, true},
               {"x:/in/1.MAI", true, false},
               {"a/b:c", true, false},
               {"a\x01b/1.MAI", true, false},
               {"a*/1.MAI", true, false},
               {"dot./1.MAI", true, false},
               {"space /1.MAI", true, false},
               {"nul/1.MAI", true, false},
               {"Com1.txt/1.MAI", true, false},
               {"com10/1.MAI", true, true},
               {"a\0b"s, false, false},
               {"/a", false, false}};
  for (const auto& p : paths) {
    EXPECT_EQ(PathInsideTarget(p.path, false, &why), p.posix) << p.path;
    EXPECT_EQ(PathInsideTarget(p.path, true, &why), p.windows) << p.path;
  }
  // Any file may become a temporary one, cut short by a kill; the final
  // name is only ever a whole manifest.
  const struct {
    const char* name;
    std::string text;
    bool manifest, temporary;
  } files[] = {{"empty", "", true, true},
               {"a line", d + "  x/000000000000000001.MAI\n", true, true},
               {"an escaped line", "\\" + d + "  x\\ny\n", !platform::kWindowsNames,
                !platform::kWindowsNames},
               {"cut short by a kill", d + "  x/1.MAI\n" + d.substr(0, 30), false, true},
               {"hex words", "cafe", false, true},
               {"a bad line after good ones", d + "  x\n" + d + "  x\nnotes\n", false, false},
               {"upper-case hex", std::string(64, 'A') + "  x\n", false, false},
               {"one space", d + " x\n", false, false},
               {"a log", "run\t0.9.0\texport\n", false, false},
               {"a message", "Received: from mx\r\n\r\nHi.\r\n", false, false}};
  TempDir dir;
  for (const auto& f : files) {
    testing::WriteFile(dir.path / "m", f.text);
    EXPECT_EQ(HoldsManifest(dir.Sub("m"), false), f.manifest) << f.name;
    EXPECT_EQ(HoldsManifest(dir.Sub("m"), true), f.temporary) << f.name;
  }
  EXPECT_FALSE(HoldsManifest(dir.Sub("none"), true)) << "no file";
}

}  // namespace
}  // namespace plenvar
