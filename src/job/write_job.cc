// The export's work on each message: written under its temporary name in the
// thread that cut it, renamed to its number's name at its commit; or, where
// the number is final as it is worked on (one thread), both in one step.
#include <utility>
#include <vector>

#include "job/job.h"
#include "platform/digest.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "target/listed_numbers.h"
#include "target/message_names.h"
#include "target/same_file.h"
#include "target/target_folders.h"

namespace plenvar {

namespace {

class WriteJob : public Job {
 public:
  WriteJob(const std::string& newTarget, Manifest* manifest, const std::string& target)
      : folders_(newTarget, target), manifest_(manifest) {}

  void BeginFolder(Unit& unit) override {
    unit.folderExists =
        folders_.Ensure(unit.folder, &unit.madeFolder, &unit.freshFolder, &unit.refusedFolder);
  }

  // A folder that was there before the run may hold what an earlier run
  // wrote: its messages are looked for under the numbers they will have.
  bool NeedsNumbers(const Unit& unit) const override { return !unit.freshFolder; }

  // A message file that cannot be written uses its number and ends its mail
  // file: the messages after it are not numbered.
  bool FailureEndsMailFile() const override { return true; }

  void Work(const Unit& unit, std::int64_t k, std::int64_t number, std::string_view text,
            MessageOutcome& outcome, bool final) override {
    outcome.number = number;
    // Here, where the text is, in whichever thread cut it: never read twice.
    if (manifest_ != nullptr) outcome.digest = platform::Sha256Hex(text);
    FindTime(*this, unit, text, outcome);
    const std::int64_t time = dates ? outcome.time.seconds : platform::kSystemTime;
    if (!unit.refusedFolder.empty()) {
      outcome.error = unit.refusedFolder;
      return;
    }
    // A rerun: what an earlier run wrote is left as it is, and counted.
    if (!unit.freshFolder && number != 0 &&
        AlreadyInPlace(MessageFilePath(unit.folder, number), text)) {
      try {
        KeepTime(MessageFilePath(unit.folder, number), time);
      } catch (const Error& e) {
        outcome.error = e.reason;
        return;
      }
      outcome.inPlace = true;
      return;
    }
    const std::string missingFolder = unit.folderExists ? "" : MakeLastFolderLevel(unit.folder);
    // The same temporary name with any number of threads: a rerun replaces
    // every temporary file a killed run left.
    const std::string temporary = TemporaryPath(unit.folder, unit.mailFile, k);
    try {
      if (final) {
        platform::WriteFileAtomically(MessageFilePath(unit.folder, number), temporary, text, time);
        outcome.placed = true;
      } else {
        platform::WriteNewFile(temporary, text, time);
      }
    } catch (const Error& e) {
      outcome.error = missingFolder.empty() ? e.reason : missingFolder;
    }
  }

  void Commit(const Unit& unit, std::int64_t k, std::int64_t number, MessageOutcome& outcome,
              Tally& tally) override {
    CountTime(*this, number, outcome, tally);
    // Its number is accounted for, written or failed: the search at the end
    // reports only what no message of this run explains.
    if (number != 0 && !unit.freshFolder) left_.Add(unit.folder, number);
    if (outcome.placed) {
      Leave(unit, number, outcome);
      tally.Written(number, outcome.size);
      return;
    }
    const bool temporary = outcome.worked && outcome.error.empty() && !outcome.inPlace;
    const std::string temporaryPath =
        temporary ? TemporaryPath(unit.folder, unit.mailFile, k) : std::string();
    if (number == 0) {
      if (temporary) platform::RemoveFile(temporaryPath);
      return;
    }
    if (outcome.inPlace && outcome.number == number) {
      Leave(unit, number, outcome);
      tally.Kept(number, outcome.size);
      return;
    }
    const std::string path = MessageFilePath(unit.folder, number);
    std::string error = std::move(outcome.error);
    if (!outcome.worked && error.empty()) error = "not written";  // never reported as written
    try {
      if (!unit.freshFolder && outcome.number != number && (temporary || outcome.inPlace)) {
        // Its work looked for it under a later number (a message file before
        // it could not be written): what one thread would have found under
        // this one decides. The file of that later number is untouched so
        // far in this run, so it still holds the message's text.
        const std::string text =
            ReadWhole(temporary ? temporaryPath : MessageFilePath(unit.folder, outcome.number));
        if (AlreadyInPlace(path, text)) {
          KeepTime(path, dates ? outcome.time.seconds : platform::kSystemTime);
          if (temporary) platform::RemoveFile(temporaryPath);
          Leave(unit, number, outcome);
          tally.Kept(number, outcome.size);
          return;
        }
        if (!temporary)
          platform::WriteFileAtomically(path, TemporaryPath(unit.folder, unit.mailFile, k), text,
                                        dates ? outcome.time.seconds : platform::kSystemTime);
      }
      if (temporary) platform::RenameReplacing(temporaryPath, path);
    } catch (const Error& e) {
      error = e.reason;
      if (temporary) platform::RemoveFile(temporaryPath);
    }
    if (error.empty()) {
      Leave(unit, number, outcome);
      tally.Written(number, outcome.size);
    } else {
      tally.NotWritten(path, std::move(error), unit.source);
    }
  }

