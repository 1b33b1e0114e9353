// The writer threads behind the parallel output and the verify: the walk's
// thread hands over each message, a pool thread works on it, and its outcome
// is committed in cut order, one at a time, so the report is that of one
// thread. A PoolJob says what the work and the commit are.
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

// The mail file a message comes from and its target folder: one for all the
// items of a mail file, where a copy of both names per item cost the cutting
// thread two allocations a message, freed by another thread.
struct MailFileNames {
  std::string mailFile;
  std::string folder;
};

struct Item {
  enum Kind { kMessage, kEndOfFile, kFailure } kind;
  bool done = false;
  std::shared_ptr<const MailFileNames> names;
  // A message:
  std::string temporary;  // where it is written before its commit
  // An export: its place in cut order, which names the temporary file; a
  // verify: the number an export gives it.
  std::int64_t number = 0;
  std::string data;       // holds the text
  std::string_view text;  // the message within data
  std::size_t bytes = 0;  // counted against the cap on waiting bytes
  std::size_t size = 0;   // of the message
  bool folderExists = false;
  std::string error;  // why the work failed; empty when it went well
  FailureKind errorKind = kMessageNotWritten;
  // The end of a mail file, or a failure of the walk:
  std::optional<Failure> failure;
};

class PoolJob {
 public:
  virtual ~PoolJob() = default;
  // In the walk's thread: messages for `folder` follow; whether it exists.
  virtual bool BeginFolder(const std::string& folder) = 0;
  // In the walk's thread, as a message is handed over.
  virtual void Prepare(Item& item) = 0;
  // In a pool thread. The message's text is let go of after it.
  virtual void Work(Item& item) = 0;
  // In cut order, one message at a time.
  virtual void Commit(Item& item, Tally& tally) = 0;
  // Once every item is committed.
  virtual void Finish(Tally& tally) = 0;
};

std::unique_ptr<Output> MakePooledOutput(int writers, ExportReport& report,
                                         std::unique_ptr<PoolJob> job);

}  // namespace plenvar

#endif  // PLENVAR_OUTPUT_POOL_H_
