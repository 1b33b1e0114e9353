#include "run/main.h"

#include <iterator>
#include <memory>
#include <optional>

#include "platform/process.h"
#include "report/run_log.h"
#include "run/export.h"
#include "run/options.h"
#include "run/prepare.h"
#include "run/progress.h"

namespace plenvar {

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
    "  /DATES      give each message file its message's received time (first Received:,\r\n"
    "              else Date:, else the mail file's time); with /VERIFY also check it\r\n"
    "  /LOG:file   write an account of the run into file (never over another file,\r\n"
    "              another run's log, or a message file's name in the target)\r\n"
    "  /MANIFEST:file  list every message file the export leaves (or the verify\r\n"
    "              finds matching) with its SHA-256, for: cd target && sha256sum -c file\r\n"
    "              (never over another file or another run's, nor an existing one by a\r\n"
    "              verify). With /VERIFY and no /S: check the target against that list\r\n"
    "              alone; a line whose path leads out of the target, or none, refuses it\r\n"
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

Notice CompletionNotice(const ExportReport& report) {
  const std::string done = std::string(TextOf(report.run).name) + " Completed";
  // A dry run tells what an export would write, a verify what it compared;
  // an export that found message files in place, what it wrote and kept.
  std::string totals;
  if (report.run != RunKind::kExport) {
    totals = "\r\nMail files: " + std::to_string(report.done.mailFiles) +
             "\r\nMessages: " + std::to_string(report.done.messages) +
             "\r\nBytes: " + std::to_string(report.done.bytes);
    // To be matched against the export's log line for it.
    if (report.manifest.read) totals += "\r\nManifest SHA-256: " + report.manifest.digest;
  } else if (report.done.inPlace > 0) {
    totals =
        "\r\nMessage files written: " + std::to_string(report.done.messages - report.done.inPlace) +
        "\r\nMessage files already in place: " + std::to_string(report.done.inPlace);
  }
  if (report.dates.on) {
    totals += "\r\nTimes from Received: " + std::to_string(report.dates.sources[0]) +
              ", from Date: " + std::to_string(report.dates.sources[1]) +
              ", from the mail file: " + std::to_string(report.dates.sources[2]);
  }
  if (report.total == 0) return {done + totals, "Done", kIconInformation};
  std::string text = done + " with errors";
  for (int kind = 0; kind < kFailureKinds; ++kind) {
    if (report.counts[kind] > 0)
      text += "\r\n" + (LabelOf(static_cast<FailureKind>(kind), report.run) +
                        std::to_string(report.counts[kind]));
  }
  for (const Failure& failure : report.failures) {
    text +=
        "\r\n" + platform::Printable(platform::DisplayPath(failure.path) + ": " + failure.reason);
  }
  const std::int64_t unlisted = report.total - static_cast<std::int64_t>(report.failures.size());
  if (unlisted > 0) text += "\r\nand " + std::to_string(unlisted) + " more";
  return {text + totals, "Done", kIconWarning};
}

const char kVersionText[] = "plenvar " PLENVAR_VERSION;

namespace {

// How a run speaks of its own kind, in RunKind order, beside the report's
// words for it (TextOf): its name in the log's run line, and how its notice
// of an interruption ends.
struct RunWords {
  const char* logName;
  const char* interrupted;
};
constexpr RunWords kRunWords[] = {
    {"export", ": run the same command again to complete it."},
    {"list", "."},
    {"verify", "."},
    {"verify", "."},  // a verify from a manifest alone
};
static_assert(std::size(kRunWords) == kRunKinds);
const RunWords& WordsOf(RunKind kind) { return kRunWords[static_cast<int>(kind)]; }

ExportReport Run(const Options& options, Prepared& prepared, RunControl& control) {
  ExportOptions run;
  run.threads = options.threads;
  run.kind = options.Kind();
  run.firstMade = prepared.firstMade;
  run.dates = options.dates;
  if (prepared.manifest) {
    prepared.manifest->Begin();
    run.manifest = prepared.manifest.get();
  }
  if (prepared.log) {
    LogRun(*prepared.log, PLENVAR_VERSION, WordsOf(run.kind).logName, options.source,
           options.target, options.mask, options.threads);
    run.log = prepared.log.get();
  }
  if (run.kind == RunKind::kManifestCheck)
    return CheckFromManifest(*options.manifest, options.target, options.threads, run.log, control);
  const Selection selection{options.source, options.target, options.mask,
                            prepared.log ? *options.log : ""};
  std::unique_ptr<ProgressLine> progress;
  if (!options.silent && platform::ProgressWanted())
    progress = std::make_unique<ProgressLine>(selection, control);
  ExportReport report = RunExport(selection, run, &control);
  progress.reset();  // cleared before the notice
  return report;
}

// The notice the run ends with, and its exit status.
int Tell(const ExportReport& report, const Options& options, const NoticeFunction& showNotice) {
  if (report.interrupted != 0) {
    // Said even with "/SILENT": the script that sent the signal asks how far it got.
    showNotice({TextOf(report.run).name +
                    (" interrupted by " + platform::SignalName(report.interrupted)) +
                    WordsOf(report.run).interrupted,
                "Plenvar", kIconError});
    return 128 + report.interrupted;
  }
  if (!options.silent) showNotice(CompletionNotice(report));
  return report.total == 0 ? kExitClean : kExitWithFailures;
}

}  // namespace

int Main(const std::string& commandLine, const NoticeFunction& showNotice) {
  RunControl control;
  return Main(commandLine, showNotice, control);
}

int Main(const std::string& commandLine, const NoticeFunction& showNotice, RunControl& control) {
  // "/?" is what a Windows user types first.
  if (commandLine == "--help" || commandLine == "/?" || commandLine == "--version") {
    showNotice(
        {commandLine == "--version" ? kVersionText : kHelpText, "Plenvar", kIconInformation});
    return kExitClean;
  }
  Options options;
  if (const std::optional<Notice> refusal = ParseOptions(commandLine, &options)) {
    showNotice(*refusal);
    return kExitUsage;
  }
  Prepared prepared;
  if (const std::optional<Notice> refusal = Prepare(options, &prepared)) {
    showNotice(*refusal);
    return kExitUsage;
  }
  return Tell(Run(options, prepared, control), options, showNotice);
}

}  // namespace plenvar
