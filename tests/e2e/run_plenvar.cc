#include "e2e/run_plenvar.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

namespace plenvar::testing {

// Runs plenvar with args in folder cwd, under a timeout so that a hang fails
// the test instead of stalling it (status 124, or -1 once killed).
Process RunPlenvar(const TempDir& dir, const std::vector<std::string>& args, const Faults& faults) {
  const std::string out = dir.Sub("stdout.txt");
  const std::string err = dir.Sub("stderr.txt");
  std::vector<std::string> argv = {"timeout", "-k", "5", std::to_string(faults.seconds),
                                   PLENVAR_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  pid_t child = fork();
  if (child == 0) {
    std::vector<char*> c_argv;
    for (std::string& a : argv) c_argv.push_back(a.data());
    c_argv.push_back(nullptr);
    if (chdir(dir.path.c_str()) != 0) _exit(126);
    if (!faults.fault.empty()) {
      setenv("PLENVAR_FAULT", faults.fault.c_str(), 1);
      setenv("LD_PRELOAD", PLENVAR_FAULT_SHIM, 1);
      setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);  // the shim comes first
    }
    if (faults.fileSizeLimit != RLIM_INFINITY) {
      const rlimit limit{faults.fileSizeLimit, faults.fileSizeLimit};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
      signal(SIGXFSZ, SIG_IGN);  // kept across exec: writes fail with EFBIG instead
    }
    dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
    int ends[2];
    if (faults.readerGone && (pipe(ends) != 0 || close(ends[0]) != 0 || dup2(ends[1], 1) != 1))
      _exit(126);
    signal(SIGPIPE, SIG_DFL);  // as a shell leaves it, whatever the test runner does
    dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    execvp("timeout", c_argv.data());
    _exit(127);
  }
  Process p;
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  p.peakKb = usage.ru_maxrss;
  p.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  p.out = ReadFile(out);
  p.err = ReadFile(err);
  std::filesystem::remove(out);
  std::filesystem::remove(err);
  return p;
}

}  // namespace plenvar::testing
