// The export's work on each message: written under its temporary name in the
// worker that cut it, renamed to its number's name at its commit.
#include "output/pool.h"
#include "output/target_folders.h"
#include "platform/platform.h"

namespace plenvar {

namespace {

class WriteJob : public Job {
 public:
  bool BeginFolder(const std::string& folder, std::string* made) override {
    return folders_.Ensure(folder, made);
  }

  void Work(const Unit& unit, std::int64_t k, std::int64_t, std::string_view text,
            MessageOutcome& outcome) override {
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
    const bool written = outcome.worked && outcome.error.empty();
    if (!keep || tally.Abandoned()) {
      if (written) platform::RemoveFile(temporary);
      return;
    }
    const std::int64_t number = tally.Next();
    const std::string path = MessageFilePath(unit.folder, number);
    std::string error = std::move(outcome.error);
    if (!outcome.worked && error.empty()) error = "not written";  // never reported as written
    if (written) {
      try {
        platform::RenameReplacing(temporary, path);
      } catch (const Error& e) {
        error = e.reason;
        platform::RemoveFile(temporary);
      }
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

std::unique_ptr<Job> MakeWriteJob() { return std::make_unique<WriteJob>(); }

}  // namespace plenvar
