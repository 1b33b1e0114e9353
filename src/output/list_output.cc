// The dry run's output: it numbers and counts what an export would write.
#include "output/output.h"
#include "output/tally.h"

namespace plenvar {

namespace {

class ListOutput : public Output {
 public:
  explicit ListOutput(ExportReport& report) : tally_(report) {}
  void BeginMailFile(const std::string& source, const std::string& targetFolder) override {
    source_ = source;
    folder_ = targetFolder;
  }
  void Message(std::string_view text, std::string*) override {
    tally_.Written(tally_.Next(), text.size());
  }
  void EndMailFile(std::optional<Failure> failure) override {
    tally_.EndMailFile(source_, folder_, std::move(failure));
  }
  void Skip(Failure failure) override { tally_.Report().Fail(std::move(failure)); }
  void Finish() override {}

 private:
  Tally tally_;
  std::string source_, folder_;
};

}  // namespace

std::unique_ptr<Output> MakeListOutput(ExportReport& report) {
  return std::make_unique<ListOutput>(report);
}

}  // namespace plenvar
