// The cutter on the worst shapes of mail file, each at two sizes four times
// apart: the time per byte at each (the best of --runs, each with a fresh
// Cutter, so first touching its memory counts), and their ratio. The time is
// the cutting thread's CPU time, its page faults included: on a busy machine
// the time it waits for a core is not the cutter's. A cost that
// grows with the square of the size is four times per byte at the larger
// size; a linear one about one. With --check it exits 1 when a shape costs
// more than twice per byte at the larger size three times running (a busy
// machine may spoil one measurement, not three).
//
//   build/bench/worst_shapes [--mb SMALL] [--runs N] [--dir FOLDER] [--check] [SHAPE...]
//
// SMALL defaults to 16 (MB), the larger size is four times it; FOLDER to
// /dev/shm: a tmpfs keeps the disk out of the figures.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "extract/extract.h"

namespace fs = std::filesystem;

namespace {

struct Shape {
  const char* name;
  std::string_view head;  // once at the start
  std::string_view unit;  // then repeated up to the size
};

// Each is a way a mail file may cost more than its size: one line without an
// end (a zeroed tail); a line end a byte (lone CRs, each gaining its LF); a
// message whose body is one endless line; a cut every few bytes; and one
// large message in lines, whose room grows with it.
const Shape kShapes[] = {
    {"no-line-end", "", std::string_view("\0", 1)},
    {"lone-cr", "", "\r"},
    {"header-then-line", "Received: x\r\n\r\n", "a"},
    {"empty-messages", "", "Received: x\r\n\r\n"},
    {"message-in-lines", "Received: x\r\n\r\n",
     "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\r\n"},
};

void Write(const fs::path& path, const Shape& shape, std::uint64_t size) {
  std::ofstream out(path, std::ios::binary);
  out << shape.head;
  std::string chunk;
  while (chunk.size() < (1 << 20)) chunk += shape.unit;
  for (std::uint64_t left = size; left > 0;) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, chunk.size()));
    out.write(chunk.data(), static_cast<std::streamsize>(n));
    left -= n;
  }
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::exit(2);
  }
}

struct Counting : plenvar::MessageSink {
  std::uint64_t messages = 0, bytes = 0;
  void Message(std::string_view text, plenvar::TextBuffer*) override {
    ++messages;
    bytes += text.size();
  }
  bool CutShort() override { return false; }
};

// What one cut costs, and what it took.
struct Run {
  double seconds = 0;
  std::uint64_t messages = 0, room = 0;
};

double ThreadSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

Run Cut(const std::string& path) {
  plenvar::Cutter cutter;
  Counting sink;
  const double start = ThreadSeconds();
  plenvar::SplitMailFile(path, cutter, sink);
  return {ThreadSeconds() - start, sink.messages, cutter.work.capacity() + cutter.rest.capacity()};
}

// The best of `runs` cuts of a fresh file of `size` bytes of the shape.
Run Best(const fs::path& dir, const Shape& shape, std::uint64_t size, int runs) {
  const fs::path path = dir / shape.name;
  Write(path, shape, size);
  Run best;
  for (int i = 0; i < runs; ++i) {
    const Run run = Cut(path.string());
    if (i == 0 || run.seconds < best.seconds) best = run;
  }
  fs::remove(path);
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t mb = 16;
  int runs = 5;
  fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
  bool check = false;
  std::vector<std::string> only;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--mb" && i + 1 < argc) {
      mb = std::strtoull(argv[++i], nullptr, 10);
    } else if (arg == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--dir" && i + 1 < argc) {
      base = argv[++i];
    } else if (arg == "--check") {
      check = true;
    } else if (arg.rfind("--", 0) != 0) {
      only.push_back(arg);
    } else {
      std::fprintf(
          stderr,
          "usage: worst_shapes [--mb SMALL] [--runs N] [--dir FOLDER] [--check] [SHAPE...]\n");
      return 2;
    }
  }
  const fs::path dir = base / ("plenvar-worst-" + std::to_string(std::random_device()()));
  fs::create_directories(dir);
  const std::uint64_t small = mb << 20, large = small * 4;
  std::printf("%-18s %12s %12s %8s %10s %12s %12s\n", "shape", "ns/B small", "ns/B large", "ratio",
              "messages", "room small", "room large");
  bool failed = false;
  for (const Shape& shape : kShapes) {
    if (!only.empty() && std::find(only.begin(), only.end(), shape.name) == only.end()) continue;
    double ratio = 0;
    for (int attempt = 0; attempt < (check ? 3 : 1); ++attempt) {
      const Run a = Best(dir, shape, small, runs);
      const Run b = Best(dir, shape, large, runs);
      const double perA = a.seconds * 1e9 / static_cast<double>(small);
      const double perB = b.seconds * 1e9 / static_cast<double>(large);
      ratio = perB / perA;
      std::printf("%-18s %12.3f %12.3f %8.2f %10llu %10.1fMB %10.1fMB\n", shape.name, perA, perB,
                  ratio, static_cast<unsigned long long>(b.messages),
                  static_cast<double>(a.room) / (1 << 20), static_cast<double>(b.room) / (1 << 20));
      std::fflush(stdout);
      if (ratio <= 2) break;
    }
    if (ratio > 2) {
      std::printf("FAIL: %s costs %.2f times per byte at %llu MB what it costs at %llu MB\n",
                  shape.name, ratio, static_cast<unsigned long long>(large >> 20),
                  static_cast<unsigned long long>(mb));
      failed = true;
    }
  }
  fs::remove_all(dir);
  return check && failed ? 1 : 0;
}
