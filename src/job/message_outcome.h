// What became of one message's work: the state its commit finishes.
#ifndef PLENVAR_JOB_MESSAGE_OUTCOME_H_
#define PLENVAR_JOB_MESSAGE_OUTCOME_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "base/mail_date.h"
#include "job/tally.h"
#include "report/report.h"

namespace plenvar {

// What a message's work left, for its commit to finish.
enum class MessageState {
  kNotWorked,  // no work was done for it
  kDone,       // its work went well and left nothing on the disk (a list, a verify)
  kFailed,     // its work failed: the outcome's `error` says why
  kTemporary,  // an export: written under its temporary name
  kPlaced,     // an export: written under its final name already
  kInPlace,    // an export: the file of the outcome's `number` held it already
};

// What became of one message's work, until its commit.
struct MessageOutcome {
  std::size_t size = 0;
  MessageState state = MessageState::kNotWorked;
  std::int64_t number = kNoNumber;  // the number its work was done for, if it needed one
  std::string error;                // why its work failed (kFailed)
  std::string digest;               // its SHA-256, when the run writes a manifest and it went well
  FailureKind errorKind = kMessageNotWritten;
  MessageTime time;  // a run with "/DATES": its time, and where that came from

  bool Failed() const { return state == MessageState::kFailed; }
  void Fail(std::string why) {
    state = MessageState::kFailed;
    error = std::move(why);
  }
};

}  // namespace plenvar

#endif  // PLENVAR_JOB_MESSAGE_OUTCOME_H_
