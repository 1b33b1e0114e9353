#include <algorithm>

#include "extract/extract.h"

namespace plenvar {

std::size_t FindFirstHeader(std::string_view text) {
  static constexpr std::string_view kKeywords[] = {
      "Received:", "Date:", "Return-Path:", "Subject:", "Content-Type:"};
  std::size_t best = std::string_view::npos;
  for (std::string_view keyword : kKeywords) {
    // Only an occurrence that starts before the best so far can win, so a
    // long text is not searched to its end for every keyword.
    std::size_t limit = best == std::string_view::npos ? text.size() : best + keyword.size() - 1;
    best = std::min(best, text.substr(0, std::min(limit, text.size())).find(keyword));
  }
  return best == std::string_view::npos ? 0 : best + 1;
}

}  // namespace plenvar
