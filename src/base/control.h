// What the threads of a run share beside their work: the stop flag and the
// counts the progress line shows. Made once a run (run/), handed down to the
// walk, the cutters and the output; a signal handler only sets the flag.
#ifndef PLENVAR_BASE_CONTROL_H_
#define PLENVAR_BASE_CONTROL_H_

#include <atomic>
#include <cstdint>

namespace plenvar {

struct RunControl {
  // The signal that asked the run to stop; 0 while none did. Lock-free, so
  // that a signal handler may set it.
  std::atomic<int> stop{0};
  // How far cutting has come: added to by every cutter as it goes.
  std::atomic<std::int64_t> mailFiles{0};
  std::atomic<std::int64_t> bytes{0};     // read from the mail files
  std::atomic<std::int64_t> messages{0};  // cut from them

  bool Stopped() const { return stop.load(std::memory_order_relaxed) != 0; }
};

}  // namespace plenvar

#endif  // PLENVAR_BASE_CONTROL_H_
