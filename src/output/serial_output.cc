// The one-writer output: each message is written as it is cut.
#include "output/output.h"
#include "output/same_file.h"
#include "output/tally.h"
#include "output/target_folders.h"
#include "platform/files.h"
#include "platform/process.h"

namespace plenvar {

namespace {

class SerialOutput : public Output {
 public:
  SerialOutput(ExportReport& report, const std::string& newTarget)
      : tally_(report), folders_(newTarget) {}

  void BeginMailFile(const std::string& source, const std::string& targetFolder) override {
    source_ = source;
    folder_ = targetFolder;
    folderExists_ = folders_.Ensure(targetFolder, nullptr, &fresh_);
    ++mailFile_;
    k_ = 0;
  }

  void Message(std::string_view text, std::string*) override {
    const std::int64_t number = tally_.Next();
    ++k_;
    if (number == 0) return;  // the mail file ended at a message file not written
    if (!folderExists_) MakeLastFolderLevel(folder_);
    const std::string path = MessageFilePath(folder_, number);
    // A rerun: what an earlier run wrote is left as it is, and counted.
    if (!fresh_ && AlreadyInPlace(path, text)) {
      tally_.Kept(number, text.size());
      return;
    }
    try {
      // The temporary name the workers use too: a rerun with any number of
      // them replaces every temporary file a killed run left.
      platform::WriteFileAtomically(path, TemporaryPath(folder_, mailFile_, k_), text);
    } catch (const Error& e) {
      tally_.NotWritten(path, e.reason, source_);
      return;
    }
    folderExists_ = true;
    tally_.Written(number, text.size());
  }

  void EndMailFile(std::optional<Failure> failure) override {
    tally_.EndMailFile(source_, folder_, std::move(failure));
  }

  void Skip(Failure failure) override { tally_.Report().Fail(std::move(failure)); }

  void Finish() override {
    // A stopped run is run again, which writes it all anew: no flush to wait for.
    if (platform::Interruption() == 0) folders_.Flush(tally_.Report());
  }

 private:
  Tally tally_;
  TargetFolders folders_;
  std::string source_, folder_;
  bool folderExists_ = false;
  bool fresh_ = false;                 // the folder is this run's: it holds no earlier run's file
  std::int64_t mailFile_ = 0, k_ = 0;  // the mail file's place in the walk; the message's in it
};

}  // namespace

std::unique_ptr<Output> MakeSerialOutput(ExportReport& report, const std::string& newTarget) {
  return std::make_unique<SerialOutput>(report, newTarget);
}

}  // namespace plenvar
