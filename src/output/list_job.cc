// The dry run: it numbers and counts what an export would write.
#include "output/job.h"

namespace plenvar {

namespace {

class ListJob : public Job {
 public:
  bool Works() const override { return false; }
  void Work(const Unit&, std::int64_t, std::int64_t, std::string_view, MessageOutcome&,
            bool) override {}
  void Commit(const Unit&, std::int64_t, std::int64_t number, MessageOutcome& outcome,
              Tally& tally) override {
    if (number != 0) tally.Written(number, outcome.size);
  }
  void Finish(Tally&, bool) override {}
};

}  // namespace

std::unique_ptr<Job> MakeListJob() { return std::make_unique<ListJob>(); }

}  // namespace plenvar
