#include "extract/line_reader.h"

#include <cstring>

namespace plenvar {

std::size_t ReadBlockSize = std::size_t{256} * 1024;

void OpenLines(const std::string& path, LineReader* reader, ReadBuffer* buffer) {
  platform::OpenForReading(path, &reader->file);
  if (buffer == nullptr) buffer = &reader->own;
  if (buffer->size != ReadBlockSize) {
    buffer->data.reset(new char[ReadBlockSize]);
    buffer->size = ReadBlockSize;
  }
  reader->block = buffer->data.get();
  reader->blockSize = buffer->size;
  reader->crPending = reader->inLine = reader->atEnd = false;
  reader->ends = LineReader::kUnknown;
}

namespace {

// LF line ends: a CR goes before every LF that lacks one. reader.crPending
// says whether the byte before the block was a CR.
void AppendLfLines(LineReader& reader, const char* const begin, const char* const end,
                   TextBuffer* text) {
  const char* run = begin;
  for (const char* p = begin; p < end;) {
    const char* lf =
        static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
    if (lf == nullptr) break;
    if (!(lf == begin ? reader.crPending : lf[-1] == '\r')) {
      text->append(run, static_cast<std::size_t>(lf - run)).push_back('\r');
      run = lf;
    }
    p = lf + 1;
  }
  text->append(run, static_cast<std::size_t>(end - run));
  reader.crPending = end[-1] == '\r';
  reader.inLine = end[-1] != '\n';
}

}  // namespace

bool ReadLines(LineReader& reader, TextBuffer* text) {
  if (reader.atEnd) return false;
  // All it held when opened is read: if it is still as it was, that is its
  // end, and the read that would say so is one system call a mail file saved
  // (a tenth of them on a store of small files). If it grew, read on.
  const bool done =
      reader.file.bytesRead == reader.file.size && !platform::ChangedSinceOpened(reader.file);
  reader.unchangedAtSize = done;
  const std::size_t n = done ? 0 : platform::ReadBlock(reader.file, reader.block, reader.blockSize);
  if (n == 0) {
    reader.atEnd = true;  // the file stays open so that a change can still be seen
    if (!reader.crPending && !reader.inLine) return false;
    text->append("\r\n");
    reader.crPending = reader.inLine = false;
    return true;
  }
  const char* p = reader.block;
  const char* const end = p + n;
  if (reader.ends == LineReader::kUnknown) {
    const char* cr = static_cast<const char*>(std::memchr(p, '\r', n));
    const char* lf = static_cast<const char*>(
        std::memchr(p, '\n', cr == nullptr ? n : static_cast<std::size_t>(cr - p)));
    if (cr == nullptr && lf == nullptr) {
      // No line end yet: the text is the same whichever kind comes.
      text->append(p, n);
      reader.inLine = true;
      return true;
    }
    reader.ends = lf != nullptr ? LineReader::kLf : LineReader::kCr;
  }
  if (reader.ends == LineReader::kLf) {
    AppendLfLines(reader, p, end, text);
    return true;
  }
  if (reader.crPending) {
    // The CR that ended the last block was a line end, with its LF or alone.
    text->append("\r\n");
    reader.crPending = false;
    reader.inLine = false;
    if (*p == '\n') ++p;
  }
  // Input with CR LF line ends goes out in one append; only a lone CR splits
  // the run, to gain its LF.
  const char* run = p;
  while (p < end) {
    // A CR at once (lone CRs, empty lines) spares the call.
    const char* cr =
        *p == '\r'
            ? p
            : static_cast<const char*>(std::memchr(p, '\r', static_cast<std::size_t>(end - p)));
    if (cr == nullptr) break;
    if (cr + 1 == end) {
      text->append(run, static_cast<std::size_t>(cr - run));
      reader.crPending = true;
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
    reader.inLine = !(end - run >= 2 && end[-2] == '\r' && end[-1] == '\n');
  }
  return true;
}

bool ChangedWhileRead(const LineReader& reader) {
  return !reader.unchangedAtSize && platform::ChangedSinceOpened(reader.file);
}

}  // namespace plenvar
