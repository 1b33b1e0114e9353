// The progress of a run someone watches, drawn from the run's counts.
#ifndef PLENVAR_RUN_PROGRESS_H_
#define PLENVAR_RUN_PROGRESS_H_

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>

#include "base/control.h"
#include "platform/process.h"
#include "walk/walk.h"

namespace plenvar {

// The figures of a run, drawn alike by every system from the counts in
// `done`: "1,234/45,701 mail files  12.3/200.0 MB  3,456 messages  45.6 MB/s
// 0:12 left", no longer than `width`: the messages go first, then the rate,
// the time left and the megabytes; what is left is cut (to nothing for a
// width of 0).
std::string FormatProgress(const StoreSize& total, const RunControl& done, double seconds,
                           std::size_t width = platform::kAnyWidth);
// The part done, 0 to 1: bytes read against the bytes counted before the run.
double DoneFraction(const StoreSize& total, const RunControl& done);

// The progress of a run someone watches: a line on a terminal (POSIX), a
// window (Windows). Opened at once, then the store counted for its totals,
// then redrawn ten times a second from the counts in `control` by a thread of
// its own, so that neither the walk nor the workers wait on the display;
// closed when it goes. The window's Cancel sets the control's stop flag.
class ProgressLine {
 public:
  ProgressLine(const Selection& selection, RunControl& control);
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

 private:
  // The line or window, open while it lives: closed however the progress
  // ends, even when counting the store fails.
  struct Display {
    Display(const Selection& selection, RunControl& control);
    ~Display();
    Display(const Display&) = delete;
    Display& operator=(const Display&) = delete;
  };

  void Draw();

  Display display_;  // first: closed after the thread has ended
  const RunControl& control_;
  StoreSize total_;
  std::chrono::steady_clock::time_point started_;
  std::mutex mutex_;
  std::condition_variable done_;
  bool ending_ = false;
  std::thread thread_;
};

}  // namespace plenvar

#endif  // PLENVAR_RUN_PROGRESS_H_
