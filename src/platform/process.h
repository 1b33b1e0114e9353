// The process: its command line, the stop signals, the notices and the
// progress line, and how paths and names are shown. See files.h for the seam.
#ifndef PLENVAR_PLATFORM_PROCESS_H_
#define PLENVAR_PLATFORM_PROCESS_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/error.h"
#include "base/notice.h"

namespace plenvar::platform {

// SIGINT, SIGTERM and SIGHUP (POSIX): the first sets *stop to its number,
// which asks the run to stop at its next safe point; a second ends the
// process at once. Nothing on Windows, where the program has no console to be
// interrupted from.
void CatchInterrupts(std::atomic<int>* stop);
// "SIGINT" for SIGINT.
std::string SignalName(int signal);

// The program's argument text after its name.
std::string CommandLine(int argc, char** argv);
// A path that begins with "~\" (or is "~") with the home folder in its place,
// as a shell would have it (POSIX); any other path as it is. Throws Error
// when there is no home folder to put there.
std::string ExpandHome(std::string path);

// Shows a notice and returns once the user has seen it.
void ShowNotice(const Notice& notice);

// A line of progress, where someone watches: on POSIX when standard error is
// a terminal; never on Windows, where the program has no console.
bool ProgressWanted();
// The columns of the terminal the progress line is drawn on; 0 when unknown.
std::size_t TerminalWidth();
// Draws the line over the last one; ClearProgress removes it.
void ShowProgress(std::string_view line);
void ClearProgress();

// A path of the program's own text as the system writes it: with "/" on
// POSIX, as it is on Windows.
std::string DisplayPath(std::string path);

// Text from the store (a name, a reason) as it may be shown: where notices go
// to a terminal, control characters become "\xHH" so that a name cannot move
// the cursor or forge a line; elsewhere the text is kept as it is.
std::string Printable(std::string_view text);

}  // namespace plenvar::platform

#endif  // PLENVAR_PLATFORM_PROCESS_H_
