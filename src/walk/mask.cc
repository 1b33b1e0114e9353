#include <algorithm>

#include "base/text.h"
#include "walk/walk.h"

namespace plenvar {

std::size_t FindIgnoringCase(std::string_view text, std::string_view pattern, std::size_t from) {
  if (from > text.size()) return std::string_view::npos;
  auto it =
      std::search(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(), pattern.begin(),
                  pattern.end(), [](char a, char b) { return AsciiUpper(a) == AsciiUpper(b); });
  return it == text.end() && !pattern.empty() ? std::string_view::npos
                                              : static_cast<std::size_t>(it - text.begin());
}

// Every "*" is dropped and what is left must occur somewhere in the name: the
// default "*.*" thus selects every name holding a dot.
bool MatchesMask(std::string_view fileName, std::string_view mask) {
  std::string core(mask);
  core.erase(std::remove(core.begin(), core.end(), '*'), core.end());
  return FindIgnoringCase(fileName, core) != std::string_view::npos;
}

}  // namespace plenvar
