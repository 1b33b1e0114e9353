// Where a worker's cutter hands the messages of its mail file: each is worked
// on at once in the cutting thread, or held until its number is known (a
// rerun looks for it under that number), or, in a large mail file, shared
// among every worker; outcomes go out to the pool in batches.
#ifndef PLENVAR_OUTPUT_WORKER_SINK_H_
#define PLENVAR_OUTPUT_WORKER_SINK_H_

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "output/publisher.h"

namespace plenvar {

// What a worker keeps from one mail file to the next: the messages it holds
// until their numbers are known, in buffers whose pages are touched already
// (first touching fresh memory for every mail file cost a rerun 70 % more CPU
// than one thread).
struct HeldMessages {
  std::string texts;
  std::vector<std::size_t> ends;
};

class WorkerSink : public MessageSink {
 public:
  WorkerSink(Publisher& pool, Job& job, const PoolLimits& limits, Entry& entry, HeldMessages& held);

  void Opened(std::uint64_t size) override;
  void Message(std::string_view text, TextBuffer* owner) override;
  bool CutShort() override;
  // With the pool's lock held, once the cutter returned: counts the mail
  // file, works on the messages it held, and publishes the rest.
  void Finish(std::unique_lock<std::mutex>& lock);

 private:
  // How its messages are worked on, known once it is opened.
  struct Way {
    bool shared = false;               // a large mail file: its messages go to every worker
    bool numbers = false;              // its work needs the messages' numbers
    std::optional<std::int64_t> base;  // the messages before its first, if known as it was opened
  };
  // The batch being filled, and what goes out with it.
  struct Outgoing {
    Batch batch;
    std::vector<Task> tasks;  // shared with the batch
    std::size_t taskBytes = 0;
    std::vector<std::string> reuse;  // buffers to copy messages into
  };

  void Publish();

  Publisher& pool_;
  Job& job_;
  const PoolLimits& limits_;
  Entry& entry_;
  HeldMessages& held_;
  Way way_;
  bool cutShort_ = false;  // a stop cut it short
  std::int64_t k_ = 0;     // messages cut so far
  Outgoing out_;
};

}  // namespace plenvar

#endif  // PLENVAR_OUTPUT_WORKER_SINK_H_
