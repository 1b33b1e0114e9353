#include <algorithm>
#include <optional>
#include <unordered_set>
#include <utility>

#include "extract/extract.h"
#include "walk/parallel_output.h"
#include "walk/walk.h"

namespace plenvar {

void ExportReport::Fail(Failure failure) {
  ++counts[failure.kind];
  ++total;
  if (failures.size() < kListed) failures.push_back(std::move(failure));
}

namespace {

struct Walk {
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
  // With writer threads, messages and failures go through here in walk order.
  ParallelOutput* output = nullptr;
  const std::string* mailFile = nullptr;  // the one being cut, for the sink
  MessageSink sink;
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

void ExportFile(Walk& walk, const std::string& folderPath, const platform::Entry& file) {
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
  if (!folderExists) {
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
  try {
    walk.mailFile = &file.path;
    SplitMailFile(file.path, targetFolder, folderExists, walk.output ? &walk.sink : nullptr);
  } catch (const WriteError& e) {
    failure = {
        kMessageNotWritten, e.path,
        e.reason + " (the rest of " + platform::DisplayPath(file.path) + " was not exported)"};
  } catch (const ChangedError& e) {
    failure = {kMailFileChanged, e.path, e.reason + " (what was read was exported)"};
  } catch (const Error& e) {
    failure = {kMailFileNotRead, e.path, e.reason};
  } catch (const std::exception& e) {
    failure = {kMailFileNotRead, file.path, e.what()};
  }
  if (walk.output != nullptr) {
    EndMailFile(*walk.output, std::move(failure));
  } else if (failure) {
    walk.report.Fail(std::move(*failure));
  }
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
  // Identity, not path text: a link, another spelling or letter case of the
  // target is still the target. A target equal to the source is walked.
  if (!walk.inside.empty() && walk.target && folder.id == *walk.target &&
      !(walk.inside.front() == *walk.target)) {
    return;
  }
  if (std::find(walk.inside.begin(), walk.inside.end(), folder.id) != walk.inside.end()) {
    Report(walk, {kFolderNotOpened, folderPath, "a link back to a folder above it"});
    return;
  }
  walk.inside.push_back(folder.id);
  for (const platform::Entry& sub : folder.folders) {
    if (sub.name.find('\\') != std::string::npos) {
      Report(walk, Backslashed(kFolderNotOpened, folderPath, sub.name));
    } else {
      ExportFolder(walk, sub.path);
    }
  }
  for (const platform::Entry& file : folder.files) {
    if (MatchesMask(file.name, walk.mask)) ExportFile(walk, folderPath, file);
  }
  walk.inside.pop_back();
}

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

}  // namespace

ExportReport RunExport(const std::string& sourceDirectory, const std::string& targetDirectory,
                       const std::string& fileMask, int writers) {
  Walk walk{sourceDirectory, targetDirectory, fileMask, {}, {}, {}, {}, {}, nullptr, nullptr, {}};
  LearnTarget(walk);
  if (writers > 1) {
    ParallelOutputPtr output = StartParallelOutput(writers, &walk.report);
    walk.output = output.get();
    walk.sink = [&walk](std::string_view message, const std::string& folder, bool exists,
                        std::string* owner) {
      HandOver(*walk.output, *walk.mailFile, message, folder, exists, owner);
    };
    ExportFolder(walk, sourceDirectory);
    Finish(*output);
    walk.output = nullptr;
  } else {
    ExportFolder(walk, sourceDirectory);
  }
  FlushTargets(walk);
  return walk.report;
}

}  // namespace plenvar
