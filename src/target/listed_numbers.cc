#include "target/listed_numbers.h"

#include <algorithm>
#include <iterator>

#include "platform/folders.h"
#include "target/message_names.h"

namespace plenvar {

void ListedNumbers::Add(const std::string& folder, std::int64_t number) {
  if (folder_ == nullptr || *folder_ != folder) {
    auto [it, added] = numbers_.try_emplace(folder);
    if (added) order_.push_back(folder);
    folder_ = &it->first;
    ranges_ = &it->second;
  }
  if (!ranges_->empty() && ranges_->back().second + 1 == number) {
    ranges_->back().second = number;
  } else {
    ranges_->push_back({number, number});
  }
}

namespace {

// Whether `number` lies in one of `ranges`, sorted by their starts.
bool Listed(const std::vector<std::pair<std::int64_t, std::int64_t>>& ranges, std::int64_t number) {
  auto after = std::upper_bound(ranges.begin(), ranges.end(), number,
                                [](std::int64_t n, const auto& range) { return n < range.first; });
  return after != ranges.begin() && number <= std::prev(after)->second;
}

}  // namespace

void ListedNumbers::AddFolder(const std::string& folder) {
  if (numbers_.try_emplace(folder).second) order_.push_back(folder);
}

bool ListedNumbers::Holds(const std::string& folder, std::int64_t number) const {
  const auto it = numbers_.find(folder);
  return it != numbers_.end() && Listed(it->second, number);
}

void ListedNumbers::ReportExtras(ExportReport& report, const RunControl* control) {
  for (const std::string& folder : order_) {
    if (control != nullptr && control->Stopped()) return;
    platform::Folder listing;
    std::string why;
    // Not listed: its message files were all reported missing.
    if (!platform::OpenFolder(folder, &listing, &why)) continue;
    Ranges& ranges = numbers_.at(folder);
    std::sort(ranges.begin(), ranges.end());
    // Merged, so that a number listed twice leaves no run inside another.
    std::size_t kept = 0;
    for (std::size_t i = 1; i < ranges.size(); ++i) {
      if (ranges[i].first <= ranges[kept].second + 1) {
        ranges[kept].second = std::max(ranges[kept].second, ranges[i].second);
      } else {
        ranges[++kept] = ranges[i];
      }
    }
    if (!ranges.empty()) ranges.resize(kept + 1);
    for (const platform::Entry& file : listing.files) {
      std::int64_t number = 0;
      const NameKind kind = KindOfName(file.name, &number);
      if (kind == NameKind::kOther) continue;
      const bool expected = kind == NameKind::kMessageFile && Listed(ranges, number);
      if (!expected)
        report.Fail({kExtraFile, file.path,
                     kind == NameKind::kTemporary
                         ? "a temporary file an export leaves behind only when it is killed"
                     : report.run == RunKind::kManifestCheck
                         ? "a message file the manifest does not list"
                         : "a message file this export would not have written"});
    }
  }
}

}  // namespace plenvar
