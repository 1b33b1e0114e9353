#include "run/progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

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

std::string FormatProgress(const StoreSize& total, const RunControl& done, double seconds,
                           std::size_t width) {
  const std::int64_t bytes = done.bytes.load();
  char megabytes[64];
  std::snprintf(megabytes, sizeof megabytes, "%.1f/%.1f MB", static_cast<double>(bytes) / 1e6,
                static_cast<double>(total.bytes) / 1e6);
  std::string speed = "--.- MB/s", left = "--:-- left";
  // A rate needs a moment of history before it means anything.
  if (seconds >= 0.5 && bytes > 0) {
    const double rate = static_cast<double>(bytes) / seconds;
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB/s", rate / 1e6);
    speed = text;
    left =
        Clock(total.bytes > bytes ? static_cast<double>(total.bytes - bytes) / rate : 0) + " left";
  }
  // In the order shown; a narrow terminal loses the least telling first.
  struct Part {
    std::string text;
    int rank;  // 0 is kept longest
  };
  std::vector<Part> parts = {
      {Grouped(done.mailFiles.load()) + "/" + Grouped(total.mailFiles) + " mail files", 0},
      {megabytes, 1},
      {Grouped(done.messages.load()) + " messages", 4},
      {speed, 3},
      {left, 2}};
  const auto join = [&parts] {
    std::string line;
    for (const Part& part : parts) line += (line.empty() ? "" : "  ") + part.text;
    return line;
  };
  std::string line = join();
  while (line.size() > width && parts.size() > 1) {
    parts.erase(std::max_element(parts.begin(), parts.end(),
                                 [](const Part& a, const Part& b) { return a.rank < b.rank; }));
    line = join();
  }
  if (line.size() > width) line.resize(width);
  return line;
}

double DoneFraction(const StoreSize& total, const RunControl& done) {
  if (total.bytes <= 0) return 0;
  return std::min(1.0, static_cast<double>(done.bytes.load()) / static_cast<double>(total.bytes));
}

ProgressLine::Display::Display(const Selection& selection, RunControl& control) {
  platform::OpenProgress(selection.source, selection.target, &control.stop);
}

ProgressLine::Display::~Display() { platform::CloseProgress(); }

ProgressLine::ProgressLine(const Selection& selection, RunControl& control)
    : display_(selection, control),
      control_(control),
      total_(MeasureStore(selection, &control)),
      started_(std::chrono::steady_clock::now()) {
  Draw();
  thread_ = std::thread([this] {
    std::unique_lock<std::mutex> lock(mutex_);
    // Ten redraws a second: a terminal written to for every small mail file
    // slows the run down.
    while (!done_.wait_for(lock, std::chrono::milliseconds(100), [this] { return ending_; }))
      Draw();
  });
}

ProgressLine::~ProgressLine() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    ending_ = true;
  }
  done_.notify_one();
  thread_.join();
}

void ProgressLine::Draw() {
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  const std::size_t width = platform::ProgressColumns();
  if (width == 0) return;  // a terminal of one column: any character would wrap
  platform::ShowProgress(FormatProgress(total_, control_, seconds, width),
                         DoneFraction(total_, control_));
}

}  // namespace plenvar
