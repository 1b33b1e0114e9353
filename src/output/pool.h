// The workers behind MakeWorkers. Each takes the next mail file in walk order
// (Order), cuts it and works on each of its messages in its own thread, so
// that no message text crosses to another core; a mail file of
// PoolLimits::large bytes or more still has one cutter, but shares its
// messages with every worker (SharedTasks). Outcomes are published in batches
// and committed in walk order, a batch at a time, by whichever thread finished
// the oldest work: the mail file at the head commits as it goes, the others
// when they become the head.
#ifndef PLENVAR_OUTPUT_POOL_H_
#define PLENVAR_OUTPUT_POOL_H_

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "output/order.h"
#include "output/publisher.h"
#include "output/shared_tasks.h"

namespace plenvar {

struct HeldMessages;

class Pool : public MailFileQueue, private Publisher {
 public:
  Pool(std::unique_ptr<Job> job, int workers, ExportReport& report, CutFunction cut,
       RunControl& control, const PoolLimits& limits);
  ~Pool() override { Close(); }

  void MailFile(const std::string& source, const std::string& targetFolder) override;
  void Skip(Failure failure) override;
  void Finish() override;

 private:
  // The lock over the order and the shared tasks, and who waits on it.
  struct Sync {
    std::mutex mutex;
    std::condition_variable changed;  // workers: work, room, numbers, or closing
    std::condition_variable room;     // the walk's thread: a mail file committed
  };
  // The commits, in walk order, one thread at a time.
  struct Commits {
    Tally tally;  // the committing thread only
    bool busy = false;
  };
  struct Threads {
    std::vector<std::thread> workers;
    bool closing = false;
  };

  // Publisher, for the workers' sinks.
  std::unique_lock<std::mutex> Lock() override { return std::unique_lock<std::mutex>(sync_.mutex); }
  bool Stopped() const override { return control_.Stopped(); }
  void AwaitBase(const Entry& entry, std::unique_lock<std::mutex>& lock) override {
    WaitHelping(lock, [&] { return entry.base.has_value(); });
  }
  void Counted(Entry& entry, std::int64_t messages, bool stopped) override {
    if (order_.Count(entry, messages, stopped)) Wake();
  }
  void Publish(Entry& entry, Batch batch, std::vector<Task>* tasks, std::size_t bytes,
               std::unique_lock<std::mutex>& lock) override;
  void Lend(std::vector<std::string>* reuse) override { shared_.Lend(reuse); }

  void Add(Unit unit, bool walkFailure);
  void RunWorker(int worker);
  void Cut(Entry& entry, int worker, HeldMessages& held, std::unique_lock<std::mutex>& lock);
  bool RunTasks(std::unique_lock<std::mutex>& lock);
  void Commit(std::unique_lock<std::mutex>& lock);
  void Close();

  // A worker, with the lock held: waits for `ready`, working on shared
  // messages meanwhile, so that a wait never holds up the one it waits for.
  template <typename Ready>
  void WaitHelping(std::unique_lock<std::mutex>& lock, Ready ready) {
    while (!ready()) {
      if (!RunTasks(lock)) sync_.changed.wait(lock);
    }
  }
  // Costs no system call while no worker sleeps.
  void Wake() { sync_.changed.notify_all(); }

  Sync sync_;
  Order order_;
  SharedTasks shared_;
  Commits commits_;
  std::unique_ptr<Job> job_;
  CutFunction cut_;
  RunControl& control_;
  PoolLimits limits_;
  Threads threads_;
};

}  // namespace plenvar

#endif  // PLENVAR_OUTPUT_POOL_H_
