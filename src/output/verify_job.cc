// The verify: what an export would write, compared with what the target holds.
#include <algorithm>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "output/job.h"
#include "output/same_file.h"
#include "platform/digest.h"
#include "platform/files.h"
#include "platform/folders.h"

namespace plenvar {

namespace {

// Compares the file at `path` with `text`, reading it block by block; the
// reason is left empty when they match.
void Compare(const std::string& path, std::string_view text, MessageOutcome* outcome) {
  platform::InputFile file;
  try {
    platform::OpenForReading(path, &file);
  } catch (const Error& e) {
    outcome->errorKind = kMessageMissing;
    outcome->error = e.reason;
    return;
  }
  platform::DropCachedPages(file);  // what the disk holds, not what memory still does
  outcome->errorKind = kMessageDiffers;
  // Only as far as both go: a size that differs is a difference already, and
  // the read that would return 0 at the end is one system call a file saved.
  std::size_t at = 0;
  try {
    at = MatchingBytes(file, text, static_cast<std::size_t>(file.size));
  } catch (const Error& e) {
    outcome->error = e.reason;
  }
  if (outcome->error.empty() && (at != text.size() || file.size != text.size())) {
    outcome->error = "differs from byte " + std::to_string(at) + " on (the file holds " +
                     std::to_string(file.size) + " bytes, the message " +
                     std::to_string(text.size()) + ")";
  }
  platform::Close(file);
}

class VerifyJob : public Job {
 public:
  explicit VerifyJob(Manifest* manifest) : manifest_(manifest) {}
  bool NeedsNumbers(const Unit&) const override { return true; }

  // Nothing a verify finds ends a mail file, nor numbers it otherwise: its
  // work is always done for the message's own number.
  void Work(const Unit& unit, std::int64_t, std::int64_t number, std::string_view text,
            MessageOutcome& outcome, bool) override {
    outcome.number = number;
    Compare(MessageFilePath(unit.folder, number), text, &outcome);
    if (manifest_ != nullptr && outcome.error.empty()) outcome.digest = platform::Sha256Hex(text);
  }

  void Commit(const Unit& unit, std::int64_t, std::int64_t number, MessageOutcome& outcome,
              Tally& tally) override {
    if (number == 0) return;
    if (folder_ == nullptr || *folder_ != unit.folder) {
      auto [it, added] = numbers_.try_emplace(unit.folder);
      if (added) order_.push_back(unit.folder);
      folder_ = &it->first;
      ranges_ = &it->second;
    }
    if (!ranges_->empty() && ranges_->back().second + 1 == number) {
      ranges_->back().second = number;
    } else {
      ranges_->push_back({number, number});
    }
    if (!outcome.error.empty()) {
      tally.Report().Fail(
          {outcome.errorKind, MessageFilePath(unit.folder, number), std::move(outcome.error)});
    } else if (manifest_ != nullptr && !outcome.digest.empty()) {
      manifest_->Add(unit.folder, number, outcome.digest);  // what was found matching
    }
    tally.Written(number, outcome.size);
  }

  // Message files and leftovers in the folders an export writes into that it
  // would not have written; any other file there is not the export's business.
  // Not after a stop: what it did not reach is not extra.
  void Finish(Tally& tally, bool stopped) override {
    if (manifest_ != nullptr) manifest_->Close(tally.Report());
    if (stopped) return;
    for (const std::string& folder : order_) {
      platform::Folder listing;
      try {
        listing = platform::OpenFolder(folder);
      } catch (const Error&) {
        continue;  // its message files were all reported missing
      }
      const std::vector<std::pair<std::int64_t, std::int64_t>>& ranges = numbers_[folder];
      for (const platform::Entry& file : listing.files) {
        std::int64_t number = 0;
        const NameKind kind = KindOfName(file.name, &number);
        if (kind == NameKind::kOther) continue;
        const bool expected =
            kind == NameKind::kMessageFile &&
            std::any_of(ranges.begin(), ranges.end(), [number](const auto& range) {
              return range.first <= number && number <= range.second;
            });
        if (!expected)
          tally.Report().Fail({kExtraFile, file.path,
                               kind == NameKind::kTemporary
                                   ? "a temporary file an export leaves behind only when it is "
                                     "killed"
                                   : "a message file this export would not have written"});
      }
    }
  }

 private:
  // The numbers an export writes into each folder, as runs of consecutive ones.
  std::unordered_map<std::string, std::vector<std::pair<std::int64_t, std::int64_t>>> numbers_;
  std::vector<std::string> order_;       // the folders, in the order the walk reached them
  const std::string* folder_ = nullptr;  // the last one, and its runs
  std::vector<std::pair<std::int64_t, std::int64_t>>* ranges_ = nullptr;
  Manifest* manifest_;
};

}  // namespace

std::unique_ptr<Job> MakeVerifyJob(Manifest* manifest) {
  return std::make_unique<VerifyJob>(manifest);
}

}  // namespace plenvar
