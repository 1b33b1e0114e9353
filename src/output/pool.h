// The workers behind MakeWorkers. Each takes the next mail file in walk order
// (Order), cuts it and works on each of its messages in its own thread, so
// that no message text crosses to another core; a mail file of
// PoolLimits::large bytes or more still has one cutter, but hands its
// messages over to every worker (HandOver). Outcomes are published in batches
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

#include "output/hand_over.h"
#include "output/order.h"

namespace plenvar {

class Pool : public MailFileQueue {
 public:
  Pool(std::unique_ptr<Job> job, int workers, ExportReport& report, CutFunction cut,
       RunControl& control, const PoolLimits& limits);
  ~Pool() override { Close(); }

  void MailFile(const std::string& source, const std::string& targetFolder) override;
  void Skip(Failure failure) override;
  void Finish() override;

 private:
  friend class WorkerSink;

  // What a worker keeps from one mail file to the next: the messages it holds
  // until their numbers are known, in buffers whose pages are touched already
  // (first touching fresh memory for every mail file cost a rerun 70 % more
  // CPU than one thread).
  struct Held {
    std::string texts;
    std::vector<std::size_t> ends;
  };

  void Add(Unit unit, bool walkFailure);
  void RunWorker(int worker);
  void Cut(Entry& entry, int worker, Held& held, std::unique_lock<std::mutex>& lock);
  bool RunTasks(std::unique_lock<std::mutex>& lock);
  void Publish(Entry& entry, Batch batch, std::vector<Task>* tasks, std::size_t bytes,
               std::unique_lock<std::mutex>& lock);
  void Commit(std::unique_lock<std::mutex>& lock);
  void Close();

  // A worker, with the lock held: waits for `ready`, working on handed-over
  // messages meanwhile, so that a wait never holds up the one it waits for.
  template <typename Ready>
  void WaitHelping(std::unique_lock<std::mutex>& lock, Ready ready) {
    while (!ready()) {
      if (!RunTasks(lock)) changed_.wait(lock);
    }
  }
  // Costs no system call while no worker sleeps.
  void Wake() { changed_.notify_all(); }

  std::mutex mutex_;
  std::condition_variable changed_;  // workers: work, room, numbers, or closing
  std::condition_variable room_;     // the walk's thread: a mail file committed
  Order order_;
  HandOver handOver_;
  std::unique_ptr<Job> job_;
  Tally tally_;  // the committing thread only
  CutFunction cut_;
  RunControl& control_;
  PoolLimits limits_;
  bool committing_ = false;  // one thread commits at a time, so commits keep their order
  bool closing_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace plenvar

#endif  // PLENVAR_OUTPUT_POOL_H_
