// The running of a run: the walk selects the mail files, the cutters cut them,
// and a MailFileQueue of the run's kind does the job on every message, with
// one thread or with workers, to the same result.
#include "run/export.h"

#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "extract/extract.h"
#include "job/job.h"
#include "manifest/manifest.h"
#include "output/output.h"
#include "run/caught.h"

namespace plenvar {

namespace {

// Puts each mail file the walk selects, and each failure it meets, in the queue.
class Enqueuer : public StoreVisitor {
 public:
  explicit Enqueuer(MailFileQueue& queue) : queue_(queue) {}
  void MailFile(const std::string& path, const std::string& targetFolder) override {
    queue_.MailFile(path, targetFolder);
  }
  void CannotSelect(Failure failure) override { queue_.Skip(std::move(failure)); }

 private:
  MailFileQueue& queue_;
};

}  // namespace

ExportReport CheckFromManifest(const std::string& manifest, const std::string& target, int threads,
                               RunLog* log, RunControl& control) {
  ExportReport report;
  report.run = RunKind::kManifestCheck;
  report.log = log;
  if (const std::optional<Error> e =
          ErrorFrom([&] { CheckManifest(manifest, target, threads, report, control); }))
    report.Fail({kManifestFailed, e->path, e->reason});  // it went, or broke, after the checks
  report.interrupted = control.stop.load();
  EndRunLog(report);
  return report;
}

ExportReport RunExport(const Selection& selection, const ExportOptions& options,
                       RunControl* given) {
  RunControl own;
  RunControl& control = given != nullptr ? *given : own;
  ExportReport report;
  report.run = options.kind;
  report.log = options.log;
  report.dates.on = options.dates;
  const std::string changed =
      std::string("changed while it was read (what was read was ") + TextOf(options.kind).did + ")";
  // Each thread that cuts has a cutter of its own; all count into the
  // control, from which the progress line is drawn.
  std::vector<Cutter> cutters(static_cast<std::size_t>(options.threads));
  const CutFunction cut = [&cutters, &control, &changed](
                              int worker, const std::string& path,
                              MessageSink& sink) -> std::optional<Failure> {
    std::optional<Failure> failure;
    try {
      if (SplitMailFile(path, cutters[static_cast<std::size_t>(worker)], sink, &control))
        failure = {kMailFileChanged, path, changed};
    } catch (const Error& e) {
      failure = {kMailFileNotRead, e.path, e.reason};
    } catch (const std::bad_alloc&) {
      // The system could not give room for a message this large: said so
      // plainly, not as the exception's name.
      failure = {kMailFileNotRead, path, "not enough memory"};
    } catch (const std::exception& e) {
      failure = {kMailFileNotRead, path, e.what()};
    }
    ++control.mailFiles;
    return failure;
  };
  std::unique_ptr<Job> job =
      MakeJob(options.kind, options.firstMade, options.manifest, selection.target, options.dates);
  std::unique_ptr<MailFileQueue> queue;
  if (options.threads == 1) {
    queue = MakeSequential(std::move(job), report, cut, control);
  } else {
    queue = MakeWorkers(std::move(job), options.threads, report, cut, control);
  }
  Enqueuer enqueuer(*queue);
  report.done.folders = WalkStore(selection, enqueuer, &control);
  queue->Finish();
  report.interrupted = control.stop.load();
  EndRunLog(report);
  return report;
}

}  // namespace plenvar
