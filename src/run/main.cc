#include <thread>

#include "run/run.h"

namespace plenvar {

const char kUsageText[] =
    "Usage: /S:SourceDirectory /T:TargetDirectory /M:FileMask /SILENT\r\n\r\n"
    "Eg: /S:C:\\LegacyMailStore\\Domain\\Mailboxes "
    "/T:C:\\Program Files\\Corvane\\Postoffices\\Domain\\MAILROOT /M:*.msg";

platform::Notice CompletionNotice(const ExportReport& report) {
  if (report.total == 0) return {"Export Completed", "Done", platform::kIconInformation};
  static const char* const kLabels[kFailureKinds] = {
      "Folders that could not be opened: ",
      "Mail files that could not be read: ",
      "Message files that could not be written: ",
      "Selected entries that are not regular files: ",
      "Mail files that changed while they were read: ",
      "Target file systems that could not be flushed to disk: ",
  };
  std::string text = "Export Completed with errors";
  for (int kind = 0; kind < kFailureKinds; ++kind) {
    if (report.counts[kind] > 0)
      text += "\r\n" + (kLabels[kind] + std::to_string(report.counts[kind]));
  }
  for (const Failure& failure : report.failures) {
    text +=
        "\r\n" + platform::Printable(platform::DisplayPath(failure.path) + ": " + failure.reason);
  }
  const std::int64_t unlisted = report.total - static_cast<std::int64_t>(report.failures.size());
  if (unlisted > 0) text += "\r\nand " + std::to_string(unlisted) + " more";
  return {text, "Done", platform::kIconWarning};
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

int Main(const std::string& commandLine, const NoticeFunction& showNotice) {
  if (platform::kHelpOptions && (commandLine == "--help" || commandLine == "--version")) {
    showNotice({commandLine == "--help" ? kUsageText : kVersionText, "Plenvar",
                platform::kIconInformation});
    return kExitClean;
  }
  const std::string targetDirectory = GetParameter(commandLine, "/T:");
  const std::string sourceDirectory = GetParameter(commandLine, "/S:");
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
  const ExportReport report = RunExport(sourceDirectory, targetDirectory, fileMask, writers);
  if (commandLine.find("/SILENT") == std::string::npos) showNotice(CompletionNotice(report));
  return report.total == 0 ? kExitClean : kExitWithFailures;
}

}  // namespace plenvar
