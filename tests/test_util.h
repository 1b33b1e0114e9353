// Temporary folders and whole-file helpers for tests.
#ifndef PLENVAR_TESTS_TEST_UTIL_H_
#define PLENVAR_TESTS_TEST_UTIL_H_

#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "output/output.h"
#include "target/message_names.h"

namespace plenvar::testing {

// A fresh folder under the system's temporary folder, removed with all it holds.
struct TempDir {
  std::filesystem::path path;
  TempDir();
  // Under `base` instead, when it is a folder (a tmpfs, for many small files).
  explicit TempDir(const std::filesystem::path& base);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string Sub(const std::string& name) const { return (path / name).string(); }
};

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, std::string_view data);
// Names of the entries of a folder, in byte order.
std::vector<std::string> ListNames(const std::filesystem::path& folder);
// The message files of a folder, read in name order.
std::vector<std::string> ReadMessages(const std::filesystem::path& folder);

// Sets the line reader's block size for a test and restores it after.
struct BlockSize {
  explicit BlockSize(std::size_t size);
  ~BlockSize();
  std::size_t saved;
};

// A sink that keeps the messages it is handed, in memory; a buffer handed
// with one it takes and frees at once, as the workers may.
struct CollectingOutput : MessageSink {
  std::vector<std::string> messages;
  bool takes = true;  // a large message's buffer, as the workers do
  void Message(std::string_view text, TextBuffer* owner) override {
    messages.emplace_back(text);
    if (owner != nullptr && takes) TextBuffer(std::move(*owner));
  }
  bool CutShort() override { return false; }
};

// Mail files told by scripts, cut by replaying them: their messages (each
// with whether the cutter hands it over with its buffer) and how each ends.
// A replay asks the sink before each message whether to stop, as the cutter
// does before each block. Mail files are told apart by name: give each its own.
class ScriptedStore {
 public:
  struct Script {
    std::vector<std::pair<std::string, bool>> messages;
    std::optional<Failure> failure;
  };
  void Add(const std::string& name, Script script);
  // Called in the cutting thread before the script of `name` is replayed.
  std::function<void(const std::string& name)> beforeCut;
  CutFunction Cut();

 private:
  std::mutex mutex_;
  std::map<std::string, Script> scripts_;
};

// A queue of the run's kind for `writers` (one: the sequential driver) that
// cuts by `store`.
std::unique_ptr<MailFileQueue> MakeQueue(int writers, ExportReport& report, ScriptedStore& store,
                                         RunControl& control, RunKind kind = RunKind::kExport,
                                         const PoolLimits& limits = {});

// A latch a test opens: Wait returns true once it was counted down to zero,
// or false after `seconds`, so that a test fails instead of hanging.
class Latch {
 public:
  explicit Latch(int count = 1) : count_(count) {}
  void CountDown();
  bool Wait(double seconds = 20);

 private:
  std::mutex mutex_;
  std::condition_variable open_;
  int count_;
};

// Runs `body` in a thread of its own, under a time limit: a body that has not
// returned after `seconds` ends the test's process, failing the test, with a
// line that names `what`.
void WithinSeconds(double seconds, const std::string& what, const std::function<void()>& body);

// Every folder ("name/" -> "") and file (name -> content) under root, by
// path relative to root with "/" separators.
using Tree = std::map<std::string, std::string>;
Tree ReadTree(const std::filesystem::path& root);
// Makes the folders and files of a Tree under root.
void MakeTree(const std::filesystem::path& root, const Tree& tree);

}  // namespace plenvar::testing

#endif  // PLENVAR_TESTS_TEST_UTIL_H_
