// The workers, driven by scripted mail files whose cutting the test orders
// with latches. Every test that starts workers runs under a time limit.
#include <gtest/gtest.h>

#include <csignal>
#include <set>

#include "job/job.h"
#include "output/output.h"
#include "test_util.h"

namespace plenvar {
namespace {

using testing::Latch;
using testing::ReadTree;
using testing::ScriptedStore;
using testing::TempDir;
using testing::Tree;
using testing::WithinSeconds;

// Two messages a mail file: "<name>-1" and "<name>-2".
ScriptedStore::Script Two(const std::string& name) {
  return {{{name + "-1\r\n", false}, {name + "-2\r\n", false}}, std::nullopt};
}

// m1 and m2 are being cut when the stop comes, m0 and m3 were cut to their
// ends: the run stops at m1, the oldest it cut short, as one thread stopped
// there would. m2 and m3 are taken back, with the folder m2 made, though m3's
// files lay in it when m2 was undone.
TEST(PoolTest, AStopTakesEffectAtTheOldestMailFileItCutShort) {
  WithinSeconds(60, "the stopped run", [] {
    TempDir dir;
    ExportReport report;
    RunControl control;
    ScriptedStore store;
    Latch m1Begun, m2Begun, m3Cut, stopped;
    store.beforeCut = [&](const std::string& name) {
      if (name == "m0") {
        EXPECT_TRUE(m1Begun.Wait() && m2Begun.Wait() && m3Cut.Wait());
      }
      if (name == "m1") m1Begun.CountDown();
      if (name == "m2") m2Begun.CountDown();
      if (name == "m1" || name == "m2") {
        EXPECT_TRUE(stopped.Wait());
      }
    };
    const CutFunction scripted = store.Cut();
    const CutFunction cut = [&](int worker, const std::string& path, MessageSink& sink) {
      std::optional<Failure> failure = scripted(worker, path, sink);
      if (path == "m3") m3Cut.CountDown();
      if (path == "m0") {
        control.stop = SIGTERM;
        stopped.CountDown();
      }
      return failure;
    };
    auto queue = MakeWorkers(MakeJob(RunKind::kExport), 4, report, cut, control);
    const char* const folders[] = {"a", "b", "c", "c"};
    for (int i = 0; i < 4; ++i) {
      const std::string name = "m" + std::to_string(i);
      store.Add(name, Two(name));
      queue->MailFile(name, dir.Sub(folders[i]));
    }
    queue->Finish();
    EXPECT_EQ(ReadTree(dir.path), (Tree{{"a/", ""},
                                        {"a/000000000000000001.MAI", "m0-1\r\n"},
                                        {"a/000000000000000002.MAI", "m0-2\r\n"},
                                        {"b/", ""}}));
    EXPECT_EQ(report.done.mailFiles, 2);
    ASSERT_EQ(report.failures.size(), 1u);
    EXPECT_EQ(report.failures[0].path, "m1");
    EXPECT_EQ(report.failures[0].reason, "interrupted before its end");
  });
}

// A job that records which messages were worked on, whether each was worked
// on before the cutter's next message, and fails the work of one message; the
// rest is the real job's.
class Recording : public Job {
 public:
  Recording(std::unique_ptr<Job> job, std::int64_t failing)
      : job_(std::move(job)), failing_(failing) {}
  bool Works() const override { return job_->Works(); }
  bool NeedsNumbers(const Unit& unit) const override { return job_->NeedsNumbers(unit); }
  bool FailureEndsMailFile() const override { return job_->FailureEndsMailFile(); }
  void BeginFolder(Unit& unit) override { job_->BeginFolder(unit); }
  void Work(const Unit& unit, std::int64_t k, std::int64_t number, std::string_view text,
            MessageOutcome& outcome, bool final) override {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      worked_.insert(k);
    }
    if (k == failing_) {
      outcome.Fail("refused");
    } else {
      job_->Work(unit, k, number, text, outcome, final);
    }
  }
  void Commit(const Unit& unit, std::int64_t k, std::int64_t number, MessageOutcome& outcome,
              Tally& tally) override {
    job_->Commit(unit, k, number, outcome, tally);
  }
  void Undo(const Unit& unit) override { job_->Undo(unit); }
  void Finish(Tally& tally, bool stopped) override { job_->Finish(tally, stopped); }

  std::set<std::int64_t> Worked() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return worked_;
  }

 private:
  std::unique_ptr<Job> job_;
  std::int64_t failing_;
  std::mutex mutex_;
  std::set<std::int64_t> worked_;
};

