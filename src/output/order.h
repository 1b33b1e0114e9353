// The workers' order: the mail files of a run in walk order, which one a
// worker takes next, how many messages come before each (its base, from which
// its numbers are foreseen), which batches of outcomes may be committed, and
// where a stop cuts the run off. No threads and no waiting: the pool calls it
// under its lock, and a table test drives it event by event.
//
// A stop takes effect at the oldest mail file whose cutting it cut short, or
// else at the first one it kept from being begun: every mail file before that
// one is committed whole, that one as far as it was cut, and every later one
// is taken back.
#ifndef PLENVAR_OUTPUT_ORDER_H_
#define PLENVAR_OUTPUT_ORDER_H_

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "job/job.h"
#include "output/output.h"
#include "output/work_message.h"

namespace plenvar {

// Outcomes of consecutive messages of one mail file, published together.
struct Batch {
  std::int64_t firstK = 1;  // the mail file's message number of its first message
  std::vector<MessageOutcome> messages;
  std::size_t pending = 0;  // its messages shared and not yet worked on
};

// Where a mail file is. Walk failures are finished as they are added.
enum class Stage {
  kQueued,    // waits for a worker
  kCutting,   // a worker cuts it
  kCounted,   // cut to its end, or as far as a stop let it: its count is known
  kFinished,  // its worker is through with it: all its batches are published
};

// How its cutting ended.
enum class Ending { kWhole, kStopped, kNotBegun };

struct Entry {
  Unit unit;
  std::int64_t seq = 0;  // its place in the order, walk failures included
  Stage stage = Stage::kQueued;
  Ending ending = Ending::kWhole;
  std::int64_t messages = 0;         // cut, once counted
  std::optional<std::int64_t> base;  // the messages of every mail file before it, once known
  std::deque<Batch> batches;         // published, not yet committed; they stay where they are
  MailFileEnd end;                   // its messages after a failure that ends it are not worked on
};

class Order {
 public:
  explicit Order(std::size_t messagesCap) : messagesCap_(messagesCap) {}

  // The walk's thread: a mail file, or (`walkFailure`) a failure of the walk,
  // which is finished at once. Once the run is `stopping`, a mail file is
  // not begun.
  Entry& Add(Unit unit, bool walkFailure, bool stopping);
  std::size_t Size() const { return entries_.size(); }
  bool Empty() const { return entries_.empty(); }

  // A worker takes the oldest queued mail file; nullptr when there is none.
  // Once the run is `stopping`, none is begun: each queued one is finished.
  Entry* Take(bool stopping);
  bool AnyQueued() const;
  // The oldest entry: its commits are what makes room, so it never waits.
  bool IsHead(const Entry& entry) const {
    return !entries_.empty() && entries_.front().get() == &entry;
  }
  // Whether a batch of `entry` may be published: the messages in flight are
  // under their cap, or it is the head.
  bool MayPublish(const Entry& entry) const { return published_ < messagesCap_ || IsHead(entry); }
  // Publishes a batch with `pending` messages shared; the batch stays
  // where it is until its commit.
  Batch& Publish(Entry& entry, Batch batch, std::size_t pending);
  // Cut: `messages` in all, `stopped` when a stop cut it short. Returns
  // whether a base became known.
  bool Count(Entry& entry, std::int64_t messages, bool stopped);
  void Finish(Entry& entry) { entry.stage = Stage::kFinished; }

  // What the committing thread commits next: the head's batches whose work
  // is done, in order; `last` once the head is finished with nothing left.
  struct Ready {
    Entry* entry = nullptr;
    std::vector<Batch> batches;
    bool last = false;
    bool keep = true;  // false: after the stop point, so only undone
  };
  bool Next(Ready* ready);
  // The committing thread committed it.
  void Committed(const Ready& ready);

 private:
  Entry& At(std::int64_t seq) {
    return *entries_[static_cast<std::size_t>(seq - entries_.front()->seq)];
  }
  bool AdvanceBases();

  std::deque<std::unique_ptr<Entry>> entries_;  // walk order, not yet committed
  std::int64_t nextSeq_ = 0;                    // of the next entry added
  std::int64_t mailFiles_ = 0;                  // mail files added
  std::int64_t takeSeq_ = 0;                    // no entry before it is queued
  std::int64_t basedSeq_ = 0;                   // the first entry whose count is not known
  std::int64_t nextBase_ = 0;                   // the messages before it
  std::size_t published_ = 0;                   // messages published and not yet committed
  std::size_t messagesCap_;
  bool dropping_ = false;  // the stop point is committed: all that follows is undone
};

}  // namespace plenvar

#endif  // PLENVAR_OUTPUT_ORDER_H_
