// Where a worker's cutter hands the messages of its mail file: each is worked
// on at once in the cutting thread, or held until its number is known (a
// rerun looks for it under that number), or, in a large mail file, handed
// over to every worker; outcomes go out to the pool in batches.
#ifndef PLENVAR_OUTPUT_WORKER_SINK_H_
#define PLENVAR_OUTPUT_WORKER_SINK_H_

#include <mutex>
#include <string>
#include <vector>

#include "output/pool.h"

namespace plenvar {

class WorkerSink : public MessageSink {
 public:
  WorkerSink(Pool& pool, Entry& entry, Pool::Held& held);

  void Opened(std::uint64_t size) override;
  void Message(std::string_view text, TextBuffer* owner) override;
  bool Stopping() override;
  // With the pool's lock held, once the cutter returned: counts the mail
  // file, works on the messages it held, and publishes the rest.
  void Finish(std::unique_lock<std::mutex>& lock);

 private:
  void Publish();

  Pool& pool_;
  Entry& entry_;
  Job& job_;
  Pool::Held& held_;
  bool handOver_ = false;   // a large mail file: its messages go to every worker
  bool numbers_ = false;    // its work needs the messages' numbers
  bool stopped_ = false;    // a stop cut it short
  std::int64_t base_ = -1;  // the messages before its first, when known as it was opened
  std::int64_t k_ = 0;      // messages cut so far
  Batch batch_;
  std::vector<Task> tasks_;  // handed over with the batch
  std::size_t taskBytes_ = 0;
  std::vector<std::string> reuse_;  // buffers to copy messages into
};

}  // namespace plenvar

#endif  // PLENVAR_OUTPUT_WORKER_SINK_H_
