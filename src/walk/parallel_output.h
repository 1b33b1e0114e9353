// Message files created by a pool of writer threads, with a result that is
// exactly the one-thread result: the same files, bytes, numbers, report and
// report order.
//
// The cutter hands each message over and goes on. A writer writes it to a
// temporary file named by its place in cut order. Then, in cut order, one
// place at a time (under a lock, in whichever thread finished the oldest
// message) gives it its number and final name, or deletes it when an earlier
// message of the same mail file could not be written, since the one-thread
// program would have stopped that mail file there. The walk's own failures
// pass through the same queue, so the report keeps the walk's order.
#ifndef PLENVAR_WALK_PARALLEL_OUTPUT_H_
#define PLENVAR_WALK_PARALLEL_OUTPUT_H_

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "walk/walk.h"

namespace plenvar {

struct ParallelOutput;
struct ParallelOutputDeleter {
  void operator()(ParallelOutput* output) const;
};
using ParallelOutputPtr = std::unique_ptr<ParallelOutput, ParallelOutputDeleter>;

// Starts `writers` threads; failures go to *report, and numbers to
// MessageCount, as the messages are committed.
ParallelOutputPtr StartParallelOutput(int writers, ExportReport* report);

// The cutter's sink for the messages of mailFile. Waits while the bytes not
// yet written are over the cap (a single larger message still goes through).
void HandOver(ParallelOutput& output, const std::string& mailFile, std::string_view message,
              const std::string& targetFolder, bool folderExists, std::string* owner);

// Ends the mail file whose messages were handed over since the last call.
// Its failure (it could not be read to the end, or it changed) is reported
// unless one of its message files could not be written, which ended it first.
void EndMailFile(ParallelOutput& output, const std::string& mailFile,
                 const std::string& targetFolder, std::optional<Failure> failure);

// A failure of the walk, reported in its place among the others.
void ReportInOrder(ParallelOutput& output, Failure failure);

// Returns once every message handed over is committed; stops the writers.
void Finish(ParallelOutput& output);

}  // namespace plenvar

#endif  // PLENVAR_WALK_PARALLEL_OUTPUT_H_
