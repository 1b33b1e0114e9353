#include "walk/parallel_output.h"

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
  bool folderExists = false;
  std::string error;  // why it could not be written; empty once written
  // The end of a mail file, or a failure of the walk:
  std::optional<Failure> failure;
};

// The reason part of the platform's "path: reason".
std::string ReasonOf(const std::exception& e, const std::string& path) {
  const std::string what = e.what();
  return what.compare(0, path.size() + 2, path + ": ") == 0 ? what.substr(path.size() + 2) : what;
}

}  // namespace

struct ParallelOutput {
  ExportReport* report;
  std::mutex mutex;
  std::condition_variable work;               // writers: a message to write, or stop
  std::condition_variable room;               // the cutter and Finish: something was committed
  std::deque<std::unique_ptr<Item>> pending;  // cut order, not yet committed
  std::deque<Item*> todo;                     // messages no writer has taken
  std::size_t bytes = 0;
  std::int64_t sequence = 0;  // names the temporary files
  bool abandoned = false;     // the current mail file lost a message file
  bool stopping = false;
  std::vector<std::thread> writers;
};

namespace {

// Under the lock: commits the finished items at the head of the queue, in
// the order the one-thread program would have written and reported them.
void Commit(ParallelOutput& output) {
  while (!output.pending.empty() && output.pending.front()->done) {
    Item& item = *output.pending.front();
    if (item.kind == Item::kFailure) {
      output.report->Fail(item.failure->first, std::move(item.failure->second));
    } else if (item.kind == Item::kEndOfFile) {
      if (!output.abandoned && item.failure)
        output.report->Fail(item.failure->first, std::move(item.failure->second));
      output.abandoned = false;
    } else if (output.abandoned) {
      if (item.error.empty()) platform::RemoveFile(item.temporary);
    } else {
      ++MessageCount;  // a message that cannot be written still uses its number
      const std::string path = item.folder + "\\" + MessageFileName(MessageCount);
      std::string error = std::move(item.error);
      if (error.empty()) {
        try {
          platform::RenameReplacing(item.temporary, path);
        } catch (const std::exception& e) {
          error = ReasonOf(e, path);
          platform::RemoveFile(item.temporary);
        }
      }
      if (!error.empty()) {
        output.abandoned = true;
        std::string what = path;
        what.append(": ").append(error).append(" (the rest of ").append(item.mailFile);
        output.report->Fail(kMessageNotWritten, what.append(" was not exported)"));
      }
    }
    output.pending.pop_front();
  }
  output.room.notify_all();
}

void Write(Item& item) {
  if (!item.folderExists) {
    try {
      platform::MakeFolder(item.folder);
    } catch (const std::exception&) {
      // It normally exists already; if it truly is missing, the write says so.
    }
  }
  try {
    platform::WriteNewFile(item.temporary, item.text);
  } catch (const std::exception& e) {
    item.error = ReasonOf(e, item.temporary);
  }
  std::string().swap(item.data);
  item.text = {};
}

void RunWriter(ParallelOutput& output) {
  std::unique_lock<std::mutex> lock(output.mutex);
  for (;;) {
    output.work.wait(lock, [&] { return output.stopping || !output.todo.empty(); });
    if (output.todo.empty()) return;
    Item& item = *output.todo.front();
    output.todo.pop_front();
    lock.unlock();
    Write(item);
    lock.lock();
    item.done = true;
    output.bytes -= item.bytes;
    Commit(output);
  }
}

void Enqueue(ParallelOutput& output, std::unique_ptr<Item> item) {
  std::unique_lock<std::mutex> lock(output.mutex);
  if (item->kind == Item::kMessage) {
    output.room.wait(lock, [&] {
      return (output.bytes == 0 || output.bytes + item->bytes <= kBytesCap) &&
             output.pending.size() < kItemsCap;
    });
    item->temporary = item->folder + "\\" + MessageFileName(++output.sequence) + ".tmp";
    output.bytes += item->bytes;
    output.todo.push_back(item.get());
    output.pending.push_back(std::move(item));
    output.work.notify_one();
  } else {
    item->done = true;
    output.pending.push_back(std::move(item));
    Commit(output);
  }
}

}  // namespace

void ParallelOutputDeleter::operator()(ParallelOutput* output) const {
  Finish(*output);
  delete output;
}

ParallelOutputPtr StartParallelOutput(int writers, ExportReport* report) {
  ParallelOutputPtr output(new ParallelOutput);
  output->report = report;
  for (int i = 0; i < writers; ++i) output->writers.emplace_back(RunWriter, std::ref(*output));
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
  Enqueue(output, std::move(item));
}

void EndMailFile(ParallelOutput& output, std::optional<Failure> failure) {
  auto item = std::make_unique<Item>();
  item->kind = Item::kEndOfFile;
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
  {
    std::unique_lock<std::mutex> lock(output.mutex);
    output.room.wait(lock, [&] { return output.pending.empty(); });
    output.stopping = true;
  }
  output.work.notify_all();
  for (std::thread& writer : output.writers) writer.join();
  output.writers.clear();
}

}  // namespace plenvar
