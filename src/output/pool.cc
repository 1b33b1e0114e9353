// The workers. Each takes the next mail file in walk order, cuts it and does
// the job's work on each of its messages in its own thread, so that no message
// text crosses to another core. Outcomes are published in batches and
// committed in walk order, a batch at a time, in whichever thread finished
// the oldest work: the mail file at the head commits as it goes, the others
// when they become the head. A mail file of kLarge bytes or more is still cut
// by one worker, but its messages are handed over to all of them, so that one
// large mailbox alone keeps every core busy.
//
// A stop asked for by a signal stops the run at one mail file: the one whose
// worker the signal arrived in, or else the oldest one still being cut. The
// mail files before it are cut to their ends, it is committed as far as it
// was cut, and everything after it in walk order is undone: the tree is the
// one a single thread leaves when the signal finds it at that mail file.
#include "output/pool.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/process.h"

namespace plenvar {

namespace {

// A mail file this large hands its messages over to every worker.
constexpr std::uint64_t kLarge = 4 << 20;
// Handed-over bytes not yet worked on: enough to keep every worker busy with
// messages of a few hundred KB; a cutter waits beyond it.
constexpr std::size_t kBytesCap = 32 << 20;
// Mail files handed to the workers and not yet committed: the walk waits
// beyond it.
constexpr std::size_t kMailFilesCap = 256;
// Messages published and not yet committed (so temporary files, for an
// export); a worker that is not cutting the oldest mail file waits beyond it.
constexpr std::size_t kMessagesCap = 8192;
// Messages in a batch, and handed-over bytes after which a batch goes out:
// the lock and the wake-ups are paid per batch, not per message.
constexpr std::size_t kBatch = 64;
constexpr std::size_t kBatchBytes = 1 << 20;
// Buffers of handed-over messages up to this size go back to the cutters, at
// most this many: a buffer one thread allocates and another frees costs both
// the allocator's lock.
constexpr std::size_t kReuseBytes = 64 << 10;
constexpr std::size_t kReuseCount = 2 * kBatch;
// How often the walk's thread shows progress while it waits.
constexpr auto kTick = std::chrono::milliseconds(100);

struct Batch {
  std::int64_t firstK = 1;  // the mail file's message number of its first message
  std::vector<MessageOutcome> messages;
  std::size_t pending = 0;  // its messages handed over and not yet worked on
};

struct Entry {
  Unit unit;
  std::int64_t seq = 0;                // place in the queue, failures of the walk included
  bool taken = false;                  // a worker has it, or it needs none
  bool counted = false;                // cut to its end: its message count is known
  bool done = false;                   // its worker is through with it
  bool begun = true;                   // false: a signal came before it was begun
  std::int64_t messages = 0;           // cut so far
  std::int64_t base = -1;              // the messages of every mail file before it, once known
  std::deque<Batch> batches;           // published and not yet committed
  std::atomic<bool> abandoned{false};  // a message's work failed: the rest is not worked on
};

struct Task {
  Entry* entry = nullptr;
  Batch* batch = nullptr;  // set as it is published
  std::size_t index = 0;   // in the batch
  std::int64_t number = 0;
  // The message is data's text from `offset` on, `size` long: tasks move, and
  // a short string's text moves with it.
  std::string data;
  std::size_t offset = 0;
  std::size_t size = 0;
  std::size_t bytes = 0;
};

// What a worker keeps from one mail file to the next: the messages it holds
// until their numbers are known.
struct Held {
  std::string texts;
  std::vector<std::size_t> ends;
};

class Pool : public MailFileQueue {
 public:
  Pool(int workers, ExportReport& report, std::unique_ptr<Job> job, CutFunction cut,
       std::function<void()> tick)
      : tally_(report),
        job_(std::move(job)),
        cut_(std::move(cut)),
        tick_(std::move(tick)),
        workers_(workers) {
    for (int i = 0; i < workers; ++i) threads_.emplace_back(&Pool::RunWorker, this, i);
  }
  ~Pool() override { Stop(); }

