// The dry run: it numbers and counts what an export would write.
#include "output/output.h"
#include "output/pool.h"
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

// The same with workers, which only cut.
class ListJob : public Job {
 public:
  bool Works() const override { return false; }
  void Work(const Unit&, std::int64_t, std::int64_t, std::string_view, MessageOutcome&) override {}
  void Commit(const Unit&, std::int64_t, MessageOutcome& outcome, Tally& tally,
              bool keep) override {
    if (keep) tally.Written(tally.Next(), outcome.size);
  }
  void Finish(Tally&) override {}
};

}  // namespace

std::unique_ptr<Job> MakeListJob() { return std::make_unique<ListJob>(); }

std::unique_ptr<Output> MakeListOutput(ExportReport& report) {
  return std::make_unique<ListOutput>(report);
}

}  // namespace plenvar
