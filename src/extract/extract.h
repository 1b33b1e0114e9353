// The cutter: reads a mail file and hands each message it holds forward.
#ifndef PLENVAR_EXTRACT_EXTRACT_H_
#define PLENVAR_EXTRACT_EXTRACT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "output/output.h"
#include "platform/platform.h"  // Error

namespace plenvar {

// Reads the mail file at `path` and hands each message in it to
// output.Message, in order; the last one with its text to take. A file that
// cannot be read to its end throws Error, the messages before that handed
// over. Returns whether the file changed while it was read (a live store):
// what was read was handed over, but it may not be what the file now holds.
// bytesRead, when given, follows how much of the file was read, block by block.
bool SplitMailFile(const std::string& path, Output& output, std::uint64_t* bytesRead = nullptr);

// 1-based position of the earliest header keyword anywhere in text, or 0.
std::size_t FindFirstHeader(std::string_view text);

}  // namespace plenvar

#endif  // PLENVAR_EXTRACT_EXTRACT_H_
