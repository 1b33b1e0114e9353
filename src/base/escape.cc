#include "base/text.h"

namespace plenvar {

namespace {
const char kHex[] = "0123456789abcdef";
}  // namespace

void AppendEscaped(std::string_view text, std::string* out) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7f) {
      out->push_back(c);
    } else {
      out->append("\\x");
      out->push_back(kHex[byte >> 4]);
      out->push_back(kHex[byte & 15]);
    }
  }
}

std::string LowerHex(const unsigned char* bytes, std::size_t size) {
  std::string hex(2 * size, '0');
  for (std::size_t i = 0; i < size; ++i) {
    hex[2 * i] = kHex[bytes[i] >> 4];
    hex[2 * i + 1] = kHex[bytes[i] & 15];
  }
  return hex;
}

}  // namespace plenvar
