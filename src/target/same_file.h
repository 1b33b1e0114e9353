// What a file in the target already holds, against a message.
#ifndef PLENVAR_TARGET_SAME_FILE_H_
#define PLENVAR_TARGET_SAME_FILE_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/files.h"

namespace plenvar {

// How many bytes from where the open file stands equal those of `text`,
// reading at most `limit`; throws Error when a read fails.
std::size_t MatchingBytes(platform::InputFile& file, std::string_view text, std::size_t limit);
// The same, for a caller to whom a failed read is an answer: false, with why.
bool MatchBytes(platform::InputFile& file, std::string_view text, std::size_t limit,
                std::size_t* same, std::string* why);

// Whether a rerun may leave the message file at `path` as it is: a regular
// file there, not a link, holds exactly `text`; false when there is none, or
// it cannot be read. A file of another size is not read: on a store of small
// messages the open, its fstat and one read are the whole cost.
//
// It is only read, never opened for writing (a read-only file, or one held
// open by another program, is kept as it is). It is as durable as a written
// file: a file reaches a message file's name only by a rename after its data
// was written out (POSIX: the run's syncfs writes out every file of the file
// system; Windows: the write-out before the rename), and the run's one flush
// per file system at its end commits the renames and the disk's cache.
bool AlreadyInPlace(const std::string& path, std::string_view text);

// The whole text of the file at `path`; throws Error.
std::string ReadWhole(const std::string& path);

}  // namespace plenvar

#endif  // PLENVAR_TARGET_SAME_FILE_H_
