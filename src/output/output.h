// Where messages go. The walk hands a run's mail files to a MailFileQueue in
// walk order; the queue has each one cut and does the run's Job on every
// message (writes it, compares it, or only counts it), owns the run's
// numbering, and reports each outcome, in walk order, to the run's
// ExportReport. Two drivers run the same job: one thread that cuts and
// commits each message as it comes, and workers that cut whole mail files at
// once and commit in walk order; so any number of threads gives the tree, the
// report and the log of one.
#ifndef PLENVAR_OUTPUT_OUTPUT_H_
#define PLENVAR_OUTPUT_OUTPUT_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/control.h"
#include "extract/message_sink.h"
#include "report/report.h"

namespace plenvar {

// Cuts the mail file at `path` into `sink`, in the calling thread, which is
// worker `worker` (0 for the one thread); returns how the mail file ended
// (nothing when it was read to its end unchanged).
using CutFunction =
    std::function<std::optional<Failure>(int worker, const std::string& path, MessageSink& sink)>;

// Mail files handed over in walk order.
class MailFileQueue {
 public:
  virtual ~MailFileQueue() = default;
  virtual void MailFile(const std::string& source, const std::string& targetFolder) = 0;
  // A failure of the walk itself, reported in its place among the others.
  virtual void Skip(Failure failure) = 0;
  // Returns once every outcome is in the report; for an export, what was
  // written is then on stable storage, unless the run was asked to stop.
  virtual void Finish() = 0;
};

class Job;

// The plain sequential program: the walk's thread cuts each mail file and
// works and commits each message as it comes.
std::unique_ptr<MailFileQueue> MakeSequential(std::unique_ptr<Job> job, ExportReport& report,
                                              CutFunction cut, RunControl& control);

// How far the workers may run ahead; tests shrink them to cross every limit.
struct PoolLimits {
  // A mail file this large shares its messages with every worker.
  std::uint64_t large = 4 << 20;
  // Bytes of shared messages not yet worked on: enough to keep every worker busy
  // with messages of a few hundred KB; a cutter waits beyond it.
  std::size_t bytes = 32 << 20;
  // Mail files handed to the workers and not yet committed: the walk waits
  // beyond it (and, once there, until half of them are committed: a wake-up
  // per mail file committed cost a context switch each).
  std::size_t mailFiles = 256;
  // Messages published and not yet committed (so temporary files, for an
  // export); a worker that is not cutting the oldest mail file waits beyond it.
  std::size_t messages = 8192;
  // Messages in a batch, and shared bytes after which a batch goes out:
  // the lock and the wake-ups are paid per batch, not per message.
  std::size_t batch = 64;
  std::size_t batchBytes = 1 << 20;
};

// `workers` threads that each cut whole mail files, in walk order, and work
// on their messages; every outcome is committed in walk order.
std::unique_ptr<MailFileQueue> MakeWorkers(std::unique_ptr<Job> job, int workers,
                                           ExportReport& report, CutFunction cut,
                                           RunControl& control, const PoolLimits& limits = {});

}  // namespace plenvar

#endif  // PLENVAR_OUTPUT_OUTPUT_H_