  void MailFile(const std::string& source, const std::string& targetFolder) override {
    auto entry = std::make_unique<Entry>();
    entry->unit.mailFile = ++mailFiles_;
    entry->unit.source = source;
    entry->unit.folder = targetFolder;
    job_->BeginFolder(entry->unit);
    Add(std::move(entry));
  }

  void Skip(Failure failure) override {
    auto entry = std::make_unique<Entry>();
    entry->unit.failure = std::move(failure);
    entry->taken = entry->counted = entry->done = true;
    Add(std::move(entry));
  }

  void Finish() override {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      WaitTicking(lock, [&] { return entries_.empty() && !committing_; });
    }
    Stop();
    job_->Finish(tally_);
  }

 private:
  class Sink;

  // With the lock held, once a signal asked the run to stop: where it stops.
  std::int64_t StopSeq() {
    if (stopSeq_ < 0) {
      const std::int64_t found = platform::InterruptedWork();
      if (found > 0) {
        stopSeq_ = found - 1;
      } else {
        const auto cutting = std::find_if(entries_.begin(), entries_.end(), [](const auto& entry) {
          return entry->taken && !entry->counted;
        });
        stopSeq_ = cutting != entries_.end() ? (*cutting)->seq : cutSeq_;
      }
    }
    return stopSeq_;
  }

  Entry& At(std::int64_t seq) {
    return *entries_[static_cast<std::size_t>(seq - entries_.front()->seq)];
  }

  // The walk's thread, with the lock held: waits for `ready`, showing progress.
  template <typename Ready>
  void WaitTicking(std::unique_lock<std::mutex>& lock, Ready ready) {
    walkWaits_ = true;
    while (!ready()) {
      if (room_.wait_for(lock, kTick) == std::cv_status::timeout && tick_) {
        lock.unlock();
        tick_();
        lock.lock();
      }
    }
    walkWaits_ = false;
  }

  // A worker, with the lock held: waits for `ready`, working on handed-over
  // messages meanwhile, so that a wait never holds up the one it waits for.
  template <typename Ready>
  void WaitHelping(std::unique_lock<std::mutex>& lock, Ready ready) {
    while (!ready()) {
      if (RunTasks(lock)) continue;
      ++sleepers_;
      changed_.wait(lock);
      --sleepers_;
    }
  }

  void Wake() {
    if (sleepers_ > 0) changed_.notify_all();
  }

  void Add(std::unique_ptr<Entry> entry) {
    if (tick_) tick_();
    std::unique_lock<std::mutex> lock(mutex_);
    // Once full, until half empty: a wake-up per mail file committed cost a
    // context switch each.
    if (entries_.size() >= kMailFilesCap)
      WaitTicking(lock, [&] { return entries_.size() <= kMailFilesCap / 2; });
    entry->seq = nextSeq_++;
    const bool done = entry->done;
    entries_.push_back(std::move(entry));
    AdvanceBases();
    if (done) {
      Commit(lock);
    } else {
      Wake();
    }
  }

  // With the lock held: every mail file whose earlier ones are all cut learns
  // the number of messages before it.
  void AdvanceBases() {
    bool advanced = false;
    while (basedSeq_ < nextSeq_) {
      Entry& entry = At(basedSeq_);
      if (entry.base < 0) {
        entry.base = nextBase_;
        advanced = true;
      }
      if (!entry.counted) break;
      nextBase_ += entry.messages;
      ++basedSeq_;
    }
    if (advanced) Wake();
  }

  void RunWorker(int worker) {
    Held held;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (RunTasks(lock)) continue;
      // Failures of the walk need no worker and may be committed already.
      cutSeq_ = entries_.empty() ? nextSeq_ : std::max(cutSeq_, entries_.front()->seq);
      while (cutSeq_ < nextSeq_ && At(cutSeq_).taken) ++cutSeq_;
      if (cutSeq_ < nextSeq_) {
        Entry& entry = At(cutSeq_++);
        entry.taken = true;
        Cut(entry, worker, held, lock);
        continue;
      }
      if (stopping_) return;
      ++sleepers_;
      changed_.wait(lock);
      --sleepers_;
    }
  }

