#include "base/text.h"

namespace plenvar {

namespace {

const char kHex[] = "0123456789abcdef";

// The length of the well-formed UTF-8 sequence at text[i] and its code point,
// or 0 where none starts there (overlong forms and surrogates are not one).
std::size_t Utf8Sequence(std::string_view text, std::size_t i, char32_t* code) {
  const auto lead = static_cast<unsigned char>(text[i]);
  std::size_t length = 0;
  char32_t value = 0;
  char32_t least = 0;
  if (lead < 0x80) {
    *code = lead;
    return 1;
  } else if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2, value = lead & 0x1f, least = 0x80;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3, value = lead & 0x0f, least = 0x800;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4, value = lead & 0x07, least = 0x10000;
  } else {
    return 0;
  }
  if (text.size() - i < length) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xc0) != 0x80) return 0;
    value = value << 6 | (next & 0x3f);
  }
  if (value < least || value > 0x10ffff || (value >= 0xd800 && value <= 0xdfff)) return 0;
  *code = value;
  return length;
}

bool IsUtf8(std::string_view text) {
  char32_t code = 0;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = Utf8Sequence(text, i, &code);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

void AppendHex(unsigned char byte, std::string* out) {
  out->append("\\x");
  out->push_back(kHex[byte >> 4]);
  out->push_back(kHex[byte & 15]);
}

// C0, DEL and C1: what a terminal may act on rather than show.
bool IsControl(char32_t code) { return code < 0x20 || (code >= 0x7f && code <= 0x9f); }

}  // namespace

// One rule for a text that is UTF-8 and one that is not: a control character
// is a code point of UTF-8 text (C1 as C2 80 to C2 9F) and a byte of any
// other text (C1 as the raw bytes 0x80 to 0x9F, which a terminal in an 8-bit
// character set acts on). A text that is not UTF-8 keeps no byte from 0x80 to
// 0x9F, so no reading of it finds a control character.
void AppendEscaped(std::string_view text, std::string* out) {
  if (!IsUtf8(text)) {
    for (const char c : text) {
      const auto byte = static_cast<unsigned char>(c);
      if (IsControl(byte)) {
        AppendHex(byte, out);
      } else {
        out->push_back(c);
      }
    }
    return;
  }
  char32_t code = 0;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = Utf8Sequence(text, i, &code);
    if (IsControl(code)) {
      for (std::size_t k = 0; k < length; ++k)
        AppendHex(static_cast<unsigned char>(text[i + k]), out);
    } else {
      out->append(text.substr(i, length));
    }
    i += length;
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
