// Sequential line input over a file, in bulk. A file whose first line end is
// a CR (the first CR or LF in it is a CR) has CR line ends: a line ends at
// CR LF or at a lone CR, and an LF that does not follow a CR is an ordinary
// character. A file whose first line end is a bare LF, as Unix tools write
// them, has LF line ends: a line ends at LF or CR LF, and a lone CR is an
// ordinary character. A file that ends with a line end has no empty last
// line, and a last line without a line end is still a line. Every byte value
// passes through, NUL and 0x1A too.
//
// Rather than one call per line, ReadLines hands over a block's worth of lines
// at a time, each already ended by CR LF. That keeps the per-line cost of the
// caller to one memchr and spares it a copy per line.
#ifndef PLENVAR_EXTRACT_LINE_READER_H_
#define PLENVAR_EXTRACT_LINE_READER_H_

#include <cstddef>
#include <memory>
#include <string>

#include "extract/text_buffer.h"
#include "platform/files.h"

namespace plenvar {

// Bytes read from the file per call. On tmpfs 16 KiB to 1 MiB split at the
// same speed (split_bench); 256 KiB keeps the reads few where each one costs
// a seek. Tests make it tiny so that every boundary case runs.
extern std::size_t ReadBlockSize;

// A read block that outlives its reader, for the next file.
struct ReadBuffer {
  std::unique_ptr<char[]> data;
  std::size_t size = 0;
};

struct LineReader {
  platform::InputFile file;
  ReadBuffer own;  // the block, unless the caller lends one
  char* block = nullptr;
  std::size_t blockSize = 0;
  enum Ends { kUnknown, kCr, kLf } ends = kUnknown;  // until the first CR or LF
  bool crPending = false;  // the last block ended in a CR; its LF may follow
  bool inLine = false;     // text of a line is out without its line end yet
  bool atEnd = false;
  // Whether the file was found unchanged once all it held when opened was
  // read: then it is at its end without the read that would return 0.
  bool unchangedAtSize = false;

  LineReader() = default;
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;
  ~LineReader() { platform::Close(file); }
};

// Opens the file, reading into `buffer` (made ReadBlockSize long) when
// given, else into a block of the reader's own.
void OpenLines(const std::string& path, LineReader* reader, ReadBuffer* buffer = nullptr);

// Appends the text of the next block to *text with every line end made CR LF.
// Only line ends then hold a CR (CR line ends) or an LF (LF line ends), as
// reader.ends tells.
// The last line of a block may be appended in part; the next call continues
// it. At the end of the file a last line without a line end gains CR LF.
// Returns false, appending nothing, once the file is exhausted.
bool ReadLines(LineReader& reader, TextBuffer* text);

// Whether the file changed while it was read (platform::ChangedSinceOpened),
// asked once the file is exhausted.
bool ChangedWhileRead(const LineReader& reader);

}  // namespace plenvar

#endif  // PLENVAR_EXTRACT_LINE_READER_H_
