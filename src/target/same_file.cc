#include "target/same_file.h"

#include <algorithm>
#include <cstring>

namespace plenvar {

std::size_t MatchingBytes(platform::InputFile& file, std::string_view text, std::size_t limit) {
  limit = std::min(limit, text.size());
  // On the stack: a block from the heap for every message of 128 KiB or more
  // was memory mapped afresh each time, and its pages touched anew.
  char block[64 << 10];
  std::size_t at = 0;
  while (at < limit) {
    const std::size_t n = platform::ReadBlock(file, block, std::min(sizeof block, limit - at));
    if (n == 0) break;  // shorter than when it was opened
    // memcmp first: std::mismatch goes a byte at a time, and was a fifth of
    // a rerun's time on the mailbox store.
    if (std::memcmp(block, text.data() + at, n) == 0) {
      at += n;
      continue;
    }
    const std::size_t same = static_cast<std::size_t>(
        std::mismatch(block, block + n, text.begin() + static_cast<std::ptrdiff_t>(at)).first -
        block);
    at += same;
    if (same < n) break;
  }
  return at;
}

bool AlreadyInPlace(const std::string& path, std::string_view text) {
  try {
    platform::InputFile file;
    platform::OpenForReading(path, &file, false);
    return file.size == text.size() && MatchingBytes(file, text, text.size()) == text.size();
  } catch (const Error&) {
    return false;
  }
}

std::string ReadWhole(const std::string& path) {
  platform::InputFile file;
  platform::OpenForReading(path, &file);
  std::string text(static_cast<std::size_t>(file.size), '\0');
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t n = platform::ReadBlock(file, text.data() + at, text.size() - at);
    if (n == 0) throw Error(path, "shorter than when it was opened");
    at += n;
  }
  return text;
}

}  // namespace plenvar
