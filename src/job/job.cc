#include "job/job.h"

#include <algorithm>
#include <exception>

#include "platform/files.h"
#include "target/message_names.h"

namespace plenvar {

void ReportUnit(Unit& unit, Tally& tally) {
  if (unit.mailFile == 0) {
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
  if (job.dates && number != 0 && outcome.worked) tally.Report().CountTime(outcome.time.source);
}

void WorkSafely(Job& job, const Unit& unit, std::int64_t k, std::int64_t number,
                std::string_view text, MessageOutcome& outcome, bool final) {
  try {
    job.Work(unit, k, number, text, outcome, final);
  } catch (const std::exception& e) {
    outcome.error = e.what();
  }
  outcome.worked = true;
}

void CommitSafely(Job& job, const Unit& unit, std::int64_t k, std::int64_t number,
                  MessageOutcome& outcome, Tally& tally) {
  try {
    job.Commit(unit, k, number, outcome, tally);
  } catch (const std::exception& e) {
    if (number != 0) tally.NotWritten(MessageFilePath(unit.folder, number), e.what(), unit.source);
  }
}

std::unique_ptr<Job> MakeJob(RunKind kind, const std::string& newTarget, Manifest* manifest,
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
      job = MakeWriteJob(newTarget, manifest, target);
      break;
  }
  job->dates = dates;
  return job;
}

}  // namespace plenvar
