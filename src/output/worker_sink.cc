#include "output/worker_sink.h"

namespace plenvar {

WorkerSink::WorkerSink(Pool& pool, Entry& entry, Pool::Held& held)
    : pool_(pool), entry_(entry), job_(*pool.job_), held_(held) {
  held_.texts.clear();
  held_.ends.clear();
}

void WorkerSink::Opened(std::uint64_t size) {
  handOver_ = job_.Works() && size >= pool_.limits_.large;
  numbers_ = job_.Works() && job_.NeedsNumbers(entry_.unit);
  if (!numbers_) return;
  // The numbers: known already when every mail file before is cut; waited
  // for by a large one; else its messages are held until they are known.
  std::unique_lock<std::mutex> lock(pool_.mutex_);
  if (handOver_) pool_.WaitHelping(lock, [&] { return entry_.base >= 0; });
  base_ = entry_.base;
  if (base_ < 0) held_.texts.reserve(static_cast<std::size_t>(size));
}

bool WorkerSink::Stopping() {
  if (!pool_.control_.Stopped()) return false;
  stopped_ = true;
  return true;
}

void WorkerSink::Message(std::string_view text, std::string* owner) {
  batch_.messages.emplace_back();
  MessageOutcome& outcome = batch_.messages.back();
  outcome.size = text.size();
  const std::int64_t k = ++k_;
  if (!job_.Works() || !entry_.ToWork(k)) {
    // Nothing to do for it: it is only counted.
  } else if (handOver_) {
    Task task;
    task.entry = &entry_;
    task.index = batch_.messages.size() - 1;
    task.number = numbers_ ? base_ + k : 0;
    Pack(text, owner, &reuse_, &task);
    taskBytes_ += task.bytes;
    tasks_.push_back(std::move(task));
  } else if (numbers_ && base_ < 0) {
    held_.texts.append(text);
    held_.ends.push_back(held_.texts.size());
    return;  // published once the numbers are known
  } else {
    WorkSafely(job_, entry_.unit, k, numbers_ ? base_ + k : 0, text, outcome, false);
    if (outcome.Failed() && job_.FailureEndsMailFile()) entry_.EndAt(k);
  }
  if (batch_.messages.size() >= pool_.limits_.batch || taskBytes_ >= pool_.limits_.batchBytes)
    Publish();
}

void WorkerSink::Publish() {
  const std::int64_t next = batch_.firstK + static_cast<std::int64_t>(batch_.messages.size());
  std::unique_lock<std::mutex> lock(pool_.mutex_);
  pool_.Publish(entry_, std::move(batch_), &tasks_, taskBytes_, lock);
  pool_.handOver_.Lend(&reuse_);
  lock.unlock();
  batch_ = Batch();
  batch_.firstK = next;
  taskBytes_ = 0;
}

void WorkerSink::Finish(std::unique_lock<std::mutex>& lock) {
  if (pool_.order_.Count(entry_, k_, stopped_)) pool_.Wake();
  if (!held_.ends.empty()) {
    pool_.WaitHelping(lock, [&] { return entry_.base >= 0; });
    const std::int64_t base = entry_.base;
    lock.unlock();
    std::size_t from = 0;
    for (std::size_t i = 0; i < held_.ends.size(); ++i) {
      const std::int64_t k = batch_.firstK + static_cast<std::int64_t>(i);
      if (!entry_.ToWork(k)) break;
      MessageOutcome& outcome = batch_.messages[i];
      WorkSafely(job_, entry_.unit, k, base + k,
                 std::string_view(held_.texts).substr(from, held_.ends[i] - from), outcome, false);
      if (outcome.Failed() && job_.FailureEndsMailFile()) entry_.EndAt(k);
      from = held_.ends[i];
    }
    lock.lock();
  }
  if (!batch_.messages.empty() || !tasks_.empty())
    pool_.Publish(entry_, std::move(batch_), &tasks_, taskBytes_, lock);
}

}  // namespace plenvar
