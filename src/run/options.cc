#include <algorithm>

#include "run/run.h"

namespace plenvar {

std::string ExtractBetween(std::string_view text, std::string_view startMarker,
                           std::string_view endMarker) {
  const std::size_t start = FindIgnoringCase(text, startMarker);
  if (start == std::string_view::npos) return "";
  const std::size_t from = start + startMarker.size();
  const std::size_t end = FindIgnoringCase(text, endMarker, from);
  return std::string(text.substr(from, end == std::string_view::npos ? text.npos : end - from));
}

std::string GetParameter(std::string_view commandLine, std::string_view key) {
  std::string value = ExtractBetween(commandLine, key, "/");
  value.erase(std::remove(value.begin(), value.end(), '"'), value.end());
  const std::size_t first = value.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return value.substr(first, value.find_last_not_of(' ') - first + 1);
}

}  // namespace plenvar