  // One thread stopped before this mail file would not have made its folder.
  // Taken back once every undone message file is gone, the deepest first: a
  // later mail file's files may lie in a folder an earlier one made.
  void Undo(const Unit& unit) override {
    if (!unit.madeFolder.empty()) undone_.emplace_back(unit.folder, unit.madeFolder);
  }

  // Only once every message file has its final name: a flush before the last
  // renames would leave them off the disk. A stopped run is run again, which
  // writes it all anew: no flush to wait for, unless a manifest is to list
  // what it left, which must be on the disk before the manifest is.
  void Finish(Tally& tally, bool stopped) override {
    for (auto made = undone_.rbegin(); made != undone_.rend(); ++made)
      RemoveMadeFolders(made->first, made->second);
    ExportReport& report = tally.Report();
    for (const auto& [path, reason] : folders_.Stale()) {
      if (reason.empty()) {
        report.Removed(path, "a temporary file an earlier run left");
      } else {
        report.Fail(
            {kExtraFile, path,
             "a temporary file an earlier run left, which could not be removed: " + reason});
      }
    }
    if (!stopped) ReportNotLeft(report);
    // A stopped run's manifest lists what it left: that goes to the disk first.
    if (!stopped || manifest_ != nullptr) folders_.Flush(report);
    // A stopped run's too: it lists what the run left.
    if (manifest_ != nullptr) manifest_->Close(report);
  }

 private:
  // A message file found in place gets `time` (unless kSystemTime) where it
  // has another, its bytes untouched. Throws Error.
  static void KeepTime(const std::string& path, std::int64_t time) {
    std::int64_t now = 0;
    if (time != platform::kSystemTime && !(platform::ModifiedSecondsOf(path, &now) && now == time))
      platform::SetModifiedTime(path, time);
  }

  // Message files that folders holding some before the run hold beyond those
  // the run leaves (an earlier run's under numbers that have moved since, or
  // another's): reported one by one, never removed, so that a run without
  // failures has left one clean run's tree.
  void ReportNotLeft(ExportReport& report) const {
    for (const std::string& folder : folders_.Searched()) {
      platform::Folder listing;
      try {
        listing = platform::OpenFolder(folder);
      } catch (const Error&) {
        continue;  // its writes said why
      }
      std::int64_t number = 0;
      for (const platform::Entry& file : listing.files) {
        if (KindOfName(file.name, &number) == NameKind::kMessageFile &&
            !left_.Holds(folder, number))
          report.Fail({kExtraFile, file.path,
                       "a message file this run did not leave there; left as it is"});
      }
    }
  }

  // A message file the run leaves in the target, written or found in place.
  void Leave(const Unit& unit, std::int64_t number, const MessageOutcome& outcome) {
    if (manifest_ != nullptr) manifest_->Add(unit.folder, number, outcome.digest);
  }

  TargetFolders folders_;                                    // the walk's thread, then Finish
  Manifest* manifest_;                                       // the commits, then Finish
  std::vector<std::pair<std::string, std::string>> undone_;  // folder, first level made
  ListedNumbers left_;  // the numbers of folders there before the run; the commits, then Finish
};

}  // namespace

std::unique_ptr<Job> MakeWriteJob(const std::string& newTarget, Manifest* manifest,
                                  const std::string& target) {
  return std::make_unique<WriteJob>(newTarget, manifest, target);
}

}  // namespace plenvar
