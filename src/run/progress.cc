#include <cmath>
#include <cstdio>

#include "run/run.h"

namespace plenvar {

namespace {

// 1234567 as "1,234,567".
std::string Grouped(std::int64_t n) {
  std::string digits = std::to_string(n);
  for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  return digits;
}

std::string Clock(double seconds) {
  const long long s = std::llround(seconds);
  char text[32];
  if (s >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
  }
  return text;
}

}  // namespace

std::string FormatProgress(const StoreSize& total, const Progress& done, double seconds) {
  char megabytes[64];
  std::snprintf(megabytes, sizeof megabytes, "%.1f/%.1f MB", static_cast<double>(done.bytes) / 1e6,
                static_cast<double>(total.bytes) / 1e6);
  std::string line = Grouped(done.mailFiles) + "/" + Grouped(total.mailFiles) + " mail files  " +
                     megabytes + "  " + Grouped(done.messages) + " messages";
  // A rate needs a moment of history before it means anything.
  if (seconds < 0.5 || done.bytes == 0) return line + "  --.- MB/s  --:-- left";
  const double rate = static_cast<double>(done.bytes) / seconds;
  const double left =
      total.bytes > done.bytes ? static_cast<double>(total.bytes - done.bytes) / rate : 0;
  char speed[32];
  std::snprintf(speed, sizeof speed, "  %.1f MB/s  ", rate / 1e6);
  return line + speed + Clock(left) + " left";
}

void UpdateProgress(ProgressLine& line, const Progress& done) {
  const auto now = std::chrono::steady_clock::now();
  // At most ten redraws a second: a terminal that is written to for every
  // small mail file slows the run down.
  if (line.drawn && now - line.shown < std::chrono::milliseconds(100)) return;
  line.shown = now;
  line.drawn = true;
  platform::ShowProgress(
      FormatProgress(line.total, done, std::chrono::duration<double>(now - line.started).count()));
}

}  // namespace plenvar
