#include "report/report.h"

#include <cstdio>

#include "platform/files.h"
#include "platform/process.h"
#include "report/run_log.h"

namespace plenvar {

const RunKindText kRunText[kRunKinds] = {
    {"Export", "exported"},
    {"List", "counted"},
    {"Verify", "compared"},
    {"Verify", "checked"},
};

// Export, list, verify, manifest check. A kind no run of a column meets
// still has words true for it.
const FailureKindText kFailureText[kFailureKinds] = {
    {"folder-not-opened",
     {"Folders that could not be opened: ", "Folders that could not be opened: ",
      "Folders that could not be opened: ", "Folders that could not be opened: "}},
    {"mail-file-not-read",
     {"Mail files that could not be read: ", "Mail files that could not be read: ",
      "Mail files that could not be read: ", "Mail files that could not be read: "}},
    {"message-not-written",
     {"Message files that could not be written: ", "Messages that could not be counted: ",
      "Message files that could not be compared: ", "Message files that could not be checked: "}},
    {"not-regular-file",
     {"Selected entries that are not regular files: ",
      "Selected entries that are not regular files: ",
      "Selected entries that are not regular files: ",
      "Listed entries that are not regular files: "}},
    {"mail-file-changed",
     {"Mail files that changed while they were read: ",
      "Mail files that changed while they were read: ",
      "Mail files that changed while they were read: ",
      "Mail files that changed while they were read: "}},
    {"not-flushed",
     {"Target file systems that could not be flushed to disk: ",
      "Target file systems that could not be flushed to disk: ",
      "Target file systems that could not be flushed to disk: ",
      "Target file systems that could not be flushed to disk: "}},
    {"log-not-written",
     {"Log files that could not be written: ", "Log files that could not be written: ",
      "Log files that could not be written: ", "Log files that could not be written: "}},
    {"message-missing",
     {"Message files that are missing: ", "Message files that are missing: ",
      "Message files that are missing: ", "Message files that are missing: "}},
    {"message-differs",
     {"Message files that differ from the export: ", "Message files that differ from the export: ",
      "Message files that differ from the export: ",
      "Message files that differ from the manifest: "}},
    {"extra-file",
     {"Files in the target that the export would not have written: ",
      "Files in the target that the export would not have written: ",
      "Files in the target that the export would not have written: ",
      "Files in the target that the manifest does not list: "}},
    {"manifest-failed",
     {"Manifests that could not be written or read: ",
      "Manifests that could not be written or read: ",
      "Manifests that could not be written or read: ",
      "Manifests that could not be written or read: "}},
    {"inside-target",
     {"Mail files inside the target, not exported: ", "Mail files inside the target, not counted: ",
      "Mail files inside the target, not compared: ",
      "Mail files inside the target, not checked: "}},
    {"message-time-differs",
     {"Message files whose time is not their message's: ",
      "Message files whose time is not their message's: ",
      "Message files whose time is not their message's: ",
      "Message files whose time is not their message's: "}},
};

const char* LabelOf(FailureKind kind, RunKind run) {
  return kFailureText[kind].label[static_cast<int>(run)];
}

Failure NotWritten(const std::string& messageFile, std::string reason,
                   const std::string& mailFile) {
  reason.append(" (the rest of ").append(platform::DisplayPath(mailFile));
  return {kMessageNotWritten, messageFile, reason.append(" was not exported)")};
}

void ExportReport::Fail(Failure failure) {
  ++counts[failure.kind];
  ++total;
  if (log != nullptr)
    LogLine(*log, {"fail", kFailureText[failure.kind].logName, platform::DisplayPath(failure.path),
                   failure.reason});
  if (failures.size() < kListed) failures.push_back(std::move(failure));
}

void ExportReport::Removed(const std::string& path, const std::string& what) {
  if (log != nullptr) LogLine(*log, {"removed", platform::DisplayPath(path), what});
}

void ExportReport::MailFileDone(const std::string& source, const std::string& targetFolder,
                                std::int64_t first, std::int64_t count, std::int64_t size) {
  ++done.mailFiles;
  done.messages += count;
  done.bytes += size;
  if (log == nullptr) return;
  const std::string from = count > 0 ? std::to_string(first) : "";
  const std::string to = count > 0 ? std::to_string(first + count - 1) : "";
  LogLine(*log, {"mail", platform::DisplayPath(source), platform::DisplayPath(targetFolder), from,
                 to, std::to_string(count), std::to_string(size)});
}

void EndRunLog(ExportReport& report) {
  if (report.log == nullptr) return;
  RunLog& log = *report.log;
  if (report.interrupted != 0)
    LogLine(log, {"interrupted", platform::SignalName(report.interrupted)});
  if (!report.manifest.path.empty())
    LogLine(log, {"manifest", platform::DisplayPath(report.manifest.path), report.manifest.digest});
  if (report.dates.on)
    LogLine(log,
            {"dates", std::to_string(report.dates.sources[0]),
             std::to_string(report.dates.sources[1]), std::to_string(report.dates.sources[2])});
  // Asked before the totals, so that they count it: a log moved away keeps
  // every line in the moved file; one removed, or replaced by a file renamed
  // over it (a message file the run writes), has lost them.
  bool removed = false;
  if (log.error.empty() && !platform::StillAtItsPath(log.file, &removed)) {
    report.Fail({kLogNotWritten, log.file.path,
                 removed ? "removed or replaced during the run (its lines are lost)"
                         : "moved away during the run (its lines are in the moved file)"});
  }
  std::string line = "total\t" + std::to_string(report.done.folders) + "\t" +
                     std::to_string(report.done.mailFiles) + "\t" +
                     std::to_string(report.done.messages) + "\t" +
                     std::to_string(report.done.bytes);
  // Scripts read the fields by place: the manifest's failure, newer, is
  // its `fail` line alone.
  for (int kind = 0; kind < kManifestFailed; ++kind)
    line += "\t" + std::to_string(report.counts[kind]);
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - log.started;
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "\t%.3f\t", elapsed.count());
  // Last, so that every field before it keeps its place.
  log.pending += line + seconds + std::to_string(report.done.inPlace) + "\t" +
                 std::to_string(report.counts[kInsideTarget]) + "\t" +
                 std::to_string(report.counts[kMessageTimeDiffers]) + "\n";
  FlushRunLog(log);
  if (!log.error.empty()) report.Fail({kLogNotWritten, log.file.path, log.error});
}

}  // namespace plenvar
