#include "platform/line_reader.h"

#include <cstring>

namespace plenvar::platform {

std::size_t ReadBlockSize = std::size_t{256} * 1024;

void OpenLines(const std::string& path, LineReader* reader) {
  OpenForReading(path, &reader->file);
  reader->block_size = ReadBlockSize;
  reader->block.reset(new char[reader->block_size]);
  reader->cr_pending = reader->in_line = reader->at_end = false;
}

bool ReadLines(LineReader& reader, std::string* text) {
  if (reader.at_end) return false;
  const std::size_t n = ReadBlock(reader.file, reader.block.get(), reader.block_size);
  if (n == 0) {
    reader.at_end = true;  // the file stays open so that a change can still be seen
    if (!reader.cr_pending && !reader.in_line) return false;
    text->append("\r\n");
    reader.cr_pending = reader.in_line = false;
    return true;
  }
  const char* p = reader.block.get();
  const char* const end = p + n;
  if (reader.cr_pending) {
    // The CR that ended the last block was a line end, with its LF or alone.
    text->append("\r\n");
    reader.cr_pending = false;
    reader.in_line = false;
    if (*p == '\n') ++p;
  }
  // Input with CR LF line ends goes out in one append; only a lone CR splits
  // the run, to gain its LF.
  const char* run = p;
  while (p < end) {
    const char* cr =
        static_cast<const char*>(std::memchr(p, '\r', static_cast<std::size_t>(end - p)));
    if (cr == nullptr) break;
    if (cr + 1 == end) {
      text->append(run, static_cast<std::size_t>(cr - run));
      reader.cr_pending = true;
      return true;
    }
    p = cr + 1;
    if (*p == '\n') {
      ++p;
    } else {
      text->append(run, static_cast<std::size_t>(p - run));
      text->push_back('\n');
      run = p;
    }
  }
  if (run < end) {
    text->append(run, static_cast<std::size_t>(end - run));
    reader.in_line = !(end - run >= 2 && end[-2] == '\r' && end[-1] == '\n');
  }
  return true;
}

}  // namespace plenvar::platform
