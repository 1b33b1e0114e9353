#include "manifest/batch_hasher.h"

#include <algorithm>
#include <functional>
#include <thread>

#include "platform/digest.h"
#include "platform/files.h"

namespace plenvar {

namespace {

constexpr std::size_t kBlock = 128 << 10;

// Hashes the file, a block at a time; false when a stop came first (a file of
// gigabytes must not hold a stop up). A file that cannot be read is an
// answer: its error, and no digest found.
bool HashFile(ListedFile& file, std::vector<char>& block, const RunControl& control) {
  platform::InputFile input;
  if (!platform::OpenToRead(file.path, &input, true, &file.error)) return true;
  platform::DropCachedPages(input);  // what the disk holds, not what memory still does
  platform::Sha256 digest;
  for (std::size_t got = 0;;) {
    if (!platform::ReadSome(input, block.data(), block.size(), &got, &file.error)) return true;
    if (got == 0) break;
    if (control.Stopped()) return false;
    digest.Add(std::string_view(block.data(), got));
  }
  file.size = input.bytesRead;
  file.found = digest.Hex();
  return true;
}

}  // namespace

BatchHasher::BatchHasher(int threads, const RunControl& control)
    : blocks_(static_cast<std::size_t>(std::max(threads, 1)), std::vector<char>(kBlock)),
      control_(control) {}

void BatchHasher::Hash(std::vector<ListedFile>& batch) {
  std::atomic<std::size_t> next{0};
  std::vector<std::thread> helpers;
  helpers.reserve(blocks_.size());
  for (std::size_t t = 1; t < blocks_.size() && t < batch.size() && !control_.Stopped(); ++t) {
    try {
      helpers.emplace_back(&BatchHasher::Work, this, std::ref(batch), std::ref(blocks_[t]),
                           std::ref(next));
    } catch (...) {
      break;  // no thread to be had: those there are do the batch
    }
  }
  Work(batch, blocks_[0], next);
  for (std::thread& helper : helpers) helper.join();
}

void BatchHasher::Work(std::vector<ListedFile>& batch, std::vector<char>& block,
                       std::atomic<std::size_t>& next) noexcept {
  for (std::size_t i; !control_.Stopped() && (i = next++) < batch.size();) {
    ListedFile& file = batch[i];
    try {
      file.done = HashFile(file, block, control_);
    } catch (...) {
      file.done = true;  // out of memory, most likely: reported as not read
    }
  }
}

}  // namespace plenvar
