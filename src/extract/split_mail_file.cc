#include <algorithm>
#include <cstring>
#include <new>

#include "extract/extract.h"
#include "extract/line_reader.h"

namespace plenvar {

namespace {

constexpr std::size_t kNone = std::string_view::npos;

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

// The most text a block of `n` bytes can add: two for each byte (a lone CR
// gains its LF, an LF its CR), and the CR LF of a line ended by the last one.
std::size_t MostText(std::size_t n) { return 2 * n + 2; }

// Room for `more` bytes after the text, which will likely end at `end` if no
// message is cut before then. The room follows the text, not the mail file:
// a file of small messages keeps a block's worth or so, whatever its size (on
// Windows committed memory is what counts, on a live server). It grows to
// twice the text, or, when the text would then likely need it soon, to that
// likely end: growing moves the text's pages rather than copying them (on
// Windows the room is reserved address space, committed as the text grows),
// so a large message is written into memory once and held once.
void MakeRoom(TextBuffer* text, std::size_t more, std::uint64_t end) {
  const std::size_t need = text->size() + more;
  if (need <= text->capacity()) return;
  const std::uint64_t twice = 2 * std::uint64_t{text->size()};
  try {
    text->reserve(static_cast<std::size_t>(
        std::max<std::uint64_t>(need, end <= twice + twice / 4 ? end : twice)));
  } catch (const std::bad_alloc&) {
    text->reserve(need);  // what is needed, when more is not to be had
  }
}

// Room for the text of the next block of the reader's file, `added` bytes of
// text having come from the bytes read so far: the rest of the file likely
// adds text at the same rate.
void MakeRoomForBlock(TextBuffer* text, const LineReader& reader, std::uint64_t added) {
  const std::uint64_t read = reader.file.bytesRead;
  const std::uint64_t unread = reader.file.size - std::min(reader.file.size, read);
  const double perByte = read == 0 ? 1 : static_cast<double>(added) / static_cast<double>(read);
  MakeRoom(text,
           MostText(static_cast<std::size_t>(std::min<std::uint64_t>(unread, reader.blockSize))),
           text->size() + static_cast<std::uint64_t>(static_cast<double>(unread) * perByte) +
               2 * MostText(reader.blockSize));
}

}  // namespace

// The working text (every line since the last cut, ended by CR LF) lives in
// `work` from `start` on; lines before `scan` have been looked at, and the
// unended line from `scan` on holds no line end before `searched`, so that a
// line of a GB is searched once, not once a block. Only line
// ends hold the mark character, so the separator CR LF CR LF can only arise
// where an empty line follows a line end; `separator` keeps the last one as lines go by instead of
// searching backwards from every trigger line, which is quadratic on a file
// with many trigger lines and no empty line.
bool SplitMailFile(const std::string& path, Cutter& cutter, MessageSink& sink, RunControl* counts) {
  LineReader reader;
  OpenLines(path, &reader, &cutter.block);
  sink.Opened(reader.file.size);
  // The text after a large message goes to `rest`, since the sink may take
  // the buffer the message lies in.
  TextBuffer& work = cutter.work;
  TextBuffer& rest = cutter.rest;
  work.clear();
  std::size_t start = 0;
  std::size_t scan = 0;
  std::size_t searched = 0;
  std::size_t separator = kNone;
  bool first = true;
  const auto deliver = [&](std::string_view message, TextBuffer* owner) {
    sink.Message(message, owner);
    if (counts != nullptr) ++counts->messages;
  };
  std::uint64_t counted = 0;
  std::uint64_t added = 0;  // text from the file's bytes, after their line ends
  for (;;) {
    MakeRoomForBlock(&work, reader, added);
    const std::size_t before = work.size();
    if (!ReadLines(reader, &work)) break;
    added += work.size() - before;
    // Once a block, not once a line: a stop asked for is seen within 256 KiB.
    if (sink.CutShort()) throw Error(path, "interrupted before its end");
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
      // An empty line's mark comes at once: spare the call.
      const void* found = searched < work.size() && text[searched] == mark
                              ? text + searched
                              : std::memchr(text + searched, mark, work.size() - searched);
      if (found == nullptr) {
        // The rest is a line still being read: the next block's search
        // goes on from here.
        cutter.searched += work.size() - searched;
        searched = work.size();
        break;
      }
      std::size_t line_end = static_cast<std::size_t>(static_cast<const char*>(found) - text) - lf;
      cutter.searched += line_end + 2 - searched;
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
          deliver(message, nullptr);
          start = next;
        } else {
          // What follows the message moves out first: the buffer is the sink's.
          rest.clear();
          MakeRoom(&rest, work.size() - next, 0);  // the block's room follows
          rest.append(work.data() + next, work.size() - next);
          deliver(message, &work);
          if (work.data() == nullptr) {
            work.swap(rest);
          } else {
            // Left by the sink: the buffer, its pages touched, stays the
            // working text, so that the next large message is not cut into
            // a second buffer as large while this one waits in `rest`.
            work.clear();
            work.append(rest.view());
            rest.clear();
          }
          text = work.data();
          line_end -= next;
          start = 0;
        }
      }
      scan = searched = line_end + 2;
    }
    if (start > 0) {
      // Once per block, not per cut: moving the unread rest after every cut
      // would copy a block's worth per message.
      work.erase_front(start);
      scan -= start;
      searched -= start;
      if (separator != kNone) separator -= start;
      start = 0;
    }
  }
  std::string_view tail(work.data() + start, work.size() - start);
  std::size_t header = FindFirstHeader(tail);
  // The working text is not used after the last message: nothing to move out.
  if (header > 0) {
    const std::string_view message = tail.substr(header - 1);
    deliver(message, message.size() < kOffered ? nullptr : &work);
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
