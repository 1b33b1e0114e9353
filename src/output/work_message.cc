#include "output/work_message.h"

namespace plenvar {

void MailFileEnd::EndAt(std::int64_t k) {
  std::int64_t last = last_.load();
  while (k < last && !last_.compare_exchange_weak(last, k)) {
  }
}

bool WorkMessage(Job& job, const Unit& unit, MailFileEnd& end, std::int64_t k, std::int64_t number,
                 std::string_view text, MessageOutcome& outcome, bool final) {
  if (!ToWork(job, end, k)) return false;
  WorkSafely(job, unit, k, number, text, outcome, final);
  if (outcome.Failed() && job.FailureEndsMailFile()) end.EndAt(k);
  return true;
}

}  // namespace plenvar