  // With the lock held: takes a share of the handed-over messages and works
  // on them; false when there were none.
  bool RunTasks(std::unique_lock<std::mutex>& lock) {
    if (tasks_.empty()) return false;
    std::vector<Task> batch;
    const std::size_t share = std::min(
        kBatch, std::max<std::size_t>(1, tasks_.size() / static_cast<std::size_t>(workers_)));
    for (std::size_t i = 0; i < share; ++i) {
      batch.push_back(std::move(tasks_.front()));
      tasks_.pop_front();
    }
    lock.unlock();
    for (Task& task : batch) {
      MessageOutcome& outcome = task.batch->messages[task.index];
      if (!task.entry->abandoned) {
        job_->Work(task.entry->unit, task.batch->firstK + static_cast<std::int64_t>(task.index),
                   task.number, std::string_view(task.data).substr(task.offset, task.size),
                   outcome);
        outcome.worked = true;
        if (!outcome.error.empty()) task.entry->abandoned = true;
      }
      if (task.data.capacity() > kReuseBytes) std::string().swap(task.data);
    }
    lock.lock();
    for (Task& task : batch) {
      --task.batch->pending;
      bytes_ -= task.bytes;
      if (spent_.size() < kReuseCount && task.data.capacity() > 0)
        spent_.push_back(std::move(task.data));
    }
    Wake();
    Commit(lock);
    return true;
  }

  void Cut(Entry& entry, int worker, Held& held, std::unique_lock<std::mutex>& lock);
  void Publish(Entry& entry, Batch batch, std::vector<Task>* tasks, std::size_t bytes,
               std::unique_lock<std::mutex>& lock);
  void Commit(std::unique_lock<std::mutex>& lock);

  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& thread : threads_) thread.join();
    threads_.clear();
  }

  std::mutex mutex_;
  std::condition_variable changed_;             // workers: work, room, numbers or a stop
  std::condition_variable room_;                // the walk's thread: a mail file committed
  std::deque<std::unique_ptr<Entry>> entries_;  // walk order, not yet committed
  std::int64_t nextSeq_ = 0;                    // of the next entry added
  std::int64_t cutSeq_ = 0;                     // the first entry no worker may have taken
  std::int64_t basedSeq_ = 0;                   // the first entry whose count is not yet known
  std::int64_t nextBase_ = 0;
  std::int64_t stopSeq_ = -1;              // where a signal stops the run, once one did
  std::atomic<std::int64_t> headSeq_{0};   // the oldest entry: it never waits for room
  std::atomic<std::size_t> published_{0};  // messages published and not yet committed
  std::deque<Task> tasks_;
  std::size_t bytes_ = 0;           // of the tasks not yet done
  std::vector<std::string> spent_;  // buffers of done tasks, for the cutters
  int sleepers_ = 0;
  bool walkWaits_ = false;
  bool committing_ = false;
  bool stopping_ = false;
  bool dropping_ = false;       // the committing thread only: a signal stopped the run before
  std::int64_t mailFiles_ = 0;  // the walk's thread only
  Tally tally_;                 // the committing thread only
  std::unique_ptr<Job> job_;
  CutFunction cut_;
  std::function<void()> tick_;
  int workers_;
  std::vector<std::thread> threads_;
};

// Where a worker's cutter hands the messages of its mail file.
class Pool::Sink : public MessageSink {
 public:
  Sink(Pool& pool, Entry& entry, Held& held)
      : pool_(pool), entry_(entry), job_(*pool.job_), held_(held) {
    held_.texts.clear();
    held_.ends.clear();
  }

  bool Stopping() override {
    if (platform::Interruption() == 0) return false;
    std::lock_guard<std::mutex> lock(pool_.mutex_);
    return entry_.seq >= pool_.StopSeq();
  }

  void Opened(std::uint64_t size) override {
    handOver_ = job_.Works() && size >= kLarge;
    if (!job_.Works() || !job_.NeedsNumbers(entry_.unit)) return;
    // The numbers: known already when every mail file before is cut; waited
    // for by a large one; else its messages are held until they are known.
    std::unique_lock<std::mutex> lock(pool_.mutex_);
    if (handOver_) pool_.WaitHelping(lock, [&] { return entry_.base >= 0; });
    base_ = entry_.base;
    if (base_ < 0) held_.texts.reserve(static_cast<std::size_t>(size));
  }

