#include "test_util.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "extract/line_reader.h"
#include "job/job.h"
#include "output/output.h"

namespace fs = std::filesystem;

namespace plenvar::testing {

TempDir::TempDir() : TempDir(fs::temp_directory_path()) {}

TempDir::TempDir(const fs::path& base) {
  std::error_code error;
  const fs::path under = fs::is_directory(base, error) ? base : fs::temp_directory_path();
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    path = under / ("plenvar-test-" + std::to_string(random()));
    if (fs::create_directory(path)) return;
  }
  throw std::runtime_error("cannot make a temporary folder");
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path, ignored);
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const fs::path& path, std::string_view data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::vector<std::string> ListNames(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> ReadMessages(const fs::path& folder) {
  std::vector<std::string> messages;
  for (const std::string& name : ListNames(folder)) messages.push_back(ReadFile(folder / name));
  return messages;
}

BlockSize::BlockSize(std::size_t size) : saved(ReadBlockSize) { ReadBlockSize = size; }

BlockSize::~BlockSize() { ReadBlockSize = saved; }

Tree ReadTree(const fs::path& root) {
  Tree tree;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string name = entry.path().lexically_relative(root).generic_string();
    if (entry.is_directory()) {
      tree[name + "/"] = "";
    } else {
      tree[name] = ReadFile(entry.path());
    }
  }
  return tree;
}

void MakeTree(const fs::path& root, const Tree& tree) {
  for (const auto& [name, content] : tree) {
    if (!name.empty() && name.back() == '/') {
      fs::create_directories(root / name);
    } else {
      fs::create_directories((root / name).parent_path());
      WriteFile(root / name, content);
    }
  }
}

void Latch::CountDown() {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (--count_ <= 0) open_.notify_all();
}

bool Latch::Wait(double seconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  return open_.wait_for(lock, std::chrono::duration<double>(seconds),
                        [this] { return count_ <= 0; });
}

void WithinSeconds(double seconds, const std::string& what, const std::function<void()>& body) {
  Latch done;
  std::thread thread([&] {
    body();
    done.CountDown();
  });
  if (!done.Wait(seconds)) {
    std::fprintf(stderr, "FAILED: %s did not end within %.0f s\n", what.c_str(), seconds);
    std::fflush(stderr);
    std::_Exit(1);
  }
  thread.join();
}

void ScriptedStore::Add(const std::string& name, Script script) {
  const std::lock_guard<std::mutex> lock(mutex_);
  scripts_[name] = std::move(script);
}

CutFunction ScriptedStore::Cut() {
  return [this](int, const std::string& path, MessageSink& sink) -> std::optional<Failure> {
    Script script;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      script = scripts_.at(path);
    }
    if (beforeCut) beforeCut(path);
    std::uint64_t size = 0;
    for (const auto& message : script.messages) size += message.first.size();
    sink.Opened(size);
    for (const auto& [text, owned] : script.messages) {
      if (sink.CutShort()) return Failure{kMailFileNotRead, path, "interrupted before its end"};
      TextBuffer buffer;
      buffer.append(text);
      sink.Message(buffer.view(), owned ? &buffer : nullptr);
    }
    return script.failure;
  };
}

std::unique_ptr<MailFileQueue> MakeQueue(int writers, ExportReport& report, ScriptedStore& store,
                                         RunControl& control, RunKind kind,
                                         const PoolLimits& limits) {
  if (writers == 1) return MakeSequential(MakeJob(kind), report, store.Cut(), control);
  return MakeWorkers(MakeJob(kind), writers, report, store.Cut(), control, limits);
}

}  // namespace plenvar::testing
