#include <memory>
#include <thread>

#include "output/target_folders.h"
#include "report/run_log.h"
#include "run/run.h"

namespace plenvar {

const char kUsageText[] =
    "Usage: /S:SourceDirectory /T:TargetDirectory /M:FileMask /SILENT\r\n\r\n"
    "Eg: /S:C:\\LegacyMailStore\\Domain\\Mailboxes "
    "/T:C:\\Program Files\\Corvane\\Postoffices\\Domain\\MAILROOT /M:*.msg";

const char kHelpText[] =
    "Usage: plenvar /S:SourceDirectory /T:TargetDirectory [/M:FileMask] [options]\r\n"
    "Cuts every selected mail file of a mail store into single messages and writes each\r\n"
    "as a numbered .MAI file into a target tree that mirrors the store.\r\n"
    "\r\n"
    "  /S:folder   the mail store to export (required)\r\n"
    "  /T:folder   the target tree, created as needed (required)\r\n"
    "  /M:mask     selects mail files by name, ignoring case (default *.*)\r\n"
    "  /MT:n       n worker threads, 1 to 64 (default one per core, up to 8)\r\n"
    "  /LIST       dry run: cut everything, write nothing, tell the totals\r\n"
    "  /VERIFY     compare the target with what the export writes; write nothing\r\n"
    "  /LOG:file   write an account of the run into file (never over another file)\r\n"
    "  /SILENT     no completion notice (in capitals only)\r\n"
    "  --help      this text (also /?)\r\n"
    "  --version   the version\r\n"
    "\r\n"
    "Options come in any order and letter case; a word that is no option, or an\r\n"
    "option given twice, is refused. On Linux a path may begin with ~/.\r\n"
    "\r\n"
    "Example (Linux):   plenvar /S:/srv/old/mailboxes /T:~/mailroot /M:*.msg /LOG:export.log\r\n"
    "Example (Windows): plenvar.exe /S:C:\\Old\\Mailboxes /T:D:\\MAILROOT /M:*.msg /SILENT\r\n"
    "\r\n"
    "Exit status: 0 done; 1 done, with failures it names; 2 nothing done (parameter\r\n"
    "error); 128+n stopped by signal n.";

platform::Notice CompletionNotice(const ExportReport& report, std::string_view run) {
  const std::string done = std::string(run) + " Completed";
  // A dry run tells what an export would write, a verify what it compared;
  // an export that found message files in place, what it wrote and kept.
  std::string totals;
  if (run != "Export") {
    totals = "\r\nMail files: " + std::to_string(report.mailFiles) +
             "\r\nMessages: " + std::to_string(report.messages) +
             "\r\nBytes: " + std::to_string(report.bytes);
  } else if (report.inPlace > 0) {
    totals = "\r\nMessage files written: " + std::to_string(report.messages - report.inPlace) +
             "\r\nMessage files already in place: " + std::to_string(report.inPlace);
  }
  if (report.total == 0) return {done + totals, "Done", platform::kIconInformation};
  std::string text = done + " with errors";
  for (int kind = 0; kind < kFailureKinds; ++kind) {
    if (report.counts[kind] > 0)
      text += "\r\n" + (kFailureText[kind].label + std::to_string(report.counts[kind]));
  }
  for (const Failure& failure : report.failures) {
    text +=
        "\r\n" + platform::Printable(platform::DisplayPath(failure.path) + ": " + failure.reason);
  }
  const std::int64_t unlisted = report.total - static_cast<std::int64_t>(report.failures.size());
  if (unlisted > 0) text += "\r\nand " + std::to_string(unlisted) + " more";
  return {text + totals, "Done", platform::kIconWarning};
}

int WriterThreads(const std::string& commandLine) {
  if (FindIgnoringCase(commandLine, "/MT:") == std::string::npos) {
    // One writer per core, up to 8: beyond that the walk, which reads and
    // cuts in one thread, cannot keep more busy.
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : static_cast<int>(cores < 8 ? cores : 8);
  }
  const std::string value = GetParameter(commandLine, "/MT:");
  if (value.empty() || value.size() > 2 || value.find_first_not_of("0123456789") != value.npos)
    return 0;
  const int threads = std::stoi(value);
  return threads >= 1 && threads <= 64 ? threads : 0;
}

const char kVersionText[] = "plenvar " PLENVAR_VERSION;
const char kForeignLog[] = "/LOG:file exists and is not a log of this program: ";
const char kHeldTarget[] = "Another run of plenvar is writing into /T:TargetDirectory: ";

int Main(const std::string& commandLine, const NoticeFunction& showNotice) {
  // "/?" is what a Windows user types first.
  if (commandLine == "--help" || commandLine == "/?" || commandLine == "--version") {
    showNotice({commandLine == "--version" ? kVersionText : kHelpText, "Plenvar",
                platform::kIconInformation});
    return kExitClean;
  }
  // Before the specified checks: a slip of the keyboard must not be read as
  // a missing folder, let alone run.
  const std::string wrong = CheckOptions(commandLine);
  if (!wrong.empty()) {
    showNotice({wrong, "Error", platform::kIconError});
    return kExitUsage;
  }
  std::string targetDirectory = GetParameter(commandLine, "/T:");
  std::string sourceDirectory = GetParameter(commandLine, "/S:");
  std::string fileMask = GetParameter(commandLine, "/M:");
  if (sourceDirectory.empty() && targetDirectory.empty()) {
    showNotice({kUsageText, "Plenvar", platform::kIconInformation});
    return kExitUsage;
  }
  if (fileMask.empty()) fileMask = "*.*";
  if (targetDirectory.empty()) {
    showNotice({"/T:TargetDirectory parameter was not supplied.", "Error", platform::kIconError});
    return kExitUsage;
  }
  if (sourceDirectory.empty()) {
    showNotice({"/S:SourceDirectory parameter was not supplied.", "Error", platform::kIconError});
    return kExitUsage;
  }
  const int writers = WriterThreads(commandLine);
  if (writers == 0) {
    showNotice(
        {"/MT:n must be a number of writer threads from 1 to 64.", "Error", platform::kIconError});
    return kExitUsage;
  }
  ExportOptions options;
  options.writers = writers;
  // Any letter case: a dry run or a verify asked for must never become an export.
  const bool list = FindIgnoringCase(commandLine, "/LIST") != std::string::npos;
  const bool verify = FindIgnoringCase(commandLine, "/VERIFY") != std::string::npos;
  if (list && verify) {
    showNotice({"/LIST and /VERIFY cannot go together.", "Error", platform::kIconError});
    return kExitUsage;
  }
  options.kind = list ? RunKind::kList : verify ? RunKind::kVerify : RunKind::kExport;
  // The run's name in its notices and in its log.
  const char* const run = list ? "List" : verify ? "Verify" : "Export";
  const char* const mode = list ? "list" : verify ? "verify" : "export";
  const bool logWanted = FindIgnoringCase(commandLine, "/LOG:") != std::string::npos;
  std::string logPath = GetParameter(commandLine, "/LOG:");
  if (logWanted && logPath.empty()) {
    showNotice({"/LOG:file parameter was not supplied.", "Error", platform::kIconError});
    return kExitUsage;
  }
  // What can be checked without changing anything is checked first, so that
  // a refused run leaves nothing done.
  const auto refuse = [&showNotice](const std::string& why, const std::string& path,
                                    const std::string& reason = "") {
    const std::string shown = platform::DisplayPath(path) + (reason.empty() ? "" : ": " + reason);
    showNotice({why + platform::Printable(shown), "Error", platform::kIconError});
    return kExitUsage;
  };
  try {
    // "~/mail" as the shell means it, not a folder named "~" (POSIX).
    for (std::string* path : {&sourceDirectory, &targetDirectory, &logPath})
      *path = platform::ExpandHome(*path);
  } catch (const Error& e) {
    return refuse("", e.path, e.reason);
  }
  try {
    platform::OpenFolder(sourceDirectory);
  } catch (const Error& e) {
    return refuse("/S:SourceDirectory cannot be read: ", e.path, e.reason);
  }
  platform::FolderId id;
  if (platform::EntryIdOf(targetDirectory, &id) && !platform::FolderExists(targetDirectory))
    return refuse("/T:TargetDirectory is not a folder: ", targetDirectory);
  // A mail file or any other file is never replaced by the log.
  if (logWanted && platform::ForeignFileAt(logPath, kLogSignature))
    return refuse(kForeignLog, logPath);
  platform::FolderLock lock;
  std::string made;  // the first target level this run made, if any
  // Two exports into one target would rename each other's temporary files,
  // and a verify must not compare what an export is still writing. A verify
  // creates nothing; a dry run does not look at the target.
  if (!list) {
    try {
      if (!verify) made = EnsureFolderPath(targetDirectory);
      if (platform::FolderExists(targetDirectory) && !platform::LockFolder(targetDirectory, &lock))
        return refuse(kHeldTarget, targetDirectory);
    } catch (const Error& e) {
      RemoveMadeFolders(targetDirectory, made);
      return refuse("/T:TargetDirectory could not be created: ", e.path, e.reason);
    }
  }
  std::unique_ptr<RunLog> log;
  if (logWanted) {
    log = std::make_unique<RunLog>();
    bool opened = false;
    std::string why = kForeignLog, reason;
    try {
      opened = OpenRunLog(logPath, log.get());
    } catch (const Error& e) {
      why = "/LOG:file could not be created: ";
      reason = e.reason;
    }
    if (!opened) {
      RemoveMadeFolders(targetDirectory, made);
      return refuse(why, logPath, reason);
    }
    LogRun(*log, PLENVAR_VERSION, mode, sourceDirectory, targetDirectory, fileMask, writers);
    options.log = log.get();
  }
  options.targetMade = made;
  const Selection selection{sourceDirectory, targetDirectory, fileMask, log ? logPath : ""};
  const bool silent = commandLine.find("/SILENT") != std::string::npos;
  std::unique_ptr<ProgressLine> progress;
  if (!silent && platform::ProgressWanted()) {
    progress = std::make_unique<ProgressLine>();
    progress->total = MeasureStore(selection);
    progress->started = std::chrono::steady_clock::now();
    options.onProgress = [&progress](const Progress& done) { UpdateProgress(*progress, done); };
  }
  const ExportReport report = RunExport(selection, options);
  if (progress && progress->drawn) platform::ClearProgress();
  if (report.interrupted != 0) {
    // Said even with "/SILENT": the script that sent the signal asks how far it got.
    showNotice({run + (" interrupted by " + platform::SignalName(report.interrupted)) +
                    (list || verify ? "." : ": run the same command again to complete it."),
                "Plenvar", platform::kIconError});
    return 128 + report.interrupted;
  }
  if (!silent) showNotice(CompletionNotice(report, run));
  return report.total == 0 ? kExitClean : kExitWithFailures;
}

}  // namespace plenvar
