// What a worker's sink asks of the pool it works for: the pool's lock, the
// base of its mail file, and room to publish its outcomes in. The pool
// implements it; the sink sees nothing else of the pool.
#ifndef PLENVAR_OUTPUT_PUBLISHER_H_
#define PLENVAR_OUTPUT_PUBLISHER_H_

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "output/order.h"
#include "output/shared_tasks.h"

namespace plenvar {

class Publisher {
 public:
  virtual ~Publisher() = default;
  virtual std::unique_lock<std::mutex> Lock() = 0;
  // Whether the run was asked to stop. Without the lock.
  virtual bool Stopped() const = 0;
  // The rest with the lock held. Waits until `entry`'s base is known,
  // working on shared messages meanwhile.
  virtual void AwaitBase(const Entry& entry, std::unique_lock<std::mutex>& lock) = 0;
  // `entry` is cut: `messages` in all, `stopped` when a stop cut it short.
  virtual void Counted(Entry& entry, std::int64_t messages, bool stopped) = 0;
  // Publishes `batch`, with `tasks` (holding `bytes`) shared among the
  // workers, once there is room for it.
  virtual void Publish(Entry& entry, Batch batch, std::vector<Task>* tasks, std::size_t bytes,
                       std::unique_lock<std::mutex>& lock) = 0;
  // A cutter with no buffer left takes those that came back.
  virtual void Lend(std::vector<std::string>* reuse) = 0;
};

}  // namespace plenvar

#endif  // PLENVAR_OUTPUT_PUBLISHER_H_
