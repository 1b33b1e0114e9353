// The export's work on each message: written under its temporary name in the
// thread that cut it, renamed to its number's name at its commit; or, where
// the number is final as it is worked on (one thread), both in one step.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "job/export_end.h"
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
  WriteJob(const std::string& firstMade, Manifest* manifest, const std::string& target)
      : folders_(firstMade, target), manifest_(manifest) {}

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
    if (!unit.refusedFolder.empty()) {
      outcome.Fail(unit.refusedFolder);
      return;
    }
    // A rerun: what an earlier run wrote is left as it is, and counted.
    if (!unit.freshFolder && number != kNoNumber &&
        AlreadyInPlace(MessageFilePath(unit.folder, number), text)) {
      KeepTime(MessageFilePath(unit.folder, number), TimeOf(outcome));
      outcome.state = MessageState::kInPlace;
      return;
    }
    // Why its folder is missing, rather than the write's "No such file".
    const std::string missingFolder = unit.folderExists ? "" : MakeLastFolderLevel(unit.folder);
    if (!missingFolder.empty()) {
      outcome.Fail(missingFolder);
      return;
    }
    // The same temporary name with any number of threads: a rerun replaces
    // every temporary file a killed run left.
    const std::string temporary = TemporaryPath(unit.folder, *unit.mailFile, k);
    if (final) {
      platform::WriteFileAtomically(MessageFilePath(unit.folder, number), temporary, text,
                                    TimeOf(outcome));
      outcome.state = MessageState::kPlaced;
    } else {
      platform::WriteNewFile(temporary, text, TimeOf(outcome));
      outcome.state = MessageState::kTemporary;
    }
  }

  // One case for each state its work left. What fails throws (CommitSafely
  // reports it as the message file's failure).
  void Commit(const Unit& unit, std::int64_t k, std::int64_t number, MessageOutcome& outcome,
              Tally& tally) override {
    CountTime(*this, number, outcome, tally);
    // Its number is accounted for, written or failed: the search at the end
    // reports only what no message of this run explains.
    if (number != kNoNumber && !unit.freshFolder) left_.Add(unit.folder, number);
    switch (outcome.state) {
      case MessageState::kPlaced:
        Written(unit, number, outcome, tally);
        return;
      case MessageState::kTemporary:
        CommitTemporary(unit, k, number, outcome, tally);
        return;
      case MessageState::kInPlace:
        CommitInPlace(unit, k, number, outcome, tally);
        return;
      case MessageState::kFailed:
        NotWritten(unit, number, std::move(outcome.error), tally);
        return;
      case MessageState::kNotWorked:
      case MessageState::kDone:  // no export's: never reported as written
        NotWritten(unit, number, "not written", tally);
        return;
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
    ReportStale(folders_, report);
    if (!stopped) ReportNotLeft(folders_, left_, report);
    // A stopped run's manifest lists what it left: that goes to the disk first.
    if (!stopped || manifest_ != nullptr) folders_.Flush(report);
    // A stopped run's too: it lists what the run left.
    if (manifest_ != nullptr) manifest_->Close(report);
  }

 private:
  // The time a message file gets: its message's, or the system's.
  std::int64_t TimeOf(const MessageOutcome& outcome) const {
    return dates ? outcome.time.seconds : platform::kSystemTime;
  }

  // A message file found in place gets `time` (unless kSystemTime) where it
  // has another, its bytes untouched. Throws Error.
  static void KeepTime(const std::string& path, std::int64_t time) {
    std::int64_t now = 0;
    if (time != platform::kSystemTime && !(platform::ModifiedSecondsOf(path, &now) && now == time))
      platform::SetModifiedTime(path, time);
  }

  // Written under its temporary name: renamed to its number's, or removed
  // when it gets none. Its work may have looked for it under a later number
  // (a message file before it could not be written): what one thread would
  // have found under this one decides.
  void CommitTemporary(const Unit& unit, std::int64_t k, std::int64_t number,
                       const MessageOutcome& outcome, Tally& tally) {
    const std::string temporary = TemporaryPath(unit.folder, *unit.mailFile, k);
    // Whatever ends this commit, the temporary file does not outlive it.
    std::unique_ptr<const std::string, void (*)(const std::string*)> leftover(
        &temporary, [](const std::string* path) { platform::RemoveFile(*path); });
    if (number == kNoNumber) return;
    const std::string path = MessageFilePath(unit.folder, number);
    if (!unit.freshFolder && outcome.number != number &&
        KeptInPlace(path, ReadWhole(temporary), outcome)) {
      Kept(unit, number, outcome, tally);
      return;
    }
    platform::RenameReplacing(temporary, path);
    static_cast<void>(leftover.release());  // renamed: nothing left to remove
    Written(unit, number, outcome, tally);
  }

  // Found in place under the number its work was done for. Under a later
  // one (a message file before it could not be written), the file of that
  // number is untouched so far in this run and still holds its text: written
  // under this one unless that holds it too.
  void CommitInPlace(const Unit& unit, std::int64_t k, std::int64_t number,
                     const MessageOutcome& outcome, Tally& tally) {
    if (number == kNoNumber) return;
    if (outcome.number == number) {
      Kept(unit, number, outcome, tally);
      return;
    }
    const std::string path = MessageFilePath(unit.folder, number);
    const std::string text = ReadWhole(MessageFilePath(unit.folder, outcome.number));
    if (KeptInPlace(path, text, outcome)) {
      Kept(unit, number, outcome, tally);
      return;
    }
    platform::WriteFileAtomically(path, TemporaryPath(unit.folder, *unit.mailFile, k), text,
                                  TimeOf(outcome));
    Written(unit, number, outcome, tally);
  }

  // Whether the file at `path` holds `text` already; it then gets the
  // message's time. Throws Error.
  bool KeptInPlace(const std::string& path, std::string_view text, const MessageOutcome& outcome) {
    if (!AlreadyInPlace(path, text)) return false;
    KeepTime(path, TimeOf(outcome));
    return true;
  }

  // What the run leaves in the target, written or found in place, counted
  // and in the manifest.
  void Written(const Unit& unit, std::int64_t number, const MessageOutcome& outcome, Tally& tally) {
    AddToManifest(unit, number, outcome);
    tally.CountMessage(number, outcome.size);
  }
  void Kept(const Unit& unit, std::int64_t number, const MessageOutcome& outcome, Tally& tally) {
    AddToManifest(unit, number, outcome);
    tally.Kept(number, outcome.size);
  }
  static void NotWritten(const Unit& unit, std::int64_t number, std::string reason, Tally& tally) {
    if (number != kNoNumber)
      tally.NotWritten(MessageFilePath(unit.folder, number), std::move(reason), unit.source);
  }

  // A message file the run leaves in the target, written or found in place.
  void AddToManifest(const Unit& unit, std::int64_t number, const MessageOutcome& outcome) {
    if (manifest_ != nullptr) manifest_->Add(unit.folder, number, outcome.digest);
  }

  TargetFolders folders_;                                    // the walk's thread, then Finish
  Manifest* manifest_;                                       // the commits, then Finish
  std::vector<std::pair<std::string, std::string>> undone_;  // folder, first level made
  ListedNumbers left_;  // the numbers of folders there before the run; the commits, then Finish
};

}  // namespace

std::unique_ptr<Job> MakeWriteJob(const std::string& firstMade, Manifest* manifest,
                                  const std::string& target) {
  return std::make_unique<WriteJob>(firstMade, manifest, target);
}

}  // namespace plenvar
