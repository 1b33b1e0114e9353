// One mail file of the walk as a job sees it, or one failure of the walk.
#ifndef PLENVAR_JOB_UNIT_H_
#define PLENVAR_JOB_UNIT_H_

#include <cstdint>
#include <optional>
#include <string>

#include "report/report.h"

namespace plenvar {

// One mail file of the walk, or one failure of the walk.
struct Unit {
  // Its place among the walk's mail files, from 1; none for a failure of the walk.
  std::optional<std::int64_t> mailFile;
  std::string source, folder;
  bool folderExists = false;
  bool freshFolder = false;   // made by this run: it holds no earlier run's message file
  std::string madeFolder;     // the first level of its folder this run made for it, if any
  std::string refusedFolder;  // why its folder is not written into, if it is not
  // A run with "/DATES": the mail file's own modification time, for its
  // messages that name no time of their own.
  std::int64_t mailFileTime = 0;
  std::optional<Failure> failure;  // the walk's failure, or how the mail file ended
};

}  // namespace plenvar

#endif  // PLENVAR_JOB_UNIT_H_
