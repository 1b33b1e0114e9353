#include "output/worker_sink.h"

namespace plenvar {

WorkerSink::WorkerSink(Publisher& pool, Job& job, const PoolLimits& limits, Entry& entry,
                       HeldMessages& held)
    : pool_(pool), job_(job), limits_(limits), entry_(entry), held_(held) {
  held_.texts.clear();
  held_.ends.clear();
}

void WorkerSink::Opened(std::uint64_t size) {
  way_.shared = job_.Works() && size >= limits_.large;
  way_.numbers = job_.Works() && job_.NeedsNumbers(entry_.unit);
  if (!way_.numbers) return;
  // The numbers: known already when every mail file before is cut; waited
  // for by a large one; else its messages are held until they are known.
  std::unique_lock<std::mutex> lock = pool_.Lock();
  if (way_.shared) pool_.AwaitBase(entry_, lock);
  way_.base = entry_.base;
  if (!way_.base) held_.texts.reserve(static_cast<std::size_t>(size));
}

bool WorkerSink::CutShort() {
  if (!pool_.Stopped()) return false;
  cutShort_ = true;
  return true;
}

void WorkerSink::Message(std::string_view text, TextBuffer* owner) {
  Batch& batch = out_.batch;
  batch.messages.emplace_back();
  MessageOutcome& outcome = batch.messages.back();
  outcome.size = text.size();
  const std::int64_t k = ++k_;
  const std::int64_t number = way_.numbers && way_.base ? *way_.base + k : kNoNumber;
  if (!ToWork(job_, entry_.end, k)) {
    // Nothing to do for it: it is only counted.
  } else if (way_.shared) {
    Task task;
    task.entry = &entry_;
    task.index = batch.messages.size() - 1;
    task.number = number;
    Pack(text, owner, &out_.reuse, &task);
    out_.taskBytes += task.bytes;
    out_.tasks.push_back(std::move(task));
  } else if (way_.numbers && !way_.base) {
    held_.texts.append(text);
    held_.ends.push_back(held_.texts.size());
    return;  // published once the numbers are known
  } else {
    WorkMessage(job_, entry_.unit, entry_.end, k, number, text, outcome, false);
  }
  if (batch.messages.size() >= limits_.batch || out_.taskBytes >= limits_.batchBytes) Publish();
}

void WorkerSink::Publish() {
  const std::int64_t next =
      out_.batch.firstK + static_cast<std::int64_t>(out_.batch.messages.size());
  std::unique_lock<std::mutex> lock = pool_.Lock();
  pool_.Publish(entry_, std::move(out_.batch), &out_.tasks, out_.taskBytes, lock);
  pool_.Lend(&out_.reuse);
  lock.unlock();
  out_.batch = Batch();
  out_.batch.firstK = next;
  out_.taskBytes = 0;
}

void WorkerSink::Finish(std::unique_lock<std::mutex>& lock) {
  pool_.Counted(entry_, k_, cutShort_);
  if (!held_.ends.empty()) {
    pool_.AwaitBase(entry_, lock);
    const std::int64_t base = *entry_.base;
    lock.unlock();
    std::size_t from = 0;
    for (std::size_t i = 0; i < held_.ends.size(); ++i) {
      const std::int64_t k = out_.batch.firstK + static_cast<std::int64_t>(i);
      const std::string_view text =
          std::string_view(held_.texts).substr(from, held_.ends[i] - from);
      if (!WorkMessage(job_, entry_.unit, entry_.end, k, base + k, text, out_.batch.messages[i],
                       false))
        break;
      from = held_.ends[i];
    }
    lock.lock();
  }
  if (!out_.batch.messages.empty() || !out_.tasks.empty())
    pool_.Publish(entry_, std::move(out_.batch), &out_.tasks, out_.taskBytes, lock);
}

}  // namespace plenvar
