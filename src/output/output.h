// Where messages go. A walk that cuts in its own thread hands every event of
// a run to one Output, in walk order; a walk with workers hands its mail files
// to a MailFileQueue. Either writes the message files, compares them (a
// verify) or only counts them (a dry run), owns the run's numbering and
// reports each outcome, in walk order, to the run's ExportReport.
#ifndef PLENVAR_OUTPUT_OUTPUT_H_
#define PLENVAR_OUTPUT_OUTPUT_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "output/message_names.h"
#include "platform/process.h"
#include "report/report.h"

namespace plenvar {

// Where the cutter hands the messages of one mail file.
class MessageSink {
 public:
  virtual ~MessageSink() = default;
  // The mail file is open and this large, before any of its messages.
  virtual void Opened(std::uint64_t /*size*/) {}
  // The next message. When `owner` is not null (a large message) the message
  // lies in *owner, which is the sink's from then on: it may take the buffer
  // to spare a copy. The cutter goes on in a buffer of its own either way.
  virtual void Message(std::string_view text, std::string* owner) = 0;
  // Asked once a block: whether to stop cutting, since a signal asked the run
  // to stop.
  virtual bool Stopping() { return platform::Interruption() != 0; }
};

// The events of a run, in walk order, from a walk that cuts in its own thread.
class Output : public MessageSink {
 public:
  // The messages of mail file `source` follow, for `targetFolder`.
  virtual void BeginMailFile(const std::string& source, const std::string& targetFolder) = 0;
  // The mail file ended: read to its end, or `failure` says why not. Its
  // failure is reported unless one of its message files could not be
  // written, which ended it first.
  virtual void EndMailFile(std::optional<Failure> failure) = 0;
  // A failure of the walk itself, reported in its place among the others.
  virtual void Skip(Failure failure) = 0;
  // Returns once every outcome is in the report. What was written is then
  // on stable storage, unless a signal asked the run to stop.
  virtual void Finish() = 0;
};

// A dry run: numbers and counts every message, and writes nothing.
std::unique_ptr<Output> MakeListOutput(ExportReport& report);
// Writes each message as it comes, under a temporary name, renamed into
// place; a message file already in place with exactly the message's text is
// left as it is. `newTarget` is the first level of the target made for this
// run, if any (see TargetFolders).
std::unique_ptr<Output> MakeSerialOutput(ExportReport& report, const std::string& newTarget = "");

// What a run does with the messages it cuts: writes them; only counts them
// (a dry run, which creates nothing in the target); or compares them with
// the message files in the target.
enum class RunKind { kExport, kList, kVerify };

// Cuts the mail file at `path` into `sink`, in the calling thread, which is
// worker `worker`; returns how the mail file ended (nothing when it was read
// to its end unchanged). The walk gives this to the workers.
using CutFunction =
    std::function<std::optional<Failure>(int worker, const std::string& path, MessageSink& sink)>;

// Mail files handed over in walk order, each cut by one of several workers,
// which also write (or compare) its messages; every outcome is committed in
// walk order, so the numbers, the tree, the report and the log are those of
// one thread cutting and writing each message as it comes.
class MailFileQueue {
 public:
  virtual ~MailFileQueue() = default;
  virtual void MailFile(const std::string& source, const std::string& targetFolder) = 0;
  // A failure of the walk itself, reported in its place among the others.
  virtual void Skip(Failure failure) = 0;
  // Returns once every outcome is in the report; for an export, what was
  // written is then on stable storage, unless a signal asked the run to stop.
  virtual void Finish() = 0;
};

// `workers` threads doing a run of `kind`, cutting with `cut`. `tick` is
// called in the walk's thread now and then while it waits for them.
// `newTarget` as for MakeSerialOutput.
std::unique_ptr<MailFileQueue> MakeWorkers(RunKind kind, int workers, ExportReport& report,
                                           CutFunction cut, std::function<void()> tick,
                                           const std::string& newTarget = "");

}  // namespace plenvar

#endif  // PLENVAR_OUTPUT_OUTPUT_H_
