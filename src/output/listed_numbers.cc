#include "output/listed_numbers.h"

#include <algorithm>

#include "output/message_names.h"
#include "platform/folders.h"

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

void ListedNumbers::AddFolder(const std::string& folder) {
  if (numbers_.try_emplace(folder).second) order_.push_back(folder);
}

bool ListedNumbers::Holds(const std::string& folder, std::int64_t number) const {
  const auto it = numbers_.find(folder);
  return it != numbers_.end() &&
         std::any_of(it->second.begin(), it->second.end(), [number](const auto& range) {
           return range.first <= number && number <= range.second;
         });
}

void ListedNumbers::ReportExtras(ExportReport& report, const std::atomic<int>* stop) const {
  for (const std::string& folder : order_) {
    if (stop != nullptr && stop->load() != 0) return;
    platform::Folder listing;
    try {
      listing = platform::OpenFolder(folder);
    } catch (const Error&) {
      continue;  // its message files were all reported missing
    }
    for (const platform::Entry& file : listing.files) {
      std::int64_t number = 0;
      const NameKind kind = KindOfName(file.name, &number);
      if (kind == NameKind::kOther) continue;
      const bool expected = kind == NameKind::kMessageFile && Holds(folder, number);
      if (!expected)
        report.Fail({kExtraFile, file.path,
                     kind == NameKind::kTemporary
                         ? "a temporary file an export leaves behind only when it is killed"
                         : "a message file this export would not have written"});
    }
  }
}

}  // namespace plenvar
