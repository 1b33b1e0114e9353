#include "target/same_file.h"

#include <algorithm>
#include <cstring>

namespace plenvar {

bool MatchBytes(platform::InputFile& file, std::string_view text, std::size_t limit,
                std::size_t* same, std::string* why) {
  limit = std::min(limit, text.size());
  // On the stack: a block from the heap for every message of 128 KiB or more
  // was memory mapped afresh each time, and its pages touched anew.
  char block[64 << 10];
  std::size_t at = 0;
  while (at < limit) {
    std::size_t n = 0;
    if (!platform::ReadSome(file, block, std::min(sizeof block, limit - at), &n, why)) return false;
    if (n == 0) break;  // shorter than when it was opened
    // memcmp first: std::mismatch goes a byte at a time, and was a fifth of
    // a rerun's time on the mailbox store.
    if (std::memcmp(block, text.data() + at, n) == 0) {
      at += n;
      continue;
    }
    const std::size_t equal = static_cast<std::size_t>(
        std::mismatch(block, block + n, text.begin() + static_cast<std::ptrdiff_t>(at)).first -
        block);
    at += equal;
    if (equal < n) break;
  }
  *same = at;
  return true;
}

std::size_t MatchingBytes(platform::InputFile& file, std::string_view text, std::size_t limit) {
  std::size_t same = 0;
  std::string why;
  if (!MatchBytes(file, text, limit, &same, &why)) throw Error(file.path, why);
  return same;
}

bool AlreadyInPlace(const std::string& path, std::string_view text) {
  platform::InputFile file;
  std::string why;
  std::size_t same = 0;
  return platform::OpenToRead(path, &file, false, &why) && file.size == text.size() &&
         MatchBytes(file, text, text.size(), &same, &why) && same == text.size();
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
