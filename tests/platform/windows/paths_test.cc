#include <gtest/gtest.h>

#include "platform/folders.h"
#include "platform/windows/win32.h"

namespace plenvar::platform {
namespace {

std::string Shown(std::wstring_view text) { return Narrow(text); }

TEST(PathsTest, ExtendedPath) {
  const struct {
    const wchar_t* path;
    const wchar_t* current;
    const wchar_t* extended;
  } cases[] = {
      {L"C:\\Mail\\anna", L"", L"\\\\?\\C:\\Mail\\anna"},
      {L"c:/Mail/./anna/../bob", L"", L"\\\\?\\c:\\Mail\\bob"},
      {L"C:\\Mail\\anna\\", L"", L"\\\\?\\C:\\Mail\\anna"},
      {L"C:\\", L"", L"\\\\?\\C:\\"},
      {L"C:\\..\\..", L"", L"\\\\?\\C:\\"},
      {L"anna\\inbox.msg", L"C:\\work\\dir", L"\\\\?\\C:\\work\\dir\\anna\\inbox.msg"},
      {L"..\\x", L"C:\\work\\dir", L"\\\\?\\C:\\work\\x"},
      {L".", L"C:\\work\\dir\\", L"\\\\?\\C:\\work\\dir"},
      {L"\\Mail", L"C:\\work\\dir", L"\\\\?\\C:\\Mail"},
      {L"C:mail", L"C:\\work", L"\\\\?\\C:\\work\\mail"},
      {L"D:mail", L"C:\\work", L"\\\\?\\D:\\mail"},
      {L"x", L"\\\\srv\\share\\dir", L"\\\\?\\UNC\\srv\\share\\dir\\x"},
      {L"\\x", L"\\\\srv\\share\\dir", L"\\\\?\\UNC\\srv\\share\\x"},
      {L"\\\\srv\\share\\mail\\anna", L"", L"\\\\?\\UNC\\srv\\share\\mail\\anna"},
      {L"//srv/share", L"", L"\\\\?\\UNC\\srv\\share\\"},
      {L"\\\\srv\\share\\..\\x", L"", L"\\\\?\\UNC\\srv\\share\\x"},
      // Already in the system's own form: the user's exact wish.
      {L"\\\\?\\C:\\a\\..\\b", L"", L"\\\\?\\C:\\a\\..\\b"},
      {L"\\\\.\\pipe\\x", L"", L"\\\\.\\pipe\\x"},
      // Names as they are: the system would drop a trailing dot or blank.
      {L"a.\\b ", L"C:\\w", L"\\\\?\\C:\\w\\a.\\b "},
      {L"", L"C:\\w", L""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Shown(ExtendedPath(c.path, c.current)), Shown(c.extended))
        << Shown(c.path) << " in " << Shown(c.current);
}

TEST(PathsTest, RootLength) {
  const struct {
    const char* path;
    std::size_t root;
  } cases[] = {{"C:\\Mail", 3},
               {"C:", 2},
               {"\\Mail", 1},
               {"Mail\\anna", 0},
               {"\\\\srv\\share\\x", 12},
               {"\\\\?\\C:\\x", 7},
               {"\\\\?\\UNC\\srv\\share\\x", 18}};
  for (const auto& c : cases) EXPECT_EQ(RootLength(c.path), c.root) << c.path;
}

// A name with half a surrogate pair, which Windows allows, round-trips; text
// that is not UTF-8 becomes U+FFFD rather than a wrong name.
TEST(PathsTest, WideAndNarrow) {
  const struct {
    const char* narrow;
    const wchar_t* wide;
    bool bothWays;
  } cases[] = {{"caf\xC3\xA9 \xE6\x97\xA5 \xF0\x9F\x93\xA7", L"caf\u00E9 \u65E5 \U0001F4E7", true},
               {"\xED\xA0\x80x", L"\xD800x", true},
               {"\xFF\xC0\xAFx\xE2\x82", L"\xFFFD\xFFFD\xFFFDx\xFFFD\xFFFD", false}};
  for (const auto& c : cases) {
    EXPECT_EQ(Wide(c.narrow), c.wide) << c.narrow;
    if (c.bothWays) {
      EXPECT_EQ(Narrow(c.wide), c.narrow) << c.narrow;
    }
  }
}

}  // namespace
}  // namespace plenvar::platform
