#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <unordered_set>
#include <utility>

#include "extract/extract.h"
#include "walk/parallel_output.h"
#include "walk/run_log.h"
#include "walk/walk.h"

namespace plenvar {

const char* const kFailureNames[kFailureKinds] = {
    "folder-not-opened", "mail-file-not-read", "message-not-written", "not-regular-file",
    "mail-file-changed", "not-flushed",        "log-not-written"};

void ExportReport::Fail(Failure failure) {
  ++counts[failure.kind];
  ++total;
  if (log != nullptr)
    LogLine(*log, {"fail", kFailureNames[failure.kind], platform::DisplayPath(failure.path),
                   failure.reason});
  if (failures.size() < kListed) failures.push_back(std::move(failure));
}

Failure NotWritten(const std::string& messageFile, std::string reason,
                   const std::string& mailFile) {
  reason.append(" (the rest of ").append(platform::DisplayPath(mailFile));
  return {kMessageNotWritten, messageFile, reason.append(" was not exported)")};
}

void ExportReport::MailFileDone(const std::string& source, const std::string& targetFolder,
                                std::int64_t first, std::int64_t count, std::int64_t size) {
  ++mailFiles;
  messages += count;
  bytes += size;
  if (log == nullptr) return;
  const std::string from = count > 0 ? std::to_string(first) : "";
  const std::string to = count > 0 ? std::to_string(first + count - 1) : "";
  LogLine(*log, {"mail", platform::DisplayPath(source), platform::DisplayPath(targetFolder), from,
                 to, std::to_string(count), std::to_string(size)});
}

namespace {

struct Walk {
  Walk(const std::string& source, const std::string& targetDirectory, const std::string& fileMask)
      : sourceRoot(source), targetRoot(targetDirectory), mask(fileMask) {}
  const std::string& sourceRoot;
  const std::string& targetRoot;
  const std::string& mask;
  ExportReport report;
  std::vector<platform::FolderId> inside;  // the folders on the current walk path
  // The target root once it exists: the walk never enters it, so that a
  // target inside the source is not exported again by the next run.
  std::optional<platform::FolderId> target;
  std::unordered_set<std::string> ensured;  // target folders known to exist
  std::vector<std::string> targetFolders;   // the same, in the order they were made
  bool listOnly = false;
  std::int64_t folders = 0;
  // With writer threads, messages and failures go through here in walk order.
  ParallelOutput* output = nullptr;
  const std::string* mailFile = nullptr;  // the one being cut, for the sink
  MessageSink sink;
  // Without them, the messages of the mail file being cut, counted here.
  std::int64_t first = 0, messages = 0, bytes = 0;
  Progress progress;
  std::uint64_t fileBytes = 0;  // read so far of the mail file being cut
  std::function<void(const Progress&)> onProgress;
  PassedFile log;  // never to be exported
};

void Report(Walk& walk, Failure failure) {
  if (walk.output != nullptr) {
    ReportInOrder(*walk.output, std::move(failure));
  } else {
    walk.report.Fail(std::move(failure));
  }
}

// A name with a "\" cannot be told apart from a path in the program's text.
Failure Backslashed(FailureKind kind, const std::string& folderPath, const std::string& name) {
  return {kind, folderPath, "\"" + name + "\": a name that holds a \"\\\""};
}

void LearnTarget(Walk& walk) {
  platform::FolderId id;
  if (!walk.target && platform::FolderIdOf(walk.targetRoot, &id)) walk.target = id;
}

void ExportFile(Walk& walk, const std::string& folderPath, const platform::Entry& file,
                bool logHere) {
  if (logHere && IsPassedFile(walk.log, file)) return;
  if (file.name.find('\\') != std::string::npos) {
    Report(walk, Backslashed(kMailFileNotRead, folderPath, file.name));
    return;
  }
  if (file.kind != platform::EntryKind::kFile) {
    Report(walk, {kNotRegularFile, file.path, "not a regular file"});
    return;
  }
  const std::string targetFolder = TargetFolderOf(walk.sourceRoot, walk.targetRoot, folderPath);
  // A folder made or found once in this run is not checked again: on a store
  // of one message per mail file, checking every level of the path for every
  // file was six stat calls a message.
  bool folderExists = walk.ensured.count(targetFolder) > 0;
  if (!folderExists && !walk.listOnly) {
    try {
      EnsureFolderPath(targetFolder);
      walk.ensured.insert(targetFolder);
      walk.targetFolders.push_back(targetFolder);
      folderExists = true;
    } catch (const Error&) {
      // The first message file fails to open unless the folder exists after all.
    }
    LearnTarget(walk);
  }
  std::optional<Failure> failure;
  walk.first = walk.messages = walk.bytes = 0;
  walk.fileBytes = 0;
  try {
    walk.mailFile = &file.path;
    SplitMailFile(file.path, targetFolder, folderExists, &walk.sink, &walk.fileBytes);
  } catch (const WriteError& e) {
    failure = NotWritten(e.path, e.reason, file.path);
  } catch (const ChangedError& e) {
    failure = {kMailFileChanged, e.path, e.reason + " (what was read was exported)"};
  } catch (const Error& e) {
    failure = {kMailFileNotRead, e.path, e.reason};
  } catch (const std::exception& e) {
    failure = {kMailFileNotRead, file.path, e.what()};
  }
  if (walk.onProgress) {
    ++walk.progress.mailFiles;
    walk.progress.bytes += static_cast<std::int64_t>(walk.fileBytes);
    walk.onProgress(walk.progress);
  }
  if (walk.output != nullptr) {
    EndMailFile(*walk.output, file.path, targetFolder, std::move(failure));
    return;
  }
  walk.report.MailFileDone(file.path, targetFolder, walk.first, walk.messages, walk.bytes);
  if (failure) walk.report.Fail(std::move(*failure));
}

// Subfolders first, with everything below them, then the folder's own files.
void ExportFolder(Walk& walk, const std::string& folderPath) {
  platform::Folder folder;
  try {
    folder = platform::OpenFolder(folderPath);
  } catch (const Error& e) {
    Report(walk, {kFolderNotOpened, e.path, e.reason});
    return;
  }
  const Passing passing = PassesBy(walk.inside, walk.target, folder.id);
  if (passing == Passing::kLoop)
    Report(walk, {kFolderNotOpened, folderPath, "a link back to a folder above it"});
  if (passing != Passing::kNone) return;
  walk.inside.push_back(folder.id);
  ++walk.folders;
  for (const platform::Entry& sub : folder.folders) {
    if (platform::Interruption() != 0) break;
    if (sub.name.find('\\') != std::string::npos) {
      Report(walk, Backslashed(kFolderNotOpened, folderPath, sub.name));
    } else {
      ExportFolder(walk, sub.path);
    }
  }
  const bool logHere = walk.log.folder && folder.id == *walk.log.folder;
  for (const platform::Entry& file : folder.files) {
    if (platform::Interruption() != 0) break;
    if (MatchesMask(file.name, walk.mask)) ExportFile(walk, folderPath, file, logHere);
  }
  walk.inside.pop_back();
}

}  // namespace

PassedFile LearnPassedFile(const std::string& path) {
  PassedFile passed;
  const std::size_t slash = path.find_last_of('\\');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  passed.name = slash == std::string::npos ? path : path.substr(slash + 1);
  platform::FolderId id;
  if (platform::EntryIdOf(path, &id)) passed.id = id;
  if (passed.id && platform::FolderIdOf(folder, &id)) passed.folder = id;
  return passed;
}

bool IsPassedFile(const PassedFile& passed, const platform::Entry& file) {
  platform::FolderId id;
  return passed.id && file.name.size() == passed.name.size() &&
         FindIgnoringCase(file.name, passed.name) == 0 && platform::EntryIdOf(file.path, &id) &&
         id == *passed.id;
}

Passing PassesBy(const std::vector<platform::FolderId>& inside,
                 const std::optional<platform::FolderId>& target,
                 const platform::FolderId& folder) {
  // Identity, not path text: a link, another spelling or letter case of the
  // target is still the target.
  if (!inside.empty() && target && folder == *target && !(inside.front() == *target))
    return Passing::kTarget;
  if (std::find(inside.begin(), inside.end(), folder) != inside.end()) return Passing::kLoop;
  return Passing::kNone;
}

namespace {

// One flush per file system written to, however many folders it holds.
void FlushTargets(Walk& walk) {
  std::vector<std::uint64_t> flushed;
  for (const std::string& folder : walk.targetFolders) {
    platform::FolderId id;
    if (!platform::FolderIdOf(folder, &id)) continue;  // never made: nothing in it to flush
    if (std::find(flushed.begin(), flushed.end(), id.volume) != flushed.end()) continue;
    flushed.push_back(id.volume);
    try {
      platform::FlushFileSystem(folder);
    } catch (const Error& e) {
      walk.report.Fail(
          {kNotFlushed, e.path, e.reason + " (message files written there may not be on disk)"});
    }
  }
}

// Progress moves with every message, so that it moves inside a large mailbox.
void MessageCut(Walk& walk) {
  ++walk.progress.messages;
  if (!walk.onProgress) return;
  Progress now = walk.progress;
  now.bytes += static_cast<std::int64_t>(walk.fileBytes);
  walk.onProgress(now);
}

// Counts a message of the mail file being cut: numbered `number`, `size` bytes.
void Tally(Walk& walk, std::int64_t number, std::size_t size) {
  if (walk.messages++ == 0) walk.first = number;
  walk.bytes += static_cast<std::int64_t>(size);
}

void LogTotals(const ExportReport& r, RunLog& log) {
  std::string line = "total\t" + std::to_string(r.folders) + "\t" + std::to_string(r.mailFiles) +
                     "\t" + std::to_string(r.messages) + "\t" + std::to_string(r.bytes);
  for (const std::int64_t count : r.counts) line += "\t" + std::to_string(count);
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - log.started;
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "\t%.3f\n", elapsed.count());
  log.pending += line + seconds;
  FlushRunLog(log);
}

}  // namespace

