// The verify: what an export would write, compared with what the target holds.
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "job/job.h"
#include "platform/digest.h"
#include "platform/files.h"
#include "target/listed_numbers.h"
#include "target/message_names.h"
#include "target/same_file.h"

namespace plenvar {

namespace {

// Compares the file at `path` with `text`, reading it block by block; the
// reason is left empty when they match.
void Compare(const std::string& path, std::string_view text, MessageOutcome* outcome,
             bool dates = false) {
  platform::InputFile file;
  try {
    platform::OpenForReading(path, &file, false);  // a link is no message file
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
  // Its bytes first: a time is told apart only on a file that holds them.
  std::int64_t modified = outcome->time.seconds;
  try {
    if (dates && outcome->error.empty()) modified = platform::ModifiedSeconds(file);
  } catch (const Error& e) {
    outcome->error = e.reason;
  }
  if (dates && outcome->error.empty() && modified != outcome->time.seconds) {
    static const char* const kFrom[] = {"Received:", "Date:", "the mail file"};
    outcome->errorKind = kMessageTimeDiffers;
    outcome->error = "modified " + FormatMailTime(modified) + ", the message's time " +
                     FormatMailTime(outcome->time.seconds) + " (from " +
                     kFrom[static_cast<int>(outcome->time.source)] + ")";
  }
  platform::Close(file);
}

class VerifyJob : public Job {
 public:
  explicit VerifyJob(Manifest* manifest) : manifest_(manifest) {}
  bool NeedsNumbers(const Unit&) const override { return true; }

  // Every folder an export makes is searched, also one whose mail files hold
  // no message. Kept apart until Finish: the commits may run in another thread.
  void BeginFolder(Unit& unit) override {
    unit.folderExists = true;
    if (folders_.empty() || folders_.back() != unit.folder) folders_.push_back(unit.folder);
  }

  // Nothing a verify finds ends a mail file, nor numbers it otherwise: its
  // work is always done for the message's own number.
  void Work(const Unit& unit, std::int64_t, std::int64_t number, std::string_view text,
            MessageOutcome& outcome, bool) override {
    outcome.number = number;
    FindTime(*this, unit, text, outcome);
    Compare(MessageFilePath(unit.folder, number), text, &outcome, dates);
    if (manifest_ != nullptr && outcome.error.empty()) outcome.digest = platform::Sha256Hex(text);
  }

  void Commit(const Unit& unit, std::int64_t, std::int64_t number, MessageOutcome& outcome,
              Tally& tally) override {
    CountTime(*this, number, outcome, tally);
    if (number == 0) return;
    listed_.Add(unit.folder, number);
    if (!outcome.error.empty()) {
      tally.Report().Fail(
          {outcome.errorKind, MessageFilePath(unit.folder, number), std::move(outcome.error)});
    } else if (manifest_ != nullptr && !outcome.digest.empty()) {
      manifest_->Add(unit.folder, number, outcome.digest);  // what was found matching
    }
    tally.Written(number, outcome.size);
  }

  // Message files and leftovers in the folders an export writes into that it
  // would not have written. Not after a stop: what it did not reach is not extra.
  void Finish(Tally& tally, bool stopped) override {
    if (manifest_ != nullptr) manifest_->Close(tally.Report());
    if (stopped) return;
    for (const std::string& folder : folders_) listed_.AddFolder(folder);
    listed_.ReportExtras(tally.Report());
  }

 private:
  std::vector<std::string> folders_;  // the walk's thread, then Finish
  ListedNumbers listed_;              // the numbers an export writes into each folder
  Manifest* manifest_;
};

}  // namespace

std::unique_ptr<Job> MakeVerifyJob(Manifest* manifest) {
  return std::make_unique<VerifyJob>(manifest);
}

}  // namespace plenvar
