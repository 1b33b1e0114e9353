#include "output/pool.h"

#include "output/work_message.h"
#include "output/worker_sink.h"

namespace plenvar {

Pool::Pool(std::unique_ptr<Job> job, int workers, ExportReport& report, CutFunction cut,
           RunControl& control, const PoolLimits& limits)
    : order_(limits.messages),
      shared_(limits.bytes, static_cast<std::size_t>(workers), limits.batch),
      commits_{Tally(report)},
      job_(std::move(job)),
      cut_(std::move(cut)),
      control_(control),
      limits_(limits) {
  for (int i = 0; i < workers; ++i) threads_.workers.emplace_back(&Pool::RunWorker, this, i);
}

void Pool::MailFile(const std::string& source, const std::string& targetFolder) {
  Unit unit;
  unit.source = source;
  unit.folder = targetFolder;
  BeginUnit(*job_, unit);
  Add(std::move(unit), false);
}

void Pool::Skip(Failure failure) {
  Unit unit;
  unit.failure = std::move(failure);
  Add(std::move(unit), true);
}

void Pool::Add(Unit unit, bool walkFailure) {
  std::unique_lock<std::mutex> lock(sync_.mutex);
  if (order_.Size() >= limits_.mailFiles)
    sync_.room.wait(lock, [&] { return order_.Size() <= limits_.mailFiles / 2; });
  order_.Add(std::move(unit), walkFailure, control_.Stopped());
  Wake();
  Commit(lock);  // a failure of the walk may be the head already
}

void Pool::Finish() {
  {
    std::unique_lock<std::mutex> lock(sync_.mutex);
    sync_.room.wait(lock, [&] { return order_.Empty() && !commits_.busy; });
  }
  Close();
  job_->Finish(commits_.tally, control_.Stopped());
}

void Pool::Close() {
  {
    const std::lock_guard<std::mutex> lock(sync_.mutex);
    threads_.closing = true;
  }
  sync_.changed.notify_all();
  for (std::thread& thread : threads_.workers) thread.join();
  threads_.workers.clear();
}

void Pool::RunWorker(int worker) {
  HeldMessages held;
  std::unique_lock<std::mutex> lock(sync_.mutex);
  for (;;) {
    if (RunTasks(lock)) continue;
    if (Entry* entry = order_.Take(control_.Stopped())) {
      Cut(*entry, worker, held, lock);
      continue;
    }
    // Once the run stops, what was queued is finished unbegun: it may commit,
    // and work that came while the commit had the lock released is not missed.
    if (control_.Stopped()) {
      Commit(lock);
      if (!shared_.Empty() || order_.AnyQueued()) continue;
    }
    if (threads_.closing) return;
    sync_.changed.wait(lock);
  }
}

void Pool::Cut(Entry& entry, int worker, HeldMessages& held, std::unique_lock<std::mutex>& lock) {
  lock.unlock();
  WorkerSink sink(*this, *job_, limits_, entry, held);
  entry.unit.failure = cut_(worker, entry.unit.source, sink);
  lock.lock();
  sink.Finish(lock);
  order_.Finish(entry);
  Commit(lock);
}

// With the lock held: takes a share of the shared messages and works on them;
// false when there were none.
bool Pool::RunTasks(std::unique_lock<std::mutex>& lock) {
  if (shared_.Empty()) return false;
  std::vector<Task> share = shared_.TakeShare();
  lock.unlock();
  for (Task& task : share) {
    WorkMessage(*job_, task.entry->unit, task.entry->end, task.K(), task.number, task.Text(),
                task.batch->messages[task.index], false);
    Release(&task);
  }
  lock.lock();
  shared_.Done(&share);
  Wake();
  Commit(lock);
  return true;
}

// With the lock held. Waits, working meanwhile, while the messages or the
// bytes in flight are over their caps: not for the oldest mail file, whose
// commits are what makes room, and not for a single message larger than the
// cap.
void Pool::Publish(Entry& entry, Batch batch, std::vector<Task>* tasks, std::size_t bytes,
                   std::unique_lock<std::mutex>& lock) {
  WaitHelping(lock, [&] { return order_.MayPublish(entry) && shared_.Fits(bytes); });
  Batch& published = order_.Publish(entry, std::move(batch), tasks->size());
  if (!tasks->empty()) {
    shared_.Add(tasks, &published, bytes);
    Wake();
  }
  if (order_.IsHead(entry)) Commit(lock);
}

// With the lock held: commits what is ready at the head, in order, with the
// lock released while the job renames.
void Pool::Commit(std::unique_lock<std::mutex>& lock) {
  if (commits_.busy) return;
  commits_.busy = true;
  Order::Ready ready;
  bool committed = false, popped = false;
  while (order_.Next(&ready)) {
    lock.unlock();
    Unit& unit = ready.entry->unit;
    Tally& tally = commits_.tally;
    for (Batch& batch : ready.batches) {
      for (std::size_t i = 0; i < batch.messages.size(); ++i) {
        const std::int64_t number = ready.keep ? tally.Next() : kNoNumber;
        CommitSafely(*job_, unit, batch.firstK + static_cast<std::int64_t>(i), number,
                     batch.messages[i], tally);
      }
    }
    if (ready.last) {
      if (ready.keep) {
        ReportUnit(unit, tally);
      } else {
        job_->Undo(unit);  // nothing of it is reported
      }
    }
    lock.lock();
    order_.Committed(ready);
    committed = true;
    popped = popped || ready.last;
  }
  commits_.busy = false;
  // The walk waits, once full, until half are committed.
  if (popped && order_.Size() <= limits_.mailFiles / 2) sync_.room.notify_one();
  if (committed) Wake();
}

std::unique_ptr<MailFileQueue> MakeWorkers(std::unique_ptr<Job> job, int workers,
                                           ExportReport& report, CutFunction cut,
                                           RunControl& control, const PoolLimits& limits) {
  return std::make_unique<Pool>(std::move(job), workers, report, std::move(cut), control, limits);
}

}  // namespace plenvar
