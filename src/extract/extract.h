// The cutter: reads a mail file and hands each message it holds forward.
#ifndef PLENVAR_EXTRACT_EXTRACT_H_
#define PLENVAR_EXTRACT_EXTRACT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/control.h"
#include "base/error.h"
#include "extract/line_reader.h"
#include "extract/message_sink.h"
#include "extract/text_buffer.h"

namespace plenvar {

// What a thread that cuts keeps from one mail file to the next, so that a
// store of small files does not pay an allocation of each per file: its read
// block, its working text, and the text after a large message. One per thread.
struct Cutter {
  ReadBuffer block;
  TextBuffer work, rest;
  // Bytes of working text the search for line ends has passed over, all mail
  // files together: about once each, whatever the lines (tests count it).
  std::uint64_t searched = 0;
};

// Reads the mail file at `path` and hands each message in it to
// sink.Message, in order: a message of 1 MiB or more with the buffer it lies
// in, which is the sink's from then on. A file that cannot be read to its end
// throws Error, the messages before that handed over. Returns whether the file
// changed while it was read (a live store): what was read was handed over,
// but it may not be what the file now holds. Adds the bytes it reads and the
// messages it cuts to *counts, when given, as it goes.
bool SplitMailFile(const std::string& path, Cutter& cutter, MessageSink& sink,
                   RunControl* counts = nullptr);
// The same with buffers of its own, for a single file.
bool SplitMailFile(const std::string& path, MessageSink& sink);

// 1-based position of the earliest header keyword anywhere in text, or 0.
std::size_t FindFirstHeader(std::string_view text);

}  // namespace plenvar

#endif  // PLENVAR_EXTRACT_EXTRACT_H_
