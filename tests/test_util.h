// Temporary folders and whole-file helpers for tests.
#ifndef PLENVAR_TESTS_TEST_UTIL_H_
#define PLENVAR_TESTS_TEST_UTIL_H_

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "output/output.h"

namespace plenvar::testing {

// A fresh folder under the system's temporary folder, removed with all it holds.
struct TempDir {
  std::filesystem::path path;
  TempDir();
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

// An output that keeps the messages it is handed, in memory.
struct CollectingOutput : Output {
  std::vector<std::string> messages;
  void BeginMailFile(const std::string&, const std::string&) override {}
  void Message(std::string_view text, std::string*) override { messages.emplace_back(text); }
  void EndMailFile(std::optional<Failure>) override {}
  void Skip(Failure) override {}
  void Finish() override {}
};

// Workers (MakeWorkers) driven as an Output: each mail file's messages are
// kept until it ends, then handed over as a mail file whose cutting replays
// them. Mail files are told apart by name: give each its own.
std::unique_ptr<Output> WorkersAsOutput(int workers, ExportReport& report,
                                        RunKind kind = RunKind::kExport);

// Every folder ("name/" -> "") and file (name -> content) under root, by
// path relative to root with "/" separators.
using Tree = std::map<std::string, std::string>;
Tree ReadTree(const std::filesystem::path& root);
// Makes the folders and files of a Tree under root.
void MakeTree(const std::filesystem::path& root, const Tree& tree);

}  // namespace plenvar::testing

#endif  // PLENVAR_TESTS_TEST_UTIL_H_
