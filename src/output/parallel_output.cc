// The output of several writers. The cutter hands each message over and goes
// on. A writer writes it to a temporary file named by its place in cut order.
// Then, in cut order, one place at a time (under a lock, in whichever thread
// finished the oldest message) gives it its number and final name, or
// deletes it when an earlier message of the same mail file could not be
// written, since the one-writer output would have ended that mail file
// there. The walk's own failures pass through the same queue, so the report
// keeps the walk's order.
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "output/output.h"
#include "output/pool.h"
#include "output/tally.h"
#include "output/target_folders.h"
#include "platform/platform.h"

namespace plenvar {

namespace {

// Bytes handed over and not yet written. Enough to keep every writer busy
// with messages of a few hundred KB; the cutter waits beyond it.
constexpr std::size_t kBytesCap = 32 << 20;
// Messages waiting to be committed behind one that is still being written.
constexpr std::size_t kItemsCap = 1 << 16;
// Items the cutter hands over at once, and messages a writer takes at once,
// at most; and the bytes after which the cutter hands over what it has.
constexpr std::size_t kBatch = 64;
constexpr std::size_t kBatchBytes = 1 << 20;
// The buffers of written messages up to this size go back to the cutter, at
// most this many at a time (8 MiB at worst): a buffer the cutter allocated and
// a writer freed cost both threads the allocator's lock, which on a store of
// small files was about 5 % of the run's time (perf, `single`).
constexpr std::size_t kReuseBytes = 64 << 10;
constexpr std::size_t kReuseCount = 2 * kBatch;

struct Pool {
  Pool(ExportReport& report, std::unique_ptr<PoolJob> what) : tally(report), job(std::move(what)) {}
  std::mutex mutex;
  std::condition_variable work;               // writers: messages to write, or stop
  std::condition_variable room;               // the cutter and Finish: something was committed
  std::deque<std::unique_ptr<Item>> pending;  // cut order, not yet committed
  std::deque<Item*> todo;                     // messages no writer has taken
  std::size_t bytes = 0;
  int idle = 0;             // writers waiting for work
  bool waiting = false;     // the cutter or Finish waits for room
  bool committing = false;  // one thread commits at a time, outside the lock
  bool stopping = false;
  // Only the committing thread touches this, and the report.
  Tally tally;
  std::unique_ptr<PoolJob> job;
  // Only the cutter touches these: items are handed over in batches.
  std::vector<std::unique_ptr<Item>> outbox;
  std::size_t outbox_bytes = 0;
  std::vector<std::string> reuse;  // buffers to copy messages into
  // Buffers of written messages, for the cutter to take at its next hand-over.
  std::vector<std::string> spent;
  std::vector<std::thread> writers;
};

// Gives one finished item its outcome, as the one-writer output would have.
void CommitOne(Pool& output, Item& item) {
  Tally& tally = output.tally;
  if (item.kind == Item::kFailure) {
    tally.Report().Fail(std::move(*item.failure));
  } else if (item.kind == Item::kEndOfFile) {
    tally.EndMailFile(item.names->mailFile, item.names->folder, std::move(item.failure));
  } else {
    output.job->Commit(item, tally);
  }
}

// Called with the lock held: commits the finished items at the head of the
// queue in cut order. The renames run with the lock released, so that the
// cutter and the writers are not held up by them; the flag keeps commits in
// one thread at a time, and so in order.
void Commit(Pool& output, std::unique_lock<std::mutex>& lock) {
  if (output.committing) return;
  output.committing = true;
  std::vector<std::unique_ptr<Item>> ready;
  while (!output.pending.empty() && output.pending.front()->done) {
    while (!output.pending.empty() && output.pending.front()->done) {
      ready.push_back(std::move(output.pending.front()));
      output.pending.pop_front();
    }
    lock.unlock();
    for (const auto& item : ready) CommitOne(output, *item);
    ready.clear();
    lock.lock();
  }
  output.committing = false;
  if (output.waiting) output.room.notify_all();
}

// A writer takes a share of the waiting messages at a time, so that the lock
// and the wake-ups are paid per batch rather than per message: with one wake-up
// per message, three futex calls a message took more time than the writing.
void RunWriter(Pool& output, int writers) {
  std::vector<Item*> batch;
  std::unique_lock<std::mutex> lock(output.mutex);
  for (;;) {
    ++output.idle;
    output.work.wait(lock, [&] { return output.stopping || !output.todo.empty(); });
    --output.idle;
    if (output.todo.empty()) return;
    const std::size_t share = std::max<std::size_t>(1, output.todo.size() / writers);
    for (std::size_t i = 0; i < share && i < kBatch; ++i) {
      batch.push_back(output.todo.front());
      output.todo.pop_front();
    }
    lock.unlock();
    for (Item* item : batch) {
      output.job->Work(*item);
      item->text = {};
      if (item->data.capacity() > kReuseBytes) std::string().swap(item->data);
    }
    lock.lock();
    for (Item* item : batch) {
      item->done = true;
      output.bytes -= item->bytes;
      if (output.spent.size() < kReuseCount) {
        output.spent.push_back(std::move(item->data));
      } else {
        std::string().swap(item->data);
      }
    }
    batch.clear();
    Commit(output, lock);
  }
}

// Waits, with the lock held, until `ready` holds; the writers are woken
// first, since they may be sleeping on a part-filled batch.
template <typename Ready>
void WaitForRoom(Pool& output, std::unique_lock<std::mutex>& lock, Ready ready) {
  while (!ready()) {
    output.work.notify_all();
    Commit(output, lock);
    if (ready()) break;
    output.waiting = true;
    output.room.wait(lock);
    output.waiting = false;
  }
}

// Hands the cutter's batch to the writers: one lock and at most one wake-up
// for many items.
void Flush(Pool& output) {
  if (output.outbox.empty()) return;
  std::unique_lock<std::mutex> lock(output.mutex);
  WaitForRoom(output, lock, [&] {
    return (output.bytes == 0 || output.bytes + output.outbox_bytes <= kBytesCap) &&
           output.pending.size() < kItemsCap;
  });
  for (auto& item : output.outbox) {
    if (item->kind == Item::kMessage) {
      output.todo.push_back(item.get());
    } else {
      item->done = true;
    }
    output.pending.push_back(std::move(item));
  }
  output.bytes += output.outbox_bytes;
  if (output.reuse.empty()) output.reuse.swap(output.spent);
  output.outbox.clear();
  output.outbox_bytes = 0;
  if (output.idle > 0 && !output.todo.empty()) output.work.notify_all();
}

void Enqueue(Pool& output, std::unique_ptr<Item> item) {
  output.outbox_bytes += item->bytes;
  output.outbox.push_back(std::move(item));
  if (output.outbox.size() >= kBatch || output.outbox_bytes >= kBatchBytes) Flush(output);
}

// Returns once every item handed over is committed; stops the writers.
void Drain(Pool& output) {
  if (output.writers.empty()) return;
  Flush(output);
  {
    std::unique_lock<std::mutex> lock(output.mutex);
    WaitForRoom(output, lock, [&] { return output.pending.empty() && !output.committing; });
    output.stopping = true;
  }
  output.work.notify_all();
  for (std::thread& writer : output.writers) writer.join();
  output.writers.clear();
}

// Called from the walk's thread only.
class PooledOutput : public Output {
 public:
  PooledOutput(int writers, ExportReport& report, std::unique_ptr<PoolJob> job)
      : pool_(report, std::move(job)) {
    for (int i = 0; i < writers; ++i)
      pool_.writers.emplace_back(RunWriter, std::ref(pool_), writers);
  }
  ~PooledOutput() override { Drain(pool_); }

