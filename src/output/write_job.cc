// The export's work on each message: written under its temporary name in the
// worker that cut it, renamed to its number's name at its commit.
#include "output/pool.h"
#include "output/same_file.h"
#include "output/target_folders.h"
#include "platform/files.h"
#include "platform/process.h"

namespace plenvar {

namespace {

class WriteJob : public Job {
 public:
  explicit WriteJob(const std::string& newTarget) : folders_(newTarget) {}

  void BeginFolder(Unit& unit) override {
    unit.folderExists = folders_.Ensure(unit.folder, &unit.madeFolder, &unit.freshFolder);
  }

  // A folder that was there before the run may hold what an earlier run
  // wrote: its messages are looked for under the numbers they will have.
  bool NeedsNumbers(const Unit& unit) const override { return !unit.freshFolder; }

  void Work(const Unit& unit, std::int64_t k, std::int64_t number, std::string_view text,
            MessageOutcome& outcome) override {
    if (number != 0) {
      const std::string path = MessageFilePath(unit.folder, number);
      if (AlreadyInPlace(path, text)) {
        outcome.inPlace = number;
        return;
      }
    }
    if (!unit.folderExists) MakeLastFolderLevel(unit.folder);
    try {
      platform::WriteNewFile(TemporaryPath(unit.folder, unit.mailFile, k), text);
    } catch (const Error& e) {
      outcome.error = e.reason;
    } catch (const std::exception& e) {
      outcome.error = e.what();
    }
  }

  // A message file that cannot be written uses its number and ends its mail
  // file: the messages after it are not numbered, and their files go.
  void Commit(const Unit& unit, std::int64_t k, MessageOutcome& outcome, Tally& tally,
              bool keep) override {
    const std::string temporary = TemporaryPath(unit.folder, unit.mailFile, k);
    const bool written = outcome.worked && outcome.error.empty() && outcome.inPlace == 0;
    if (!keep || tally.Abandoned()) {
      if (written) platform::RemoveFile(temporary);
      return;
    }
    const std::int64_t number = tally.Next();
    const std::string path = MessageFilePath(unit.folder, number);
    if (outcome.inPlace == number) {
      tally.Kept(number, outcome.size);
      return;
    }
    std::string error = std::move(outcome.error);
    if (!outcome.worked && error.empty()) error = "not written";  // never reported as written
    try {
      if (outcome.inPlace != 0) {
        // A message before it was not written, so it gets a lower number than
        // the one whose file held it: that file, untouched so far in this run
        // (its number comes later), holds its text.
        platform::WriteFileAtomically(path, temporary,
                                      ReadWhole(MessageFilePath(unit.folder, outcome.inPlace)));
      } else if (written) {
        platform::RenameReplacing(temporary, path);
      }
    } catch (const Error& e) {
      error = e.reason;
      if (written) platform::RemoveFile(temporary);
    }
    if (error.empty()) {
      tally.Written(number, outcome.size);
    } else {
      tally.NotWritten(path, std::move(error), unit.source);
    }
  }

  // A single thread stopped before this mail file would not have made its folder.
  void Undo(const Unit& unit) override { RemoveMadeFolders(unit.folder, unit.madeFolder); }

  // Only once every message file has its final name: a flush before the last
  // renames would leave them off the disk.
  void Finish(Tally& tally) override {
    if (platform::Interruption() == 0) folders_.Flush(tally.Report());
  }

 private:
  TargetFolders folders_;  // the walk's thread, then Finish
};

}  // namespace

std::unique_ptr<Job> MakeWriteJob(const std::string& newTarget) {
  return std::make_unique<WriteJob>(newTarget);
}

}  // namespace plenvar
