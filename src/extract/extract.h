// Cutting mail files into single messages and writing each as a numbered
// ".MAI" file.
#ifndef PLENVAR_EXTRACT_EXTRACT_H_
#define PLENVAR_EXTRACT_EXTRACT_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/platform.h"  // Error

namespace plenvar {

// Message files written (or attempted) in this run; names the next one.
// Starts at 0; tests set it back.
extern std::int64_t MessageCount;

// A message file that could not be written, as opposed to a mail file that
// could not be read.
struct WriteError : Error {
  using Error::Error;
};

// A mail file that was written to while it was read (a live store): what was
// read was exported, but it may not be what the file now holds.
struct ChangedError : Error {
  using Error::Error;
};

// Reads the mail file at sourcePath and writes every message in it as a
// message file in targetFolder. Failures throw Error; messages already
// written stay. A file that changed while it was read throws ChangedError
// after all it held was written.
// Where SplitMailFile sends each message it cuts, in place of writing it.
// folderExists says the folder is known to exist. When `owner` is not null the
// message lies in *owner, which the sink may take (move from) to spare the
// copy of a huge message; SplitMailFile then no longer uses it.
using MessageSink = std::function<void(std::string_view message, const std::string& targetFolder,
                                       bool folderExists, std::string* owner)>;

// folderExists spares the folder creation before the first message file.
// Without a sink, every message is written at once with WriteMessageFile.
// bytesRead, when given, follows how much of the file was read, block by block.
void SplitMailFile(const std::string& sourcePath, const std::string& targetFolder,
                   bool folderExists = false, const MessageSink* sink = nullptr,
                   std::uint64_t* bytesRead = nullptr);

// 1-based position of the earliest header keyword anywhere in text, or 0.
std::size_t FindFirstHeader(std::string_view text);

// Writes one message as the next numbered message file in targetFolder;
// failures throw WriteError. It first makes the folder's last level, unless
// the caller knows the folder exists.
void WriteMessageFile(std::string_view message, const std::string& targetFolder,
                      bool folderExists = false);

// Makes the last level of a message file's folder before the first message
// file; a failure is ignored, since the write that follows reports it.
void MakeLastFolderLevel(const std::string& targetFolder);

// "000000000000000042.MAI" for 42.
std::string MessageFileName(std::int64_t number);

}  // namespace plenvar

#endif  // PLENVAR_EXTRACT_EXTRACT_H_