  void BeginMailFile(const std::string& source, const std::string& targetFolder) override {
    names_ = std::make_shared<const MailFileNames>(MailFileNames{source, targetFolder});
    folderExists_ = pool_.job->BeginFolder(targetFolder);
  }

  // Waits while the bytes not yet written are over the cap (a single larger
  // message still goes through).
  void Message(std::string_view text, std::string* owner) override {
    auto item = NewItem(Item::kMessage);
    // A message handed over is not yet written: its folder is only known to
    // exist if it was before.
    item->folderExists = folderExists_;
    if (owner != nullptr) {
      const auto offset = static_cast<std::size_t>(text.data() - owner->data());
      item->data = std::move(*owner);
      owner->clear();
      item->text = std::string_view(item->data).substr(offset, text.size());
      // Room the cutter made for the whole file was mostly never written.
      item->bytes = item->data.size();
    } else {
      if (!pool_.reuse.empty()) {
        item->data = std::move(pool_.reuse.back());
        pool_.reuse.pop_back();
      }
      item->data.assign(text);
      item->text = item->data;
      // What it holds, not what it uses: a reused buffer may be larger.
      item->bytes = item->data.capacity();
    }
    item->size = text.size();
    pool_.job->Prepare(*item);
    Enqueue(pool_, std::move(item));
  }

