#include "job/job.h"

#include <algorithm>
#include <exception>
#include <string>
#include <utility>

#include "base/error.h"
#include "platform/files.h"
#include "target/message_names.h"

namespace plenvar {

void ReportUnit(Unit& unit, Tally& tally) {
  if (!unit.mailFile) {
    tally.Report().Fail(std::move(*unit.failure));
  } else {
    tally.EndMailFile(unit.source, unit.folder, std::move(unit.failure));
  }
}

void BeginUnit(Job& job, Unit& unit) {
  job.BeginFolder(unit);
  if (!job.dates) return;
  std::int64_t seconds = 0;
  // A mail file without one cannot be read either: its failure says so.
  if (platform::ModifiedSecondsOf(unit.source, &seconds))
    unit.mailFileTime = std::clamp<std::int64_t>(seconds, 0, kLatestMailTime);
}

void FindTime(const Job& job, const Unit& unit, std::string_view text, MessageOutcome& outcome) {
  if (!job.dates) return;
  outcome.time =
      FindMessageTime(text).value_or(MessageTime{TimeSource::kMailFile, unit.mailFileTime});
}

void CountTime(const Job& job, std::int64_t number, const MessageOutcome& outcome, Tally& tally) {
  if (job.dates && number != kNoNumber && outcome.state != MessageState::kNotWorked)
    tally.Report().dates.Count(outcome.time.source);
}

void WorkSafely(Job& job, const Unit& unit, std::int64_t k, std::int64_t number,
                std::string_view text, MessageOutcome& outcome, bool final) {
  try {
    job.Work(unit, k, number, text, outcome, final);
  } catch (const Error& e) {
    outcome.Fail(e.reason);
  } catch (const std::exception& e) {
    outcome.Fail(e.what());
  }
}

void CommitSafely(Job& job, const Unit& unit, std::int64_t k, std::int64_t number,
                  MessageOutcome& outcome, Tally& tally) {
  std::string reason;
  try {
    job.Commit(unit, k, number, outcome, tally);
    return;
  } catch (const Error& e) {
    reason = e.reason;
  } catch (const std::exception& e) {
    reason = e.what();
  }
  if (number != kNoNumber)
    tally.NotWritten(MessageFilePath(unit.folder, number), std::move(reason), unit.source);
}

std::unique_ptr<Job> MakeJob(RunKind kind, const std::string& firstMade, Manifest* manifest,
                             const std::string& target, bool dates) {
  std::unique_ptr<Job> job;
  switch (kind) {
    case RunKind::kList:
      job = MakeListJob();
      break;
    case RunKind::kVerify:
    case RunKind::kManifestCheck:
      job = MakeVerifyJob(manifest);
      break;
    case RunKind::kExport:
      job = MakeWriteJob(firstMade, manifest, target);
      break;
  }
  job->dates = dates;
  return job;
}

}  // namespace plenvar
