// The program's UTF-8 path text as Windows is given it.
#include <windows.h>

#include <cstdint>

#include "platform/folders.h"
#include "platform/windows/win32.h"

namespace plenvar::platform {

std::wstring Wide(std::string_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead < 0x80   ? 1
                               : lead < 0xC2 ? 0
                               : lead < 0xE0 ? 2
                               : lead < 0xF0 ? 3
                               : lead < 0xF5 ? 4
                                             : 0;
    std::uint32_t code = length == 1 ? lead : lead & (0x7Fu >> length);
    bool valid = length > 0 && i + length <= text.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      valid = (next & 0xC0) == 0x80;
      code = code << 6 | (next & 0x3Fu);
    }
    // Overlong forms and code points past U+10FFFF are not UTF-8.
    static constexpr std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (!valid || code < kLeast[length] || code > 0x10FFFF) {
      out += L'\xFFFD';
      ++i;
      continue;
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      out += static_cast<wchar_t>(0xD800 + (code >> 10));
      out += static_cast<wchar_t>(0xDC00 + (code & 0x3FF));
    } else {
      out += static_cast<wchar_t>(code);  // a lone surrogate too
    }
    i += length;
  }
  return out;
}

std::string Narrow(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t code = static_cast<std::uint16_t>(text[i]);
    if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size()) {
      const std::uint32_t low = static_cast<std::uint16_t>(text[i + 1]);
      if (low >= 0xDC00 && low < 0xE000) {
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | code >> 6);
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | code >> 12);
      out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | code >> 18);
      out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return out;
}

namespace {

template <typename Char>
bool IsSeparator(Char c) {
  return c == '\\' || c == '/';
}

template <typename Char>
bool IsDrive(std::basic_string_view<Char> path) {
  return path.size() >= 2 && path[1] == ':' &&
         ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

// Where the component that begins at `i` ends (its separator, or the end).
template <typename Char>
std::size_t ComponentEnd(std::basic_string_view<Char> path, std::size_t i) {
  while (i < path.size() && !IsSeparator(path[i])) ++i;
  return i;
}

// The same, past the separator.
template <typename Char>
std::size_t PastComponent(std::basic_string_view<Char> path, std::size_t i) {
  i = ComponentEnd(path, i);
  return i < path.size() ? i + 1 : i;
}

// "\\?\" or "\\.\": the system takes the rest as it is.
template <typename Char>
bool IsVerbatim(std::basic_string_view<Char> path) {
  return path.size() >= 4 && path[0] == '\\' && path[1] == '\\' &&
         (path[2] == '?' || path[2] == '.') && path[3] == '\\';
}

template <typename Char>
bool IsNetwork(std::basic_string_view<Char> path) {
  return path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]);
}

template <typename Char>
std::size_t RootOf(std::basic_string_view<Char> path) {
  if (IsVerbatim(path)) {
    const auto rest = path.substr(4);
    if (rest.size() >= 4 && (rest[0] | 0x20) == 'u' && (rest[1] | 0x20) == 'n' &&
        (rest[2] | 0x20) == 'c' && IsSeparator(rest[3]))
      return PastComponent(path, PastComponent(path, 8));  // server and share
    if (IsDrive(rest)) return rest.size() > 2 && IsSeparator(rest[2]) ? 7 : 6;
    return PastComponent(path, 4);
  }
  if (IsNetwork(path)) return PastComponent(path, PastComponent(path, 2));  // server and share
  if (IsDrive(path)) return path.size() > 2 && IsSeparator(path[2]) ? 3 : 2;
  std::size_t i = 0;
  while (i < path.size() && IsSeparator(path[i])) ++i;
  return i;
}

bool IsAbsolute(std::wstring_view path) {
  return IsVerbatim(path) || IsNetwork(path) ||
         (IsDrive(path) && path.size() > 2 && IsSeparator(path[2]));
}

}  // namespace

std::size_t RootOfPath(std::string_view path) { return RootOf(path); }

std::wstring ExtendedPath(std::wstring_view path, std::wstring_view current) {
  if (path.empty() || IsVerbatim(path)) return std::wstring(path);
  std::wstring out;  // what comes before `rest`, without a "\\" after it
  std::wstring_view rest;
  if (IsNetwork(path)) {
    out = L"\\\\?\\UNC";
    rest = path.substr(2);
    for (int part = 0; part < 2; ++part) {  // server and share
      out += L'\\';
      out.append(rest.substr(0, ComponentEnd(rest, 0)));
      rest.remove_prefix(PastComponent(rest, 0));
    }
  } else if (IsAbsolute(path)) {
    out = L"\\\\?\\";
    out.append(path.substr(0, 2));
    rest = path.substr(3);
  } else if (!IsAbsolute(current)) {
    return std::wstring(path);  // nothing to make it absolute against
  } else {
    // Relative to the current folder, or to the root of its drive or share.
    out = ExtendedPath(current, L"");
    if (out.back() == L'\\') out.pop_back();
    rest = path;
    if (IsDrive(path)) {
      // "D:mail": the current folder of the current drive; the root of another.
      rest.remove_prefix(2);
      const std::wstring_view drive = std::wstring_view(out).substr(4);
      if (!IsDrive(drive) || (drive[0] | 0x20) != (path[0] | 0x20))
        out = L"\\\\?\\" + std::wstring(path.substr(0, 2));
    } else if (IsSeparator(path[0])) {
      out.resize(RootOf(std::wstring_view(out)));
      if (out.back() == L'\\') out.pop_back();
    }
  }
  // ".." goes no higher than the root, which alone keeps a "\\" after it.
  std::size_t root = RootOf(std::wstring_view(out));
  if (root > 0 && out[root - 1] == L'\\') --root;
  for (std::size_t i = 0; i < rest.size(); i = PastComponent(rest, i)) {
    const std::wstring_view part = rest.substr(i, ComponentEnd(rest, i) - i);
    if (part.empty() || part == L".") continue;
    if (part == L"..") {
      if (out.size() > root) out.resize(out.rfind(L'\\'));
      continue;
    }
    out += L'\\';
    out.append(part);
  }
  if (out.size() == root) out += L'\\';
  return out;
}

std::wstring SystemPath(const std::string& path) {
  std::wstring wide = Wide(path);
  if (wide.empty() || IsAbsolute(wide)) return ExtendedPath(wide, L"");
  std::wstring current(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(current.size()), current.data());
    if (n == 0) return wide;  // let the call itself fail
    if (n < current.size()) {
      current.resize(n);
      break;
    }
    current.resize(n);
  }
  return ExtendedPath(wide, current);
}

}  // namespace plenvar::platform
