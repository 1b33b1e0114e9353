#include <memory>
#include <optional>

#include "extract/extract.h"
#include "output/output.h"
#include "walk/walk.h"

namespace plenvar {

namespace {

// Passes every event on to the output, and shows progress after each message
// and each mail file: a large mailbox moves the line too.
class Progressing : public Output {
 public:
  Progressing(Output& output, const std::function<void(const Progress&)>& onProgress)
      : output_(output), onProgress_(onProgress) {}
  void BeginMailFile(const std::string& source, const std::string& targetFolder) override {
    fileBytes = 0;
    output_.BeginMailFile(source, targetFolder);
  }
  void Message(std::string_view text, std::string* owner) override {
    output_.Message(text, owner);
    ++done_.messages;
    Progress now = done_;
    now.bytes += static_cast<std::int64_t>(fileBytes);
    onProgress_(now);
  }
  void EndMailFile(std::optional<Failure> failure) override {
    output_.EndMailFile(std::move(failure));
    ++done_.mailFiles;
    done_.bytes += static_cast<std::int64_t>(fileBytes);
    onProgress_(done_);
  }
  void Skip(Failure failure) override { output_.Skip(std::move(failure)); }
  void Finish() override { output_.Finish(); }
  std::uint64_t fileBytes = 0;  // read so far of the mail file being cut

 private:
  Output& output_;
  const std::function<void(const Progress&)>& onProgress_;
  Progress done_;
};

// Per selected mail file: begin it, cut it into the output, end it.
class Exporter : public StoreVisitor {
 public:
  Exporter(Output& output, std::uint64_t* fileBytes) : output_(output), fileBytes_(fileBytes) {}

  void MailFile(const std::string& path, const std::string& targetFolder) override {
    output_.BeginMailFile(path, targetFolder);
    std::optional<Failure> failure;
    try {
      if (SplitMailFile(path, output_, fileBytes_))
        failure = {kMailFileChanged, path,
                   "changed while it was read (what was read was exported)"};
    } catch (const Error& e) {
      failure = {kMailFileNotRead, e.path, e.reason};
    } catch (const std::exception& e) {
      failure = {kMailFileNotRead, path, e.what()};
    }
    output_.EndMailFile(std::move(failure));
  }

  void CannotSelect(Failure failure) override { output_.Skip(std::move(failure)); }

 private:
  Output& output_;
  std::uint64_t* fileBytes_;
};

// A dry run and a verify are just other outputs: the walk does not know which.
std::unique_ptr<Output> MakeOutput(const ExportOptions& options, ExportReport& report) {
  if (options.kind == RunKind::kList) return MakeListOutput(report);
  if (options.kind == RunKind::kVerify) return MakeVerifyOutput(options.writers, report);
  if (options.writers > 1) return MakeParallelOutput(options.writers, report);
  return MakeSerialOutput(report);
}

}  // namespace

ExportReport RunExport(const Selection& selection, const ExportOptions& options) {
  ExportReport report;
  report.log = options.log;
  std::unique_ptr<Output> output = MakeOutput(options, report);
  std::optional<Progressing> progressing;
  if (options.onProgress) progressing.emplace(*output, options.onProgress);
  Output& cutInto = progressing ? static_cast<Output&>(*progressing) : *output;
  Exporter exporter(cutInto, progressing ? &progressing->fileBytes : nullptr);
  report.folders = WalkStore(selection, exporter);
  cutInto.Finish();
  report.interrupted = platform::Interruption();
  output.reset();
  EndRunLog(report);
  return report;
}

}  // namespace plenvar
