// The workers behind a MailFileQueue: what a kind of run does with each
// message (a Job), apart from how the workers share the mail files (pool.cc).
#ifndef PLENVAR_OUTPUT_POOL_H_
#define PLENVAR_OUTPUT_POOL_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "output/output.h"
#include "output/tally.h"

namespace plenvar {

// What became of one message before its commit.
struct MessageOutcome {
  std::size_t size = 0;
  bool worked = false;  // false: no work was done for it (a dry run; or after a failure)
  std::string error;    // why its work failed; empty when it went well
  FailureKind errorKind = kMessageNotWritten;
  std::int64_t inPlace = 0;  // an export: the number whose file held it already
};

// One mail file of the walk, or one failure of the walk, in walk order.
struct Unit {
  std::int64_t mailFile = 0;  // its place among the walk's mail files, from 1; 0: a failure
  std::string source, folder;
  bool folderExists = false;
  bool freshFolder = false;        // made by this run: it holds no earlier run's message file
  std::string madeFolder;          // the first level of its folder this run made for it, if any
  std::optional<Failure> failure;  // the walk's failure, or how the mail file ended
};

// What a kind of run does with each message: write it under a temporary name
// and rename it into place at its commit (an export), compare it with the
// message file of its number (a verify), or nothing (a dry run).
class Job {
 public:
  virtual ~Job() = default;
  // Whether Work runs at all, and whether it needs the messages' numbers.
  virtual bool Works() const { return true; }
  virtual bool NeedsNumbers(const Unit& /*unit*/) const { return false; }
  // In the walk's thread, as a mail file is handed over: its folder (an
  // export makes it, and tells what it made).
  virtual void BeginFolder(Unit& unit) { unit.folderExists = true; }
  // In any worker: message `k` (from 1) of `unit`, numbered `number` when the
  // job needs numbers (then the number it gets unless a message before it
  // fails to be written). Sets outcome.error when it fails.
  virtual void Work(const Unit& unit, std::int64_t k, std::int64_t number, std::string_view text,
                    MessageOutcome& outcome) = 0;
  // In walk order, one message at a time; `keep` is false for the messages of
  // a mail file after a signal stopped the run, whose work is only undone.
  virtual void Commit(const Unit& unit, std::int64_t k, MessageOutcome& outcome, Tally& tally,
                      bool keep) = 0;
  // A mail file after a signal stopped the run, whose messages were undone:
  // takes back what was made for it.
  virtual void Undo(const Unit& /*unit*/) {}
  // Once every message is committed.
  virtual void Finish(Tally& tally) = 0;
};

std::unique_ptr<Job> MakeWriteJob(const std::string& newTarget);
std::unique_ptr<Job> MakeListJob();
std::unique_ptr<Job> MakeVerifyJob();

}  // namespace plenvar

#endif  // PLENVAR_OUTPUT_POOL_H_
