#include "report/run_log.h"

#include <ctime>

#include "base/text.h"
#include "platform/process.h"

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

void LogRun(RunLog& log, std::string_view version, std::string_view mode, const std::string& source,
            const std::string& target, std::string_view mask, int writers) {
  const std::time_t now = std::time(nullptr);
  char started[32] = "";
  std::strftime(started, sizeof started, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
  LogLine(log, {"run", version, mode, platform::DisplayPath(source), platform::DisplayPath(target),
                mask, std::to_string(writers), started});
  // On disk at once: a log cut short by a kill is still recognised as ours.
  FlushRunLog(log);
}

void LogLine(RunLog& log, std::initializer_list<std::string_view> fields) {
  bool first = true;
  for (std::string_view field : fields) {
    if (!first) log.pending.push_back('\t');
    AppendEscaped(field, &log.pending);
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
