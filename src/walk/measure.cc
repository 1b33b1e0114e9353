#include "platform/files.h"
#include "walk/walk.h"

namespace plenvar {

namespace {

// Sums the sizes of the mail files the walk selects, reading none of them.
class Measure : public StoreVisitor {
 public:
  void MailFile(const std::string& path, const std::string&) override {
    std::uint64_t bytes = 0;
    if (!platform::FileSizeOf(path, &bytes)) return;
    ++size.mailFiles;
    size.bytes += static_cast<std::int64_t>(bytes);
  }
  void CannotSelect(Failure) override {}
  StoreSize size;
};

}  // namespace

StoreSize MeasureStore(const Selection& selection, const RunControl* control) {
  Measure measure;
  WalkStore(selection, measure, control);
  return measure.size;
}

}  // namespace plenvar
