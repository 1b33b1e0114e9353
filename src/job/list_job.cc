// The dry run: it numbers and counts what an export would write.
#include "job/job.h"

namespace plenvar {

namespace {

class ListJob : public Job {
 public:
  // Only to find each message's time.
  bool Works() const override { return dates; }
  void Work(const Unit& unit, std::int64_t, std::int64_t, std::string_view text,
            MessageOutcome& outcome, bool) override {
    FindTime(*this, unit, text, outcome);
    outcome.state = MessageState::kDone;
  }
  void Commit(const Unit&, std::int64_t, std::int64_t number, MessageOutcome& outcome,
              Tally& tally) override {
    CountTime(*this, number, outcome, tally);
    if (number != kNoNumber) tally.CountMessage(number, outcome.size);
  }
  void Finish(Tally&, bool) override {}
};

}  // namespace

std::unique_ptr<Job> MakeListJob() { return std::make_unique<ListJob>(); }

}  // namespace plenvar
