// The files a manifest lists, hashed again a batch at a time by a few
// threads, for the check to report in the manifest's order once their batch
// is done: the hashing, at some 1.8 GB/s a core with the CPU's SHA
// instructions, is what takes the time.
#ifndef PLENVAR_MANIFEST_BATCH_HASHER_H_
#define PLENVAR_MANIFEST_BATCH_HASHER_H_

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "base/control.h"

namespace plenvar {

// A file the manifest lists, and what hashing it again gave.
struct ListedFile {
  std::string path, digest;  // listed
  std::string found, error;  // what the file gave: its digest, or why none
  std::uint64_t size = 0;
  bool done = false;  // checked to its end; else not reached before a stop
};

class BatchHasher {
 public:
  BatchHasher(int threads, const RunControl& control);
  // Hashes every file of `batch` with up to `threads` threads; a stop leaves
  // the files not reached not done.
  void Hash(std::vector<ListedFile>& batch);

 private:
  // One thread's share: the files `next` hands out, until none is left or a
  // stop. Throws nothing: an exception out of a thread would end the process.
  void Work(std::vector<ListedFile>& batch, std::vector<char>& block,
            std::atomic<std::size_t>& next) noexcept;

  std::vector<std::vector<char>> blocks_;  // a read block for each thread
  const RunControl& control_;
};

}  // namespace plenvar

#endif  // PLENVAR_MANIFEST_BATCH_HASHER_H_
