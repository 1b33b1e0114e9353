// Runs the built program as a user would, under a time limit.
#ifndef PLENVAR_TESTS_E2E_RUN_PLENVAR_H_
#define PLENVAR_TESTS_E2E_RUN_PLENVAR_H_

#include <sys/resource.h>

#include <string>
#include <vector>

#include "test_util.h"

namespace plenvar::testing {

struct Process {
  int status = -1;
  std::string out;
  std::string err;
  long peakKb = 0;  // the largest resident memory it had
};

struct Faults {
  std::string fault;  // PLENVAR_FAULT for tests/e2e/fault_shim.cc
  rlim_t fileSizeLimit = RLIM_INFINITY;
  // Then SIGTERM, and SIGKILL 5 s later: a run that hangs ignoring SIGTERM ends too.
  int seconds = 30;
  // Standard output a pipe whose reader is gone, as in `plenvar ... | head -c 0`.
  bool readerGone = false;
};

// Runs plenvar with args in folder cwd, under a timeout so that a hang fails
// the test instead of stalling it (status 124, or -1 once killed).
Process RunPlenvar(const TempDir& dir, const std::vector<std::string>& args,
                   const Faults& faults = {});

}  // namespace plenvar::testing

#endif  // PLENVAR_TESTS_E2E_RUN_PLENVAR_H_
