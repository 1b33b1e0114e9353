#include <gtest/gtest.h>

#include "base/text.h"

namespace plenvar {
namespace {

// Control characters (C0, DEL, C1) become \xHH; C1 is a code point in UTF-8
// text and a byte in any other text; everything else stays as it is.
TEST(EscapeTest, ControlCharactersOnly) {
  const struct {
    std::string text;
    std::string escaped;
  } cases[] = {
      {"inbox.msg", "inbox.msg"},
      {"tab\there\r\n", "tab\\x09here\\x0d\\x0a"},
      {"\x1b[2J", "\\x1b[2J"},
      {"del\x7f", "del\\x7f"},
      {std::string("nul\0", 4), "nul\\x00"},
      {"\xc3\xa9t\xc3\xa9.msg", "\xc3\xa9t\xc3\xa9.msg"},
      {"\x80\xff", "\\x80\xff"},
      {"csi\xc2\x9b""2J", "csi\\xc2\\x9b""2J"},
      {"nel\xc2\x85.msg", "nel\\xc2\\x85.msg"},
      {"\xc2\x80\xc2\x9f\xc2\xa0", "\\xc2\\x80\\xc2\\x9f\xc2\xa0"},
      {"raw\x9b""2J", "raw\\x9b""2J"},
      {"latin\xe9\x85", "latin\xe9\\x85"},
      {"\xe2\x80\x9cquoted\xe2\x80\x9d", "\xe2\x80\x9cquoted\xe2\x80\x9d"},
      {"\xc2\x9b\xff", "\xc2\\x9b\xff"},
      {"overlong\xc0\x9b", "overlong\xc0\\x9b"},
      {"\xed\xa0\x80", "\xed\xa0\\x80"},
      {"\xf0\x9f\x93\xa7", "\xf0\x9f\x93\xa7"},
      {"cut\xe2\x80", "cut\xe2\\x80"},
  };
  for (const auto& c : cases) {
    std::string out;
    AppendEscaped(c.text, &out);
    EXPECT_EQ(out, c.escaped) << c.escaped;
  }
}

}  // namespace
}  // namespace plenvar
