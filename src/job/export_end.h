// What an export reports at its end about the folders it wrote into that were
// there before it: what earlier runs left there.
#ifndef PLENVAR_JOB_EXPORT_END_H_
#define PLENVAR_JOB_EXPORT_END_H_

#include "report/report.h"
#include "target/listed_numbers.h"
#include "target/target_folders.h"

namespace plenvar {

// The temporary files earlier runs left, removed or not.
void ReportStale(const TargetFolders& folders, ExportReport& report);

// Message files that folders holding some before the run hold beyond those
// the run leaves (`left`: an earlier run's under numbers that have moved
// since, or another's): reported one by one, never removed, so that a run
// without failures has left one clean run's tree.
void ReportNotLeft(const TargetFolders& folders, const ListedNumbers& left, ExportReport& report);

}  // namespace plenvar

#endif  // PLENVAR_JOB_EXPORT_END_H_
