#include "walk/parallel_output.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "extract/extract.h"
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
constexpr std::size_t kBatch = 16;
constexpr std::size_t kBatchBytes = 1 << 20;
// A message at least this large is taken from the cutter rather than copied:
// first touching fresh memory is what costs on a message of hundreds of MB.
constexpr std::size_t kTakeOver = 1 << 20;

struct Item {
  enum Kind { kMessage, kEndOfFile, kFailure } kind;
  bool done = false;
  // A message:
  std::string mailFile;
  std::string folder;
  std::string temporary;
  std::string data;       // holds the text
  std::string_view text;  // the message within data
  std::size_t bytes = 0;  // counted against kBytesCap while it waits
  std::size_t size = 0;   // of the message
  bool folderExists = false;
  std::string error;  // why it could not be written; empty once written
  // The end of a mail file, or a failure of the walk:
  std::optional<Failure> failure;
};

}  // namespace

struct ParallelOutput {
  ExportReport* report;
  std::mutex mutex;
  std::condition_variable work;               // writers: messages to write, or stop
  std::condition_variable room;               // the cutter and Finish: something was committed
  std::deque<std::unique_ptr<Item>> pending;  // cut order, not yet committed
  std::deque<Item*> todo;                     // messages no writer has taken
  std::size_t bytes = 0;
  std::int64_t sequence = 0;  // names the temporary files
  int idle = 0;               // writers waiting for work
  bool waiting = false;       // the cutter or Finish waits for room
  bool committing = false;    // one thread commits at a time, outside the lock
  bool stopping = false;
  // Only the committing thread touches these, and the report and MessageCount.
  bool abandoned = false;                             // the current mail file lost a message file
  std::int64_t first = 0, messages = 0, written = 0;  // its message files so far
  // Only the cutter touches these: items are handed over in batches.
  std::vector<std::unique_ptr<Item>> outbox;
  std::size_t outbox_bytes = 0;
  std::vector<std::thread> writers;
};

namespace {

// Gives one finished item its outcome, as the one-thread program would have.
void CommitOne(ParallelOutput& output, Item& item) {
  if (item.kind == Item::kFailure) {
    output.report->Fail(std::move(*item.failure));
  } else if (item.kind == Item::kEndOfFile) {
    output.report->MailFileDone(item.mailFile, item.folder, output.first, output.messages,
                                output.written);
    if (!output.abandoned && item.failure) output.report->Fail(std::move(*item.failure));
    output.abandoned = false;
    output.first = output.messages = output.written = 0;
  } else if (output.abandoned) {
    if (item.error.empty()) platform::RemoveFile(item.temporary);
  } else {
    ++MessageCount;  // a message that cannot be written still uses its number
    const std::string path = item.folder + "\\" + MessageFileName(MessageCount);
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
      if (output.messages++ == 0) output.first = MessageCount;
      output.written += static_cast<std::int64_t>(item.size);
    } else {
      output.abandoned = true;
      output.report->Fail(NotWritten(path, std::move(error), item.mailFile));
    }
  }
}

// Called with the lock held: commits the finished items at the head of the
// queue in cut order. The renames run with the lock released, so that the
// cutter and the writers are not held up by them; the flag keeps commits in
// one thread at a time, and so in order.
void Commit(ParallelOutput& output, std::unique_lock<std::mutex>& lock) {
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

void Write(Item& item) {
  if (!item.folderExists) MakeLastFolderLevel(item.folder);
  try {
    platform::WriteNewFile(item.temporary, item.text);
  } catch (const Error& e) {
    item.error = e.reason;
  } catch (const std::exception& e) {
    item.error = e.what();
  }
  std::string().swap(item.data);
  item.text = {};
}

// A writer takes a share of the waiting messages at a time, so that the lock
// and the wake-ups are paid per batch rather than per message: with one wake-up
// per message, three futex calls a message took more time than the writing.
void RunWriter(ParallelOutput& output, int writers) {
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
    for (Item* item : batch) Write(*item);
    lock.lock();
    for (Item* item : batch) {
      item->done = true;
      output.bytes -= item->bytes;
    }
    batch.clear();
    Commit(output, lock);
  }
}

// Waits, with the lock held, until `ready` holds; the writers are woken
// first, since they may be sleeping on a part-filled batch.
template <typename Ready>
void WaitForRoom(ParallelOutput& output, std::unique_lock<std::mutex>& lock, Ready ready) {
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
void Flush(ParallelOutput& output) {
  if (output.outbox.empty()) return;
  std::unique_lock<std::mutex> lock(output.mutex);
  WaitForRoom(output, lock, [&] {
    return (output.bytes == 0 || output.bytes + output.outbox_bytes <= kBytesCap) &&
           output.pending.size() < kItemsCap;
  });
  for (auto& item : output.outbox) {
    if (item->kind == Item::kMessage) {
      item->temporary = item->folder + "\\" + MessageFileName(++output.sequence) + ".tmp";
      output.todo.push_back(item.get());
    } else {
      item->done = true;
    }
    output.pending.push_back(std::move(item));
  }
  output.bytes += output.outbox_bytes;
  output.outbox.clear();
  output.outbox_bytes = 0;
  if (output.idle > 0 && !output.todo.empty()) output.work.notify_all();
}

void Enqueue(ParallelOutput& output, std::unique_ptr<Item> item) {
  output.outbox_bytes += item->bytes;
  output.outbox.push_back(std::move(item));
  if (output.outbox.size() >= kBatch || output.outbox_bytes >= kBatchBytes) Flush(output);
}

}  // namespace

void ParallelOutputDeleter::operator()(ParallelOutput* output) const {
  Finish(*output);
  delete output;
}

ParallelOutputPtr StartParallelOutput(int writers, ExportReport* report) {
  ParallelOutputPtr output(new ParallelOutput);
  output->report = report;
  for (int i = 0; i < writers; ++i)
    output->writers.emplace_back(RunWriter, std::ref(*output), writers);
  return output;
}

void HandOver(ParallelOutput& output, const std::string& mailFile, std::string_view message,
              const std::string& targetFolder, bool folderExists, std::string* owner) {
  auto item = std::make_unique<Item>();
  item->kind = Item::kMessage;
  item->mailFile = mailFile;
  item->folder = targetFolder;
  item->folderExists = folderExists;
  if (owner != nullptr && message.size() >= kTakeOver) {
    const auto offset = static_cast<std::size_t>(message.data() - owner->data());
    item->data = std::move(*owner);
    item->text = std::string_view(item->data).substr(offset, message.size());
  } else {
    item->data.assign(message);
    item->text = item->data;
  }
  item->bytes = item->data.size();
  item->size = message.size();
  Enqueue(output, std::move(item));
}

void EndMailFile(ParallelOutput& output, const std::string& mailFile,
                 const std::string& targetFolder, std::optional<Failure> failure) {
  auto item = std::make_unique<Item>();
  item->kind = Item::kEndOfFile;
  item->mailFile = mailFile;
  item->folder = targetFolder;
  item->failure = std::move(failure);
  Enqueue(output, std::move(item));
}

void ReportInOrder(ParallelOutput& output, Failure failure) {
  auto item = std::make_unique<Item>();
  item->kind = Item::kFailure;
  item->failure = std::move(failure);
  Enqueue(output, std::move(item));
}

void Finish(ParallelOutput& output) {
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

}  // namespace plenvar
