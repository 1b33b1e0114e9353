#include "base/text.h"

namespace plenvar {

void AppendEscaped(std::string_view text, std::string* out) {
  static const char kHex[] = "0123456789abcdef";
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

}  // namespace plenvar
