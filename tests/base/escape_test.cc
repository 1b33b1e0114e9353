#include <gtest/gtest.h>

#include "base/text.h"

namespace plenvar {
namespace {

// Control characters (C0 and DEL) become \xHH; every other byte, UTF-8 too,
// stays as it is.
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
      {"\x80\xff", "\x80\xff"},
  };
  for (const auto& c : cases) {
    std::string out;
    AppendEscaped(c.text, &out);
    EXPECT_EQ(out, c.escaped) << c.escaped;
  }
}

}  // namespace
}  // namespace plenvar
