#include "output/shared_tasks.h"

#include <algorithm>

namespace plenvar {

namespace {

// Buffers of shared messages up to this size go back to the cutters, at
// most this many: a buffer one thread allocates and another frees costs both
// the allocator's lock.
constexpr std::size_t kReuseBytes = 64 << 10;
constexpr std::size_t kReuseCount = 128;

}  // namespace

void Pack(std::string_view text, TextBuffer* owner, std::vector<std::string>* reuse, Task* task) {
  task->size = text.size();
  if (owner != nullptr) {
    task->offset = static_cast<std::size_t>(text.data() - owner->data());
    task->large = std::move(*owner);
    task->bytes = task->large.size();
    return;
  }
  if (!reuse->empty()) {
    task->data = std::move(reuse->back());
    reuse->pop_back();
  }
  task->data.assign(text);
  task->offset = 0;
  task->bytes = task->data.capacity();
}

void Release(Task* task) {
  if (task->data.capacity() > kReuseBytes) std::string().swap(task->data);
  task->large = TextBuffer();
}

void SharedTasks::Add(std::vector<Task>* tasks, Batch* batch, std::size_t bytes) {
  for (Task& task : *tasks) {
    task.batch = batch;
    tasks_.push_back(std::move(task));
  }
  tasks->clear();
  bytes_ += bytes;
}

std::vector<Task> SharedTasks::TakeShare() {
  const std::size_t share = std::min(most_, std::max<std::size_t>(1, tasks_.size() / workers_));
  std::vector<Task> taken;
  for (std::size_t i = 0; i < share && !tasks_.empty(); ++i) {
    taken.push_back(std::move(tasks_.front()));
    tasks_.pop_front();
  }
  return taken;
}

void SharedTasks::Done(std::vector<Task>* tasks) {
  for (Task& task : *tasks) {
    --task.batch->pending;
    bytes_ -= task.bytes;
    if (spent_.size() < kReuseCount && task.data.capacity() > 0)
      spent_.push_back(std::move(task.data));
  }
  tasks->clear();
}

void SharedTasks::Lend(std::vector<std::string>* reuse) {
  if (reuse->empty()) reuse->swap(spent_);
}

}  // namespace plenvar
