#include "walk/run_log.h"

namespace plenvar {

namespace {

// Lines are gathered and written every 64 KiB or half second: a write per
// line would be one more system call per mail file, and a few dozen lines a
// run may lose to a kill is a fair price.
constexpr std::size_t kFlushBytes = std::size_t{64} * 1024;
constexpr std::chrono::milliseconds kFlushEvery{500};

}  // namespace

const char kLogSignature[] = "run\t";

bool OpenRunLog(const std::string& path, RunLog* log) {
  if (!platform::CreateOrReplaceOwn(path, kLogSignature, &log->file)) return false;
  log->started = log->flushed = std::chrono::steady_clock::now();
  return true;
}

void LogLine(RunLog& log, std::initializer_list<std::string_view> fields) {
  bool first = true;
  for (std::string_view field : fields) {
    if (!first) log.pending.push_back('\t');
    platform::AppendEscaped(field, &log.pending);
    first = false;
  }
  log.pending.push_back('\n');
  if (log.pending.size() >= kFlushBytes ||
      std::chrono::steady_clock::now() - log.flushed >= kFlushEvery) {
    FlushRunLog(log);
  }
}

void FlushRunLog(RunLog& log) {
  log.flushed = std::chrono::steady_clock::now();
  if (log.pending.empty() || !log.error.empty()) return;
  try {
    platform::Append(log.file, log.pending);
  } catch (const Error& e) {
    log.error = e.reason;
  }
  log.pending.clear();
}

}  // namespace plenvar
