#include <memory>
#include <optional>
#include <vector>

#include "extract/extract.h"
#include "output/output.h"
#include "walk/walk.h"

namespace plenvar {

namespace {

// Passes each message on, and shows progress after it: a large mailbox moves
// the line too.
class Ticking : public MessageSink {
 public:
  Ticking(MessageSink& sink, const std::function<void()>& tick) : sink_(sink), tick_(tick) {}
  void Opened(std::uint64_t size) override { sink_.Opened(size); }
  void Message(std::string_view text, std::string* owner) override {
    sink_.Message(text, owner);
    tick_();
  }
  bool Stopping() override { return sink_.Stopping(); }

 private:
  MessageSink& sink_;
  const std::function<void()>& tick_;
};

// One thread: per selected mail file, begin it, cut it into the output, end it.
class Exporter : public StoreVisitor {
 public:
  Exporter(Output& output, const CutFunction& cut, const std::function<void()>& tick)
      : output_(output), cut_(cut), tick_(tick) {}

  void MailFile(const std::string& path, const std::string& targetFolder) override {
    output_.BeginMailFile(path, targetFolder);
    Ticking ticking(output_, tick_);
    output_.EndMailFile(cut_(0, path, tick_ ? static_cast<MessageSink&>(ticking) : output_));
    if (tick_) tick_();
  }

  void CannotSelect(Failure failure) override { output_.Skip(std::move(failure)); }

 private:
  Output& output_;
  const CutFunction& cut_;
  const std::function<void()>& tick_;
};

// Several: each selected mail file goes to the workers.
class HandingOver : public StoreVisitor {
 public:
  explicit HandingOver(MailFileQueue& queue) : queue_(queue) {}
  void MailFile(const std::string& path, const std::string& targetFolder) override {
    queue_.MailFile(path, targetFolder);
  }
  void CannotSelect(Failure failure) override { queue_.Skip(std::move(failure)); }

 private:
  MailFileQueue& queue_;
};

}  // namespace

ExportReport RunExport(const Selection& selection, const ExportOptions& options) {
  ExportReport report;
  report.log = options.log;
  // Each thread that cuts has a cutter of its own; all count into one place,
  // from which the walk's thread shows progress.
  std::vector<Cutter> cutters(static_cast<std::size_t>(options.writers));
  CutCounts counts;
  const CutFunction cut = [&cutters, &counts](int worker, const std::string& path,
                                              MessageSink& sink) -> std::optional<Failure> {
    std::optional<Failure> failure;
    try {
      if (SplitMailFile(path, cutters[static_cast<std::size_t>(worker)], sink, &counts))
        failure = {kMailFileChanged, path,
                   "changed while it was read (what was read was exported)"};
    } catch (const Error& e) {
      failure = {kMailFileNotRead, e.path, e.reason};
    } catch (const std::exception& e) {
      failure = {kMailFileNotRead, path, e.what()};
    }
    ++counts.mailFiles;
    return failure;
  };
  std::function<void()> tick;
  if (options.onProgress) {
    tick = [&options, &counts] {
      options.onProgress({counts.mailFiles.load(), counts.bytes.load(), counts.messages.load()});
    };
  }
  if (options.writers == 1 && options.kind != RunKind::kVerify) {
    // The plain sequential program: cut and write (or count) as it comes.
    const std::unique_ptr<Output> output = options.kind == RunKind::kList
                                               ? MakeListOutput(report)
                                               : MakeSerialOutput(report, options.targetMade);
    Exporter exporter(*output, cut, tick);
    report.folders = WalkStore(selection, exporter);
    output->Finish();
  } else {
    const std::unique_ptr<MailFileQueue> queue =
        MakeWorkers(options.kind, options.writers, report, cut, tick, options.targetMade);
    HandingOver handingOver(*queue);
    report.folders = WalkStore(selection, handingOver);
    queue->Finish();
  }
  report.interrupted = platform::Interruption();
  EndRunLog(report);
  return report;
}

}  // namespace plenvar
