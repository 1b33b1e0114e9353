// Arbitrary names through the escape of what is shown: no control character
// (C0, DEL, C1) comes out in any reading of the result, UTF-8 or bytes, and
// text without one comes out as it went in.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/text.h"

namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "escape_fuzz: %s\n", what);
    std::abort();
  }
}

bool IsControl(unsigned value) { return value < 0x20 || (value >= 0x7f && value <= 0x9f); }

// The code points of well-formed UTF-8 (a check of its own, not the escape's
// decoder), or false where the text is not UTF-8.
bool CodePoints(std::string_view text, std::u32string* points) {
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead < 0x80   ? 1
                               : lead < 0xc2 ? 0
                               : lead < 0xe0 ? 2
                               : lead < 0xf0 ? 3
                               : lead < 0xf5 ? 4
                                             : 0;
    if (length == 0 || text.size() - i < length) return false;
    char32_t value = length == 1 ? lead : lead & (0x7f >> length);
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xc0) != 0x80) return false;
      value = value << 6 | (next & 0x3f);
    }
    static const char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < kLeast[length] || value > 0x10ffff || (value >= 0xd800 && value <= 0xdfff))
      return false;
    points->push_back(value);
    i += length;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view name(reinterpret_cast<const char*>(data), size);
  std::string shown;
  plenvar::AppendEscaped(name, &shown);
  std::u32string points;
  std::u32string in;
  if (CodePoints(shown, &points)) {
    for (const char32_t point : points) Check(!IsControl(point), "a control code point is shown");
  } else {
    for (const char c : shown)
      Check(!IsControl(static_cast<unsigned char>(c)), "a control byte is shown");
  }
  // UTF-8 stays UTF-8, so a terminal shows the rest of the name as it is.
  Check(!CodePoints(name, &in) || CodePoints(shown, &points),
        "UTF-8 text is shown as something else");
  in.clear();
  const bool utf8 = CodePoints(name, &in);
  bool clean = true;
  if (utf8) {
    for (const char32_t point : in) clean = clean && !IsControl(point);
  } else {
    for (const char c : name) clean = clean && !IsControl(static_cast<unsigned char>(c));
  }
  Check(!clean || shown == name, "text without a control character is changed");
  return 0;
}