  void EndMailFile(std::optional<Failure> failure) override {
    auto item = NewItem(Item::kEndOfFile);
    item->failure = std::move(failure);
    Enqueue(pool_, std::move(item));
  }

  void Skip(Failure failure) override {
    auto item = NewItem(Item::kFailure);
    item->failure = std::move(failure);
    Enqueue(pool_, std::move(item));
  }

  void Finish() override {
    Drain(pool_);
    pool_.job->Finish(pool_.tally);
  }

 private:
  std::unique_ptr<Item> NewItem(Item::Kind kind) const {
    auto item = std::make_unique<Item>();
    item->kind = kind;
    item->names = names_;
    return item;
  }

  Pool pool_;
  std::shared_ptr<const MailFileNames> names_ = std::make_shared<const MailFileNames>();
  bool folderExists_ = false;
};

// Writes each message to a temporary file named by its place in cut order,
// and at its commit gives it its number and final name.
class WriteJob : public PoolJob {
 public:
  bool BeginFolder(const std::string& folder) override { return folders_.Ensure(folder); }

  // The temporary name is made in the writer's thread: the cutting thread
  // is the one the others wait for.
  void Prepare(Item& item) override { item.number = ++sequence_; }

  void Work(Item& item) override {
    const std::string& folder = item.names->folder;
    if (!item.folderExists) MakeLastFolderLevel(folder);
    item.temporary = folder + "\\" + MessageFileName(item.number) + ".tmp";
    try {
      platform::WriteNewFile(item.temporary, item.text);
    } catch (const Error& e) {
      item.error = e.reason;
    } catch (const std::exception& e) {
      item.error = e.what();
    }
  }

  void Commit(Item& item, Tally& tally) override {
    if (tally.Abandoned()) {
      if (item.error.empty()) platform::RemoveFile(item.temporary);
      return;
    }
    const std::int64_t number = tally.Next();
    const std::string path = item.names->folder + "\\" + MessageFileName(number);
    std::string error = std::move(item.error);
    if (error.empty()) {
      try {
        platform::RenameReplacing(item.temporary, path);
      } catch (const Error& e) {
        error = e.reason;
        platform::RemoveFile(item.temporary);
      }
    }
    if (error.empty()) {
      tally.Written(number, item.size);
    } else {
      tally.NotWritten(path, std::move(error), item.names->mailFile);
    }
  }

  // Only once every message file has its final name: a flush before the last
  // renames would leave them off the disk.
  void Finish(Tally& tally) override {
    if (platform::Interruption() == 0) folders_.Flush(tally.Report());
  }

 private:
  TargetFolders folders_;      // the walk's thread only
  std::int64_t sequence_ = 0;  // names the temporary files; the walk's thread only
};

}  // namespace

std::unique_ptr<Output> MakePooledOutput(int writers, ExportReport& report,
                                         std::unique_ptr<PoolJob> job) {
  return std::make_unique<PooledOutput>(writers, report, std::move(job));
}

std::unique_ptr<Output> MakeParallelOutput(int writers, ExportReport& report) {
  return MakePooledOutput(writers, report, std::make_unique<WriteJob>());
}

}  // namespace plenvar
