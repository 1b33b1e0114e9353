// Throughput of SplitMailFile over a deterministic corpus (also with LF line
// ends), and over a file
// with a trigger line every ~100 bytes and no empty line (the case where a
// backward search per trigger line would be quadratic).
//
//   build/bench/split_bench [--benchmark_repetitions=5]
//
// The corpus and the output go to $PLENVAR_BENCH_DIR, else /dev/shm, else the
// temporary folder: a tmpfs keeps the disk's noise out of the figures.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "extract/extract.h"
#include "extract/line_reader.h"
#include "job/job.h"
#include "output/output.h"

namespace fs = std::filesystem;

namespace {

// Removes the benchmark's folder when the program ends.
struct Root {
  fs::path path;
  ~Root() { fs::remove_all(path); }
};

const fs::path& BenchRoot() {
  static const Root root{[] {
    const char* env = std::getenv("PLENVAR_BENCH_DIR");
    fs::path base = env != nullptr                 ? fs::path(env)
                    : fs::is_directory("/dev/shm") ? fs::path("/dev/shm")
                                                   : fs::temp_directory_path();
    fs::path dir = base / ("plenvar-bench-" + std::to_string(std::random_device()()));
    fs::create_directories(dir);
    return dir;
  }()};
  return root.path;
}

void Save(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary)
      .write(text.data(), static_cast<std::streamsize>(text.size()));
}

// One message: an envelope line, a few header lines with Received: among them,
// a blank line, a body of ~72-character lines, and the blank line after it.
void AppendMessage(std::mt19937& random, std::size_t body_size, std::string* out) {
  const auto id = random();
  *out += "From sender" + std::to_string(id % 1000) + "@example.com Mon Dec  7 10:00:00 2026\r\n";
  *out += "Return-Path: <sender@example.com>\r\n";
  for (int hop = 0; hop < 3; ++hop) {
    *out += "Received: from relay" + std::to_string(hop) +
            ".example.com by mx.example.org; Mon, 7 Dec 2026 10:00:0" + std::to_string(hop) +
            " +0000\r\n";
  }
  *out += "Date: Mon, 7 Dec 2026 10:00:00 +0000\r\nFrom: <sender@example.com>\r\n";
  *out += "Subject: message " + std::to_string(id) + "\r\nContent-Type: text/plain\r\n\r\n";
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string line(72, ' ');
  for (std::size_t written = 0; written < body_size; written += line.size() + 2) {
    for (char& c : line) c = kAlphabet[random() % 64];
    *out += line;
    *out += "\r\n";
  }
  *out += "\r\n";
}

struct Corpus {
  std::vector<std::string> files;
  std::int64_t bytes = 0;
  std::int64_t messages = 0;
};

// ~64 MB in 40 mail files; message bodies log-normal around 4 KB, one in 40
// a 200 KB+ attachment.
const Corpus& MailCorpus() {
  static const Corpus corpus = [] {
    Corpus c;
    std::mt19937 random(7);
    std::lognormal_distribution<double> size(std::log(3500.0), 0.7);
    for (int f = 0; f < 40; ++f) {
      std::string text;
      while (text.size() < 1'600'000) {
        std::size_t body = random() % 40 == 0 ? 200'000 + random() % 300'000
                                              : static_cast<std::size_t>(size(random));
        AppendMessage(random, body, &text);
        ++c.messages;
      }
      fs::path path = BenchRoot() / ("mailbox" + std::to_string(f) + ".msg");
      Save(path, text);
      c.files.push_back(path.string());
      c.bytes += static_cast<std::int64_t>(text.size());
    }
    return c;
  }();
  return corpus;
}

// The same mail files with LF line ends, as Unix tools write them.
const Corpus& LfMailCorpus() {
  static const Corpus corpus = [] {
    Corpus c = MailCorpus();
    for (std::string& file : c.files) {
      std::ifstream in(file, std::ios::binary);
      std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      std::string lf;
      lf.reserve(text.size());
      for (char ch : text) {
        if (ch != '\r') lf += ch;
      }
      file = fs::path(file).replace_extension(".lf.msg").string();
      Save(file, lf);
      c.bytes -= static_cast<std::int64_t>(text.size() - lf.size());
    }
    return c;
  }();
  return corpus;
}

// 100 MB, one message: a "Received:" line every ~100 bytes and no empty line.
const Corpus& TriggerCorpus() {
  static const Corpus corpus = [] {
    Corpus c;
    std::string text;
    text.reserve(100'000'100);
    while (text.size() < 100'000'000) {
      text +=
          "Received: from relay.example.com by mx.example.org; Mon, 7 Dec 2026 10:00:00 +0000\r\n";
      text += "X-Filler: abcdefgh\r\n";
    }
    fs::path path = BenchRoot() / "triggers.msg";
    Save(path, text);
    c.files.push_back(path.string());
    c.bytes = static_cast<std::int64_t>(text.size());
    c.messages = 1;
    return c;
  }();
  return corpus;
}

void RunSplit(benchmark::State& state, const Corpus& corpus) {
  int run = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const fs::path out = BenchRoot() / ("out" + std::to_string(run++));
    fs::create_directory(out);
    plenvar::ExportReport report;
    plenvar::RunControl control;
    auto output = plenvar::MakeSequential(
        plenvar::MakeJob(plenvar::RunKind::kExport), report,
        [](int, const std::string& path, plenvar::MessageSink& sink) {
          (void)plenvar::SplitMailFile(path, sink);
          return std::optional<plenvar::Failure>();
        },
        control);
    state.ResumeTiming();
    for (const std::string& file : corpus.files) output->MailFile(file, out.string());
    state.PauseTiming();
    output.reset();
    if (report.done.messages != corpus.messages) state.SkipWithError("wrong message count");
    fs::remove_all(out);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(state.iterations() * corpus.bytes);
  state.SetItemsProcessed(state.iterations() * corpus.messages);
}

// The argument is the line reader's block size.
void BM_SplitMailCorpus(benchmark::State& state) {
  plenvar::ReadBlockSize = static_cast<std::size_t>(state.range(0));
  RunSplit(state, MailCorpus());
}
void BM_SplitLfMailCorpus(benchmark::State& state) {
  plenvar::ReadBlockSize = 256 << 10;
  RunSplit(state, LfMailCorpus());
}
void BM_SplitTriggerEvery100Bytes(benchmark::State& state) {
  plenvar::ReadBlockSize = 256 << 10;
  RunSplit(state, TriggerCorpus());
}

BENCHMARK(BM_SplitMailCorpus)
    ->Arg(16 << 10)
    ->Arg(64 << 10)
    ->Arg(256 << 10)
    ->Arg(1 << 20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_SplitLfMailCorpus)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SplitTriggerEvery100Bytes)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
