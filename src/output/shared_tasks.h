// The messages of a large mail file, shared among the workers: the one worker
// that cuts it packs each message into a task that any worker may work on, so
// that one large mailbox alone keeps every core busy. The queue of tasks, its
// cap on bytes, and the buffers that go back to the cutters. No threads: the
// pool calls it under its lock.
#ifndef PLENVAR_OUTPUT_SHARED_TASKS_H_
#define PLENVAR_OUTPUT_SHARED_TASKS_H_

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "extract/text_buffer.h"
#include "output/order.h"

namespace plenvar {

struct Task {
  Entry* entry = nullptr;
  Batch* batch = nullptr;  // set as it is published
  std::size_t index = 0;   // in the batch
  std::int64_t number = 0;
  // The message is the text of `data` (a copy) or of `large` (the buffer a
  // large message was cut in) from `offset` on, `size` long: tasks move, and
  // a short string's text moves with it.
  std::string data;
  TextBuffer large;
  std::size_t offset = 0;
  std::size_t size = 0;
  std::size_t bytes = 0;  // what it holds: a reused buffer may be larger than its message

  std::int64_t K() const { return batch->firstK + static_cast<std::int64_t>(index); }
  std::string_view Text() const {
    return (large.data() != nullptr ? large.view() : std::string_view(data)).substr(offset, size);
  }
};

// Packs a message into `task`: a large one (`owner` given) with its buffer,
// rather than a copy; a short one copied into a buffer from `reuse`, if any.
void Pack(std::string_view text, TextBuffer* owner, std::vector<std::string>* reuse, Task* task);

// Once worked on, outside the lock: frees a buffer too large to go back, and
// a large message's own.
void Release(Task* task);

class SharedTasks {
 public:
  // `workers` share what waits; a share is at most `most` tasks.
  SharedTasks(std::size_t bytesCap, std::size_t workers, std::size_t most)
      : cap_(bytesCap), workers_(workers), most_(most) {}
  bool Empty() const { return tasks_.empty(); }
  // Whether `bytes` more may wait: under the cap, or nothing waits (a single
  // message larger than the cap still goes).
  bool Fits(std::size_t bytes) const { return bytes_ == 0 || bytes_ + bytes <= cap_; }
  // Queues `tasks`, their messages in `batch`, holding `bytes`.
  void Add(std::vector<Task>* tasks, Batch* batch, std::size_t bytes);
  // A worker's share of what waits.
  std::vector<Task> TakeShare();
  // Worked on: their batches learn it, and their buffers go back to the cutters.
  void Done(std::vector<Task>* tasks);
  // A cutter with no buffer left takes those that came back.
  void Lend(std::vector<std::string>* reuse);

 private:
  std::deque<Task> tasks_;
  std::size_t bytes_ = 0;  // of the tasks not yet done
  std::size_t cap_, workers_, most_;
  std::vector<std::string> spent_;  // buffers of done tasks, for the cutters
};

}  // namespace plenvar

#endif  // PLENVAR_OUTPUT_SHARED_TASKS_H_
