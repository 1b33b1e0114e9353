#include "test_util.h"

#include <algorithm>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <stdexcept>

#include "extract/line_reader.h"

namespace fs = std::filesystem;

namespace plenvar::testing {

TempDir::TempDir() {
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    path = fs::temp_directory_path() / ("plenvar-test-" + std::to_string(random()));
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

namespace {

class WorkersOutput : public Output {
 public:
  WorkersOutput(int workers, ExportReport& report, RunKind kind)
      : queue_(MakeWorkers(
            kind, workers, report,
            [this](int, const std::string& path, MessageSink& sink) { return Replay(path, sink); },
            nullptr)) {}
  void BeginMailFile(const std::string& source, const std::string& targetFolder) override {
    source_ = source;
    folder_ = targetFolder;
    script_ = Script();
  }
  void Message(std::string_view text, std::string* owner) override {
    script_.messages.emplace_back(text, owner != nullptr);
  }
  void EndMailFile(std::optional<Failure> failure) override {
    script_.failure = std::move(failure);
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      scripts_[source_] = std::move(script_);
    }
    queue_->MailFile(source_, folder_);
  }
  void Skip(Failure failure) override { queue_->Skip(std::move(failure)); }
  void Finish() override { queue_->Finish(); }

 private:
  struct Script {
    std::vector<std::pair<std::string, bool>> messages;  // with whether they came with a buffer
    std::optional<Failure> failure;
  };
  std::optional<Failure> Replay(const std::string& path, MessageSink& sink) {
    Script script;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      script = scripts_.at(path);
    }
    std::uint64_t size = 0;
    for (const auto& message : script.messages) size += message.first.size();
    sink.Opened(size);
    for (const auto& [text, owned] : script.messages) {
      std::string buffer = text;
      sink.Message(buffer, owned ? &buffer : nullptr);
    }
    return script.failure;
  }
  std::mutex mutex_;
  std::map<std::string, Script> scripts_;
  Script script_;
  std::string source_, folder_;
  std::unique_ptr<MailFileQueue> queue_;
};

}  // namespace

std::unique_ptr<Output> WorkersAsOutput(int workers, ExportReport& report, RunKind kind) {
  return std::make_unique<WorkersOutput>(workers, report, kind);
}

}  // namespace plenvar::testing
