// The per-message policy both drivers follow: a message is worked on unless a
// failure before it ended its mail file; a failure of its own ends the mail
// file there when the job says so, and where messages are worked on in any
// order the lowest such failure is the one kept.
#ifndef PLENVAR_OUTPUT_WORK_MESSAGE_H_
#define PLENVAR_OUTPUT_WORK_MESSAGE_H_

#include <atomic>
#include <cstdint>
#include <limits>
#include <string_view>

#include "job/job.h"

namespace plenvar {

// Where a mail file's work ends: read and moved by any worker without a lock.
class MailFileEnd {
 public:
  // Message k failed so that its mail file ends there; an earlier end stays.
  void EndAt(std::int64_t k);
  // Whether message k is to be worked on: no message before it ended the
  // mail file, whichever failed first.
  bool ToWork(std::int64_t k) const { return k <= last_.load(); }
  // For the next mail file, in a driver that works on one at a time.
  void Reset() { last_.store(std::numeric_limits<std::int64_t>::max()); }

 private:
  std::atomic<std::int64_t> last_{std::numeric_limits<std::int64_t>::max()};
};

// Whether message k of a mail file is to be worked on at all: the job works,
// and no failure before it ended the mail file.
inline bool ToWork(const Job& job, const MailFileEnd& end, std::int64_t k) {
  return job.Works() && end.ToWork(k);
}

// Works on message k of `unit` (see Job::Work) when it is to be worked on,
// and ends the mail file at it if it fails so. Returns whether it was worked
// on.
bool WorkMessage(Job& job, const Unit& unit, MailFileEnd& end, std::int64_t k, std::int64_t number,
                 std::string_view text, MessageOutcome& outcome, bool final);

}  // namespace plenvar

#endif  // PLENVAR_OUTPUT_WORK_MESSAGE_H_