ExportReport RunExport(const std::string& sourceDirectory, const std::string& targetDirectory,
                       const std::string& fileMask, const ExportOptions& options) {
  Walk walk(sourceDirectory, targetDirectory, fileMask);
  walk.listOnly = options.listOnly;
  walk.onProgress = options.onProgress;
  walk.report.log = options.log;
  if (options.log != nullptr) walk.log = LearnPassedFile(options.log->file.path);
  LearnTarget(walk);
  ParallelOutputPtr output;
  if (options.listOnly) {
    walk.sink = [&walk](std::string_view message, const std::string&, bool, std::string*) {
      MessageCut(walk);
      Tally(walk, ++MessageCount, message.size());
    };
  } else if (options.writers > 1) {
    output = StartParallelOutput(options.writers, &walk.report);
    walk.output = output.get();
    walk.sink = [&walk](std::string_view message, const std::string& folder, bool exists,
                        std::string* owner) {
      MessageCut(walk);
      HandOver(*walk.output, *walk.mailFile, message, folder, exists, owner);
    };
  } else {
    walk.sink = [&walk](std::string_view message, const std::string& folder, bool exists,
                        std::string*) {
      // Once a message file of this mail file is written, its folder exists.
      MessageCut(walk);
      WriteMessageFile(message, folder, exists || walk.messages > 0);
      Tally(walk, MessageCount, message.size());
    };
  }
  ExportFolder(walk, sourceDirectory);
  output.reset();  // waits for every message file
  walk.output = nullptr;
  walk.report.folders = walk.folders;
  // A stopped run is run again, which writes it all anew: no flush to wait for.
  walk.report.interrupted = platform::Interruption();
  if (walk.report.interrupted == 0) FlushTargets(walk);
  if (options.log != nullptr) {
    RunLog& log = *options.log;
    if (walk.report.interrupted != 0)
      LogLine(log, {"interrupted", platform::SignalName(walk.report.interrupted)});
    LogTotals(walk.report, log);
    // A message file renamed over the log, or anyone removing it, takes its
    // lines with it: the run must not claim them written.
    if (log.error.empty() && !platform::StillAtItsPath(log.file))
      log.error = "replaced or removed during the run (its lines are lost)";
    if (!log.error.empty()) walk.report.Fail({kLogNotWritten, log.file.path, log.error});
  }
  return walk.report;
}

}  // namespace plenvar
