// The verify: what an export would write, compared with what the target holds.
#include <cstring>
#include <memory>
#include <string>
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

// Why the open `file` does not hold exactly `text`, or "" when it does: read
// block by block, only as far as both go (a size that differs is a
// difference already, and the read that would return 0 at the end is one
// system call a file saved). Throws Error when it cannot be read.
std::string Difference(platform::InputFile& file, std::string_view text) {
  const std::size_t at = MatchingBytes(file, text, static_cast<std::size_t>(file.size));
  if (at == text.size() && file.size == text.size()) return "";
  return "differs from byte " + std::to_string(at) + " on (the file holds " +
         std::to_string(file.size) + " bytes, the message " + std::to_string(text.size()) + ")";
}

// Why the open `file` was not last modified at the message's `time`, or ""
// when it was. Throws Error when the time cannot be read.
std::string TimeDifference(const platform::InputFile& file, const MessageTime& time) {
  const std::int64_t modified = platform::ModifiedSeconds(file);
  if (modified == time.seconds) return "";
  static const char* const kFrom[] = {"Received:", "Date:", "the mail file"};
  return "modified " + FormatMailTime(modified) + ", the message's time " +
         FormatMailTime(time.seconds) + " (from " + kFrom[static_cast<int>(time.source)] + ")";
}

// Compares the message file at `path` with `text` and, with "/DATES", the
// message's time, into the outcome: kDone when they match, else kFailed and
// the errorKind. A file that cannot be read throws Error (kMessageDiffers).
void Compare(const std::string& path, std::string_view text, bool dates, MessageOutcome& outcome) {
  platform::InputFile file;  // closed however the comparison ends
  std::string why;
  if (!platform::OpenToRead(path, &file, false, &why)) {  // a link is no message file
    outcome.errorKind = kMessageMissing;
    outcome.Fail(std::move(why));
    return;
  }
  platform::DropCachedPages(file);  // what the disk holds, not what memory still does
  outcome.errorKind = kMessageDiffers;
  why = Difference(file, text);
  // Its bytes first: a time is told apart only on a file that holds them.
  if (why.empty() && dates) {
    why = TimeDifference(file, outcome.time);
    if (!why.empty()) outcome.errorKind = kMessageTimeDiffers;
  }
  if (why.empty()) {
    outcome.state = MessageState::kDone;
  } else {
    outcome.Fail(std::move(why));
  }
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
    Compare(MessageFilePath(unit.folder, number), text, dates, outcome);
    if (manifest_ != nullptr && !outcome.Failed()) outcome.digest = platform::Sha256Hex(text);
  }

  void Commit(const Unit& unit, std::int64_t, std::int64_t number, MessageOutcome& outcome,
              Tally& tally) override {
    CountTime(*this, number, outcome, tally);
    if (number == kNoNumber) return;
    listed_.Add(unit.folder, number);
    if (outcome.Failed()) {
      tally.Report().Fail(
          {outcome.errorKind, MessageFilePath(unit.folder, number), std::move(outcome.error)});
    } else if (manifest_ != nullptr && !outcome.digest.empty()) {
      manifest_->Add(unit.folder, number, outcome.digest);  // what was found matching
    }
    tally.CountMessage(number, outcome.size);
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
