// The verify: what an export would write, compared with what the target holds.
#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <utility>
#include <vector>

#include "output/pool.h"
#include "platform/platform.h"

namespace plenvar {

namespace {

// The number in a message file's name, or 0; *temporary tells a leftover
// "<number>.MAI.tmp" of an export.
std::int64_t NumberOf(const std::string& name, bool* temporary) {
  *temporary = name.size() == 26 && name.compare(22, 4, ".tmp") == 0;
  if ((name.size() != 22 && !*temporary) || name.compare(18, 4, ".MAI") != 0) return 0;
  std::int64_t number = 0;
  for (std::size_t i = 0; i < 18; ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
    number = number * 10 + (name[i] - '0');
  }
  return number;
}

// Compares the file at `path` with `text`, reading it block by block; the
// reason is left empty when they match.
void Compare(const std::string& path, std::string_view text, Item* item) {
  platform::InputFile file;
  try {
    platform::OpenForReading(path, &file);
  } catch (const Error& e) {
    item->errorKind = kMessageMissing;
    item->error = e.reason;
    return;
  }
  platform::DropCachedPages(file);  // what the disk holds, not what memory still does
  item->errorKind = kMessageDiffers;
  static thread_local std::vector<char> block(std::size_t{256} << 10);
  // Only as far as both go: a size that differs is a difference already, and
  // the read that would return 0 at the end is one system call a file saved.
  const std::size_t both =
      static_cast<std::size_t>(std::min<std::uint64_t>(file.size, text.size()));
  std::size_t at = 0;
  try {
    while (at < both) {
      const std::size_t n =
          platform::ReadBlock(file, block.data(), std::min(block.size(), both - at));
      if (n == 0) break;  // shorter than when it was opened
      const std::size_t same = static_cast<std::size_t>(
          std::mismatch(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(n),
                        text.begin() + static_cast<std::ptrdiff_t>(at))
              .first -
          block.begin());
      at += same;
      if (same < n) break;
    }
  } catch (const Error& e) {
    item->error = e.reason;
  }
  if (item->error.empty() && (at != text.size() || file.size != text.size())) {
    item->error = "differs from byte " + std::to_string(at) + " on (the file holds " +
                  std::to_string(file.size) + " bytes, the message " + std::to_string(text.size()) +
                  ")";
  }
  platform::Close(file);
}

class VerifyJob : public PoolJob {
 public:
  bool BeginFolder(const std::string& folder) override {
    auto [it, added] = numbers_.try_emplace(folder);
    if (added) order_.push_back(folder);
    ranges_ = &it->second;
    return true;
  }

  // Nothing fails to be written in a verify: the numbers are known at once.
  void Prepare(Item& item) override {
    item.number = ++count_;
    if (!ranges_->empty() && ranges_->back().second + 1 == item.number) {
      ranges_->back().second = item.number;
    } else {
      ranges_->push_back({item.number, item.number});
    }
  }

  void Work(Item& item) override {
    Compare(item.names->folder + "\\" + MessageFileName(item.number), item.text, &item);
  }

  void Commit(Item& item, Tally& tally) override {
    const std::int64_t number = tally.Next();
    if (!item.error.empty())
      tally.Report().Fail({item.errorKind, item.names->folder + "\\" + MessageFileName(number),
                           std::move(item.error)});
    tally.Written(number, item.size);
  }

  // Message files and leftovers in the folders an export writes into that it
  // would not have written; any other file there is not the export's business.
  void Finish(Tally& tally) override {
    for (const std::string& folder : order_) {
      platform::Folder listing;
      try {
        listing = platform::OpenFolder(folder);
      } catch (const Error&) {
        continue;  // its message files were all reported missing
      }
      const std::vector<std::pair<std::int64_t, std::int64_t>>& ranges = numbers_[folder];
      for (const platform::Entry& file : listing.files) {
        bool temporary = false;
        const std::int64_t number = NumberOf(file.name, &temporary);
        if (number == 0) continue;
        const bool expected =
            !temporary && std::any_of(ranges.begin(), ranges.end(), [number](const auto& range) {
              return range.first <= number && number <= range.second;
            });
        if (!expected)
          tally.Report().Fail({kExtraFile, file.path,
                               temporary ? "a temporary file an export leaves behind only when "
                                           "it is killed"
                                         : "a message file this export would not have written"});
      }
    }
  }

 private:
  std::int64_t count_ = 0;
  // The numbers an export writes into each folder, as runs of consecutive ones.
  std::unordered_map<std::string, std::vector<std::pair<std::int64_t, std::int64_t>>> numbers_;
  std::vector<std::string> order_;  // the folders, in the order the walk reached them
  std::vector<std::pair<std::int64_t, std::int64_t>>* ranges_ = nullptr;
};

}  // namespace

std::unique_ptr<Output> MakeVerifyOutput(int writers, ExportReport& report) {
  return MakePooledOutput(writers, report, std::make_unique<VerifyJob>());
}

}  // namespace plenvar
