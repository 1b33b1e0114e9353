#include "output/job.h"

#include <exception>

namespace plenvar {

void ReportUnit(Unit& unit, Tally& tally) {
  if (unit.mailFile == 0) {
    tally.Report().Fail(std::move(*unit.failure));
  } else {
    tally.EndMailFile(unit.source, unit.folder, std::move(unit.failure));
  }
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
                             const std::string& target) {
  switch (kind) {
    case RunKind::kList:
      return MakeListJob();
    case RunKind::kVerify:
    case RunKind::kManifestCheck:
      return MakeVerifyJob(manifest);
    case RunKind::kExport:
      break;
  }
  return MakeWriteJob(newTarget, manifest, target);
}

}  // namespace plenvar
