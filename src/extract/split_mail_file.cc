#include <algorithm>
#include <cstring>
#include <new>

#include "extract/extract.h"
#include "extract/line_reader.h"

namespace plenvar {

namespace {

constexpr std::size_t kNone = std::string::npos;

// A message this large is handed over with the buffer it lies in, so that
// writer threads may take the buffer rather than copy the message: first touching
// fresh memory is what costs on a message of hundreds of MB (with two writers
// a 150 MB message followed by another took 0.9 s and 310 MB copied, against
// 0.15 s and 157 MB with one). A smaller one is copied, so that the buffer,
// its pages already touched, serves the next mail file.
constexpr std::size_t kOffered = 1 << 20;

bool IsTrigger(const char* line, std::size_t length) {
  return (length >= 9 && std::memcmp(line, "Received:", 9) == 0) ||
         (length >= 12 && std::memcmp(line, "Return-Path:", 12) == 0);
}

// Room for `bytes` in one step: the pages are only touched as text arrives,
// but a buffer that grows by doubling touches every byte twice, and on this
// machine first touching memory costs far more than copying it (a 1 GB
// message took 8 s growing, 5 s with room made first, under 2 s once the
// room also asked for huge pages).
void MakeRoom(std::string* text, std::uint64_t bytes) {
  const std::size_t room = text->capacity();
  try {
    if (bytes < text->max_size()) text->reserve(static_cast<std::size_t>(bytes));
  } catch (const std::bad_alloc&) {
    // More than the address space will give at once: grow as text arrives.
  }
  if (text->capacity() != room) platform::AdviseLargeBuffer(text->data(), text->capacity());
}

}  // namespace

// The working text (every line since the last cut, ended by CR LF) lives in
// `work` from `start` on; lines before `scan` have been looked at. Only line
// ends hold the mark character, so the separator CR LF CR LF can only arise
// where an empty line follows a line end; `separator` keeps the last one as lines go by instead of
// searching backwards from every trigger line, which is quadratic on a file
// with many trigger lines and no empty line.
bool SplitMailFile(const std::string& path, Cutter& cutter, MessageSink& sink, RunControl* counts) {
  LineReader reader;
  OpenLines(path, &reader, &cutter.block);
  sink.Opened(reader.file.size);
  // Room for the whole file; and the text after a large message goes to
  // `rest`, since the sink may take the buffer the message lies in.
  std::string& work = cutter.work;
  std::string& rest = cutter.rest;
  work.clear();
  MakeRoom(&work, reader.file.size + 2);
  std::size_t start = 0;
  std::size_t scan = 0;
  std::size_t separator = kNone;
  bool first = true;
  const auto handOver = [&](std::string_view message, std::string* owner) {
    sink.Message(message, owner);
    if (counts != nullptr) ++counts->messages;
  };
  std::uint64_t counted = 0;
  while (ReadLines(reader, &work)) {
    // Once a block, not once a line: a stop asked for is seen within 256 KiB.
    if (sink.Stopping()) throw Error(path, "interrupted before its end");
    if (counts != nullptr) {
      counts->bytes += static_cast<std::int64_t>(reader.file.bytesRead - counted);
      counted = reader.file.bytesRead;
    }
    const char* text = work.data();
    // The one character that only line ends hold: their CR, or with LF line
    // ends (where a lone CR is text) their LF, one byte further on. An LF
    // never opens a line: the CR LF before it ended the last one.
    const bool lf = reader.ends == LineReader::kLf;
    const char mark = lf ? '\n' : '\r';
    for (;;) {
      const void* found = std::memchr(text + scan, mark, work.size() - scan);
      if (found == nullptr) break;  // the rest is a line still being read
      std::size_t line_end = static_cast<std::size_t>(static_cast<const char*>(found) - text) - lf;
      const std::size_t length = line_end - scan;
      if (length == 0) {
        if (scan - start >= 2) separator = scan - 2;
      } else if (text[scan] == 'R' && IsTrigger(text + scan, length) && separator != kNone &&
                 separator > start) {
        // The message keeps the CR LF that opens the separator, so that every
        // line of a message file ends with CR LF.
        std::string_view message(text + start, separator + 2 - start);
        if (first) {
          std::size_t header = FindFirstHeader(message);
          if (header > 0) message.remove_prefix(header - 1);
          first = false;
        }
        const std::size_t next = separator + 4;
        separator = kNone;
        if (message.size() < kOffered) {
          handOver(message, nullptr);
          start = next;
        } else {
          // What follows the message moves out first: the buffer is the sink's.
          rest.clear();
          const std::uint64_t unread =
              reader.file.size - std::min(reader.file.size, reader.file.bytesRead);
          MakeRoom(&rest, work.size() - next + unread + 2);
          rest.append(work, next, std::string::npos);
          handOver(message, &work);
          work.swap(rest);
          text = work.data();
          line_end -= next;
          start = 0;
        }
      }
      scan = line_end + 2;
    }
    if (start > 0) {
      // Once per block, not per cut: moving the unread rest after every cut
      // would copy a block's worth per message.
      work.erase(0, start);
      scan -= start;
      if (separator != kNone) separator -= start;
      start = 0;
    }
  }
  std::string_view tail(work.data() + start, work.size() - start);
  std::size_t header = FindFirstHeader(tail);
  // The working text is not used after the last message: nothing to move out.
  if (header > 0) {
    const std::string_view message = tail.substr(header - 1);
    handOver(message, message.size() < kOffered ? nullptr : &work);
  }
  if (counts != nullptr)
    counts->bytes += static_cast<std::int64_t>(reader.file.bytesRead - counted);
  return ChangedWhileRead(reader);
}

bool SplitMailFile(const std::string& path, MessageSink& sink) {
  Cutter cutter;
  return SplitMailFile(path, cutter, sink);
}

}  // namespace plenvar