// A message whose work fails ends its mail file: it is the one reported, and
// no message after it is worked on, whether its mail file is worked on as it
// is cut or shared with every worker.
TEST(PoolTest, AFailedMessageEndsItsMailFile) {
  const struct {
    const char* what;
    int workers;
    std::uint64_t large;  // the size from which messages are shared
  } cases[] = {{"one thread", 1, 4 << 20}, {"a worker", 1, 4 << 20}, {"shared", 1, 1}};
  for (const auto& c : cases) {
    WithinSeconds(60, c.what, [&] {
      TempDir dir;
      ExportReport report;
      RunControl control;
      ScriptedStore store;
      auto job = std::make_unique<Recording>(MakeJob(RunKind::kExport), 2);
      Recording& recording = *job;
      PoolLimits limits;
      limits.large = c.large;
      limits.batch = 2;
      auto queue =
          std::string(c.what) == "one thread"
              ? MakeSequential(std::move(job), report, store.Cut(), control)
              : MakeWorkers(std::move(job), c.workers, report, store.Cut(), control, limits);
      ScriptedStore::Script five;
      for (int k = 1; k <= 5; ++k)
        five.messages.emplace_back("m" + std::to_string(k) + "\r\n", false);
      store.Add("five.msg", five);
      queue->MailFile("five.msg", dir.Sub("out"));
      queue->Finish();
      EXPECT_EQ(recording.Worked(), (std::set<std::int64_t>{1, 2})) << c.what;
      ASSERT_EQ(report.failures.size(), 1u) << c.what;
      EXPECT_EQ(report.failures[0].path, dir.Sub("out") + "\\" + MessageFileName(2)) << c.what;
      EXPECT_EQ(ReadTree(dir.path / "out"), (Tree{{MessageFileName(1), "m1\r\n"}})) << c.what;
    });
  }
}

// A cutter that tells, for each message, whether its work was done before
// the cutter went on: so while it is cut, in the cutting thread; not when it
// is shared, which happens a batch at a time.
TEST(PoolTest, AMailFileOfFourMiBIsSharedAmongTheWorkers) {
  for (const std::uint64_t size : {(std::uint64_t{4} << 20) - 1, std::uint64_t{4} << 20}) {
    WithinSeconds(60, std::to_string(size) + " bytes", [&] {
      TempDir dir;
      ExportReport report;
      RunControl control;
      auto job = std::make_unique<Recording>(MakeJob(RunKind::kExport), 0);
      Recording& recording = *job;
      bool workedAsCut = false;
      const CutFunction cut = [&](int, const std::string&, MessageSink& sink) {
        sink.Opened(size);
        sink.Message("Received: 1\r\n", nullptr);
        workedAsCut = recording.Worked().count(1) == 1;
        sink.Message("Received: 2\r\n", nullptr);
        return std::optional<Failure>();
      };
      auto queue = MakeWorkers(std::move(job), 2, report, cut, control);
      queue->MailFile("big.msg", dir.Sub("out"));
      queue->Finish();
      EXPECT_EQ(workedAsCut, size < (std::uint64_t{4} << 20)) << size;
      EXPECT_EQ(report.done.messages, 2) << size;
    });
  }
}

// A mail file behind the head publishes up to 8,192 messages before it waits
// for the head's commits: here the head waits until it has.
TEST(PoolTest, MailFilesBehindTheHeadPublishUpToTheCap) {
  WithinSeconds(120, "the mail file behind the head", [] {
    ExportReport report;
    RunControl control;
    ScriptedStore store;
    Latch behindCut;
    store.beforeCut = [&](const std::string& name) {
      if (name == "head") {
        EXPECT_TRUE(behindCut.Wait()) << "the mail file behind the head waited";
      }
    };
    const CutFunction scripted = store.Cut();
    const CutFunction cut = [&](int worker, const std::string& path, MessageSink& sink) {
      std::optional<Failure> failure = scripted(worker, path, sink);
      if (path == "behind") behindCut.CountDown();
      return failure;
    };
    auto queue = MakeWorkers(MakeJob(RunKind::kList), 2, report, cut, control);
    store.Add("head", {{{"Received: h\r\n", false}}, std::nullopt});
    ScriptedStore::Script behind;
    behind.messages.assign(8191, {"Received: b\r\n", false});
    store.Add("behind", behind);
    queue->MailFile("head", "out");
    queue->MailFile("behind", "out");
    queue->Finish();
    EXPECT_EQ(report.done.messages, 8192);
  });
}

}  // namespace
}  // namespace plenvar
