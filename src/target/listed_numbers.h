// The message files a run expects in each target folder, as runs of
// consecutive numbers (an export's are), so that a million of them take a
// few entries; and what else lies there. In any order: the runs of a folder
// are sorted once and each file found is looked up in log time, so a
// shuffled manifest costs what the export's order costs.
#ifndef PLENVAR_TARGET_LISTED_NUMBERS_H_
#define PLENVAR_TARGET_LISTED_NUMBERS_H_

#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/control.h"
#include "report/report.h"

namespace plenvar {

class ListedNumbers {
 public:
  void Add(const std::string& folder, std::int64_t number);
  // A folder searched for extras even if no number is added in it.
  void AddFolder(const std::string& folder);
  // Whether `number` was added in `folder`; its runs must be in order, as an
  // export adds them, or sorted by ReportExtras.
  bool Holds(const std::string& folder, std::int64_t number) const;
  // Message files and leftovers in those folders that were not added, as
  // extra files; any other file there is not the export's business. Ends
  // early once `control`, if given, is stopped.
  void ReportExtras(ExportReport& report, const RunControl* control = nullptr);

 private:
  using Ranges = std::vector<std::pair<std::int64_t, std::int64_t>>;
  std::unordered_map<std::string, Ranges> numbers_;
  std::vector<std::string> order_;       // the folders, in the order they came
  const std::string* folder_ = nullptr;  // the last one, and its runs
  Ranges* ranges_ = nullptr;
};

}  // namespace plenvar

#endif  // PLENVAR_TARGET_LISTED_NUMBERS_H_