  void Message(std::string_view text, std::string* owner) override {
    batch_.messages.emplace_back();
    MessageOutcome& outcome = batch_.messages.back();
    outcome.size = text.size();
    const std::int64_t k = batch_.firstK + static_cast<std::int64_t>(batch_.messages.size()) - 1;
    if (!job_.Works() || entry_.abandoned) {
      // Nothing to do for it: it is only counted.
    } else if (handOver_) {
      HandOver(k, text, owner);
      return;
    } else if (job_.NeedsNumbers(entry_.unit) && base_ < 0) {
      held_.texts.append(text);
      held_.ends.push_back(held_.texts.size());
      return;  // published once the numbers are known
    } else {
      job_.Work(entry_.unit, k, base_ < 0 ? 0 : base_ + k, text, outcome);
      outcome.worked = true;
      if (!outcome.error.empty()) entry_.abandoned = true;
    }
    if (batch_.messages.size() >= kBatch) Publish();
  }

  // The mail file is cut: what is left goes out, a verify's messages once
  // their numbers are known.
  void Finish(std::unique_lock<std::mutex>& lock) {
    entry_.messages += static_cast<std::int64_t>(batch_.messages.size());
    entry_.counted = true;
    pool_.AdvanceBases();
    if (!held_.ends.empty()) {
      pool_.WaitHelping(lock, [&] { return entry_.base >= 0; });
      lock.unlock();
      std::size_t from = 0;
      for (std::size_t i = 0; i < held_.ends.size() && !entry_.abandoned; ++i) {
        MessageOutcome& outcome = batch_.messages[i];
        const std::int64_t k = batch_.firstK + static_cast<std::int64_t>(i);
        job_.Work(entry_.unit, k, entry_.base + k,
                  std::string_view(held_.texts).substr(from, held_.ends[i] - from), outcome);
        outcome.worked = true;
        if (!outcome.error.empty()) entry_.abandoned = true;
        from = held_.ends[i];
      }
      lock.lock();
    }
    if (!batch_.messages.empty() || !tasks_.empty())
      pool_.Publish(entry_, std::move(batch_), &tasks_, taskBytes_, lock);
  }

 private:
  void HandOver(std::int64_t k, std::string_view text, std::string* owner) {
    Task task;
    task.entry = &entry_;
    task.index = batch_.messages.size() - 1;
    task.number = base_ < 0 ? 0 : base_ + k;
    task.size = text.size();
    if (owner != nullptr) {
      // A large message: its buffer, rather than a copy.
      task.offset = static_cast<std::size_t>(text.data() - owner->data());
      task.data = std::move(*owner);
      task.bytes = task.data.size();
    } else {
      if (!reuse_.empty()) {
        task.data = std::move(reuse_.back());
        reuse_.pop_back();
      }
      task.data.assign(text);
      task.offset = 0;
      // What it holds, not what it uses: a reused buffer may be larger.
      task.bytes = task.data.capacity();
    }
    taskBytes_ += task.bytes;
    tasks_.push_back(std::move(task));
    if (tasks_.size() >= kBatch || taskBytes_ >= kBatchBytes) Publish();
  }

  void Publish() {
    std::unique_lock<std::mutex> lock(pool_.mutex_);
    entry_.messages += static_cast<std::int64_t>(batch_.messages.size());
    const std::int64_t next = batch_.firstK + static_cast<std::int64_t>(batch_.messages.size());
    pool_.Publish(entry_, std::move(batch_), &tasks_, taskBytes_, lock);
    if (reuse_.empty()) reuse_.swap(pool_.spent_);
    lock.unlock();
    batch_ = Batch();
    batch_.firstK = next;
    taskBytes_ = 0;
  }

  Pool& pool_;
  Entry& entry_;
  Job& job_;
  bool handOver_ = false;
  std::int64_t base_ = -1;  // the messages before its first, when known as it was opened
  Batch batch_;
  std::vector<Task> tasks_;  // handed over with the batch
  std::size_t taskBytes_ = 0;
  std::vector<std::string> reuse_;  // buffers to copy messages into
  // Messages until their numbers are known: the worker's buffers, whose pages
  // are touched already (first touching fresh memory for every mail file cost
  // a rerun 70 % more CPU than one thread).
  Held& held_;
};

