// The program's rules for text that call no OS: letter case, the listing
// order, the escape of control characters, and hex.
#ifndef PLENVAR_BASE_TEXT_H_
#define PLENVAR_BASE_TEXT_H_

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace plenvar {

// The one letter-case folding of the program: ASCII a-z to A-Z, all else kept.
inline char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// The listing order on every platform: names compared with ASCII a-z folded to
// upper case, byte by byte; ties broken by plain byte order.
bool ListsBefore(const std::string& a, const std::string& b);
// Sorts anything with a `name` into that order.
template <typename Named>
void SortListing(std::vector<Named>* entries) {
  std::sort(entries->begin(), entries->end(),
            [](const Named& a, const Named& b) { return ListsBefore(a.name, b.name); });
}

// Appends text with every control character (C0, DEL and C1) written as
// "\xHH", a byte each: the escape of notices on a terminal, the progress line
// and the log's fields. C1 is U+0080 to U+009F in UTF-8 text, and the bytes
// 0x80 to 0x9F in text that is not UTF-8.
void AppendEscaped(std::string_view text, std::string* out);

// Bytes as lower-case hex digits, two a byte: how digests are written.
std::string LowerHex(const unsigned char* bytes, std::size_t size);

}  // namespace plenvar

#endif  // PLENVAR_BASE_TEXT_H_
