// What a kind of run does with each message (a Job), apart from how the
// messages reach it: both drivers, one thread or the workers, run the same job.
#ifndef PLENVAR_JOB_JOB_H_
#define PLENVAR_JOB_JOB_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "job/message_outcome.h"
#include "job/tally.h"
#include "job/unit.h"
#include "manifest/manifest.h"
#include "report/report.h"

namespace plenvar {

class Job {
 public:
  virtual ~Job() = default;
  // "/DATES": each message's time is found as it is worked on, and counted
  // at its commit.
  bool dates = false;
  // Whether Work runs at all (a dry run only counts), and whether it needs
  // the messages' numbers.
  virtual bool Works() const { return true; }
  virtual bool NeedsNumbers(const Unit& /*unit*/) const { return false; }
  // Whether a message whose work failed ends its mail file: the messages
  // after it are then not worked on.
  virtual bool FailureEndsMailFile() const { return false; }
  // In the walk's thread, as a mail file is handed over: its folder (an
  // export makes it, and tells what it made).
  virtual void BeginFolder(Unit& unit) { unit.folderExists = true; }
  // In any thread: message `k` (from 1) of `unit`, to be numbered `number`
  // unless a message before it fails (kNoNumber when it needs no number and
  // the number is not known yet). `final`: the number is the message's own
  // and its commit follows at once in this thread. Sets the outcome's state;
  // a failure may also be thrown (an Error: its reason), and the outcome's
  // errorKind then says what kind of failure it is.
  virtual void Work(const Unit& unit, std::int64_t k, std::int64_t number, std::string_view text,
                    MessageOutcome& outcome, bool final) = 0;
  // In walk order, one message at a time: `number` is its number, or
  // kNoNumber when it gets none (a message file before it in its mail file
  // could not be written, or the run stopped before its mail file), and then
  // its work is only undone. A failure thrown (an Error: its reason) is the
  // message file's: what the commit made is taken back first.
  virtual void Commit(const Unit& unit, std::int64_t k, std::int64_t number,
                      MessageOutcome& outcome, Tally& tally) = 0;
  // A mail file the run stopped before, whose messages were undone: what was
  // made for it is to be taken back.
  virtual void Undo(const Unit& /*unit*/) {}
  // Once every message is committed; `stopped`: the run was asked to stop.
  virtual void Finish(Tally& tally, bool stopped) = 0;
};

std::unique_ptr<Job> MakeWriteJob(const std::string& firstMade, Manifest* manifest,
                                  const std::string& target);
std::unique_ptr<Job> MakeListJob();
std::unique_ptr<Job> MakeVerifyJob(Manifest* manifest);

// In the walk's thread, as a mail file is handed over: the job's BeginFolder
// and, with "/DATES", the mail file's own time, read once for its messages.
void BeginUnit(Job& job, Unit& unit);
// With "/DATES", the time of the message `text` of `unit` into the outcome:
// from its header, else the mail file's. Where the text is, never copied.
void FindTime(const Job& job, const Unit& unit, std::string_view text, MessageOutcome& outcome);
// With "/DATES", at a commit: the time of a message worked on that got a
// number, in the report's counts.
void CountTime(const Job& job, std::int64_t number, const MessageOutcome& outcome, Tally& tally);

// The report of a unit whose messages are all committed: how its mail file
// went, or the walk's failure. Both drivers end each unit so.
void ReportUnit(Unit& unit, Tally& tally);

// Work and Commit with any exception turned into the message's failure, so
// that no thread of the run is left waiting for one that threw: the only
// places where a job's failure is caught.
void WorkSafely(Job& job, const Unit& unit, std::int64_t k, std::int64_t number,
                std::string_view text, MessageOutcome& outcome, bool final);
void CommitSafely(Job& job, const Unit& unit, std::int64_t k, std::int64_t number,
                  MessageOutcome& outcome, Tally& tally);

// The job of a run of `kind`. `firstMade` is the first level of the target
// made for this run, if any (see TargetFolders): no folder below it holds an
// earlier run's message files, so none is looked for there. `manifest`, if
// any, gets every message file an export leaves, or a verify finds matching.
// `target`: the target root, below which no level of a folder an export
// writes into may be a link. `dates` ("/DATES"): each message file gets, or
// is checked for, its message's time.
std::unique_ptr<Job> MakeJob(RunKind kind, const std::string& firstMade = "",
                             Manifest* manifest = nullptr, const std::string& target = "",
                             bool dates = false);

}  // namespace plenvar

#endif  // PLENVAR_JOB_JOB_H_
