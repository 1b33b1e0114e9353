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

bool StartsAsLog(std::string_view head) {
  const std::size_t end = head.find('\n');
  if (end == std::string_view::npos) return false;
  std::string_view fields[9];
  std::size_t count = 0;
  for (std::string_view line = head.substr(0, end); count < 9;) {
    const std::size_t tab = line.find('\t');
    fields[count++] = line.substr(0, tab);
    if (tab == std::string_view::npos) break;
    line.remove_prefix(tab + 1);
  }
  const auto digits = [](std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
  };
  // "2026-12-09T18:33:01Z"
  const std::string_view time = fields[7];
  bool timed = time.size() == 20 && time[4] == '-' && time[7] == '-' && time[10] == 'T' &&
               time[13] == ':' && time[16] == ':' && time[19] == 'Z';
  for (const std::size_t at : {0, 5, 8, 11, 14, 17})
    timed = timed && digits(time.substr(at, at == 0 ? 4 : 2));
  return count == 8 && fields[0] == "run" && !fields[1].empty() &&
         (fields[2] == "export" || fields[2] == "list" || fields[2] == "verify") &&
         digits(fields[6]) && timed;
}

platform::OwnFile OpenRunLog(const std::string& path, RunLog* log) {
  platform::Keep(log->file);  // the run's account: left however the run ends
  const platform::OwnFile opened = platform::CreateOrReplaceOwn(path, StartsAsLog, &log->file);
  log->started = log->flushed = std::chrono::steady_clock::now();
  return opened;
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
