// The plain sequential program (/MT:1): the walk's thread cuts each mail file
// and works and commits each message as it comes, through the same job the
// workers run.
#include "job/job.h"
#include "output/output.h"
#include "output/work_message.h"

namespace plenvar {

namespace {

class Sequential : public MailFileQueue, MessageSink {
 public:
  Sequential(std::unique_ptr<Job> job, ExportReport& report, CutFunction cut, RunControl& control)
      : job_(std::move(job)), tally_(report), cut_(std::move(cut)), control_(control) {}

  void MailFile(const std::string& source, const std::string& targetFolder) override {
    unit_ = Unit();
    unit_.mailFile = ++mailFiles_;
    unit_.source = source;
    unit_.folder = targetFolder;
    BeginUnit(*job_, unit_);
    end_.Reset();
    k_ = 0;
    unit_.failure = cut_(0, source, *this);
    ReportUnit(unit_, tally_);
  }

  void Skip(Failure failure) override { tally_.Report().Fail(std::move(failure)); }

  void Finish() override { job_->Finish(tally_, control_.Stopped()); }

 private:
  void Message(std::string_view text, TextBuffer*) override {
    MessageOutcome outcome;
    outcome.size = text.size();
    // 0 once a message file of this mail file could not be written: the
    // rest of it is not worked on.
    const std::int64_t k = ++k_, number = tally_.Next();
    if (number != 0) WorkMessage(*job_, unit_, end_, k, number, text, outcome, true);
    CommitSafely(*job_, unit_, k, number, outcome, tally_);
  }

  bool CutShort() override { return control_.Stopped(); }

  std::unique_ptr<Job> job_;
  Tally tally_;
  CutFunction cut_;
  RunControl& control_;
  Unit unit_;  // the mail file being cut
  MailFileEnd end_;
  std::int64_t mailFiles_ = 0, k_ = 0;
};

}  // namespace

std::unique_ptr<MailFileQueue> MakeSequential(std::unique_ptr<Job> job, ExportReport& report,
                                              CutFunction cut, RunControl& control) {
  return std::make_unique<Sequential>(std::move(job), report, std::move(cut), control);
}

}  // namespace plenvar
