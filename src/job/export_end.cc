#include "job/export_end.h"

#include "platform/folders.h"
#include "target/message_names.h"

namespace plenvar {

void ReportStale(const TargetFolders& folders, ExportReport& report) {
  for (const auto& [path, reason] : folders.Stale()) {
    if (reason.empty()) {
      report.Removed(path, "a temporary file an earlier run left");
    } else {
      report.Fail({kExtraFile, path,
                   "a temporary file an earlier run left, which could not be removed: " + reason});
    }
  }
}

void ReportNotLeft(const TargetFolders& folders, const ListedNumbers& left, ExportReport& report) {
  for (const std::string& folder : folders.Searched()) {
    platform::Folder listing;
    std::string why;
    if (!platform::OpenFolder(folder, &listing, &why)) continue;  // its writes said why
    std::int64_t number = 0;
    for (const platform::Entry& file : listing.files) {
      if (KindOfName(file.name, &number) == NameKind::kMessageFile && !left.Holds(folder, number))
        report.Fail(
            {kExtraFile, file.path, "a message file this run did not leave there; left as it is"});
    }
  }
}

}  // namespace plenvar