void Pool::Cut(Entry& entry, int worker, Held& held, std::unique_lock<std::mutex>& lock) {
  if (platform::Interruption() != 0 && entry.seq > StopSeq()) entry.begun = false;
  lock.unlock();
  Sink sink(*this, entry, held);
  if (entry.begun) {
    platform::SetThreadWork(entry.seq + 1);
    entry.unit.failure = cut_(worker, entry.unit.source, sink);
    platform::SetThreadWork(0);
  }
  lock.lock();
  sink.Finish(lock);
  entry.done = true;
  Commit(lock);
}

// With the lock held. Waits, working meanwhile, while the messages or the
// bytes in flight are over their caps: not for the oldest mail file, whose
// commits are what makes room, and not for a single message larger than the
// cap.
void Pool::Publish(Entry& entry, Batch batch, std::vector<Task>* tasks, std::size_t bytes,
                   std::unique_lock<std::mutex>& lock) {
  WaitHelping(lock, [&] {
    return (published_ < kMessagesCap || entry.seq == headSeq_) &&
           (bytes_ == 0 || bytes_ + bytes <= kBytesCap);
  });
  published_ += batch.messages.size();
  batch.pending = tasks->size();
  entry.batches.push_back(std::move(batch));
  Batch* published = &entry.batches.back();
  for (Task& task : *tasks) {
    task.batch = published;
    tasks_.push_back(std::move(task));
  }
  bytes_ += bytes;
  if (!tasks->empty()) {
    tasks->clear();
    Wake();
  }
  if (entry.seq == headSeq_) Commit(lock);
}

// With the lock held: commits the batches at the head of the queue that are
// done, in order, with the lock released while it renames; one thread at a
// time commits, so commits keep their order.
void Pool::Commit(std::unique_lock<std::mutex>& lock) {
  if (committing_) return;
  committing_ = true;
  std::size_t committed = 0;
  while (!entries_.empty()) {
    Entry& head = *entries_.front();
    headSeq_ = head.seq;
    std::vector<Batch> ready;
    while (!head.batches.empty() && head.batches.front().pending == 0) {
      ready.push_back(std::move(head.batches.front()));
      head.batches.pop_front();
    }
    const bool finished = head.done && head.batches.empty();
    if (ready.empty() && !finished) break;
    const bool stopsHere = finished && platform::Interruption() != 0 && head.seq >= StopSeq();
    lock.unlock();
    const bool keep = !dropping_ && head.begun;
    for (Batch& batch : ready) {
      for (std::size_t i = 0; i < batch.messages.size(); ++i)
        job_->Commit(head.unit, batch.firstK + static_cast<std::int64_t>(i), batch.messages[i],
                     tally_, keep);
      committed += batch.messages.size();
    }
    if (finished) {
      if (!keep) {
        job_->Undo(head.unit);  // nothing of it is reported
      } else if (head.unit.mailFile == 0) {
        tally_.Report().Fail(std::move(*head.unit.failure));
      } else {
        tally_.EndMailFile(head.unit.source, head.unit.folder, std::move(head.unit.failure));
      }
      if (stopsHere) dropping_ = true;
    }
    lock.lock();
    published_ -= committed;
    committed = 0;
    if (finished) entries_.pop_front();
  }
  if (!entries_.empty()) headSeq_ = entries_.front()->seq;
  committing_ = false;
  if (walkWaits_ && entries_.size() <= kMailFilesCap / 2) room_.notify_one();
  Wake();
}

}  // namespace

std::unique_ptr<MailFileQueue> MakeWorkers(RunKind kind, int workers, ExportReport& report,
                                           CutFunction cut, std::function<void()> tick,
                                           const std::string& newTarget) {
  std::unique_ptr<Job> job = kind == RunKind::kExport ? MakeWriteJob(newTarget)
                             : kind == RunKind::kList ? MakeListJob()
                                                      : MakeVerifyJob();
  return std::make_unique<Pool>(workers, report, std::move(job), std::move(cut), std::move(tick));
}

}  // namespace plenvar
