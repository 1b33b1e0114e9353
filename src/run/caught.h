// Where a run turns a thrown Error into a value: a refusal before the run
// starts, a reported failure once it has. The one catch of Error in run/.
#ifndef PLENVAR_RUN_CAUGHT_H_
#define PLENVAR_RUN_CAUGHT_H_

#include <optional>
#include <utility>

#include "base/error.h"

namespace plenvar {

// Runs `step`; the Error it threw, if any. Any other exception goes on.
template <typename Step>
std::optional<Error> ErrorFrom(Step&& step) {
  try {
    std::forward<Step>(step)();
  } catch (const Error& e) {
    return e;
  }
  return std::nullopt;
}

}  // namespace plenvar

#endif  // PLENVAR_RUN_CAUGHT_H_
