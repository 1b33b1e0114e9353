#include "output/order.h"

#include <algorithm>
#include <numeric>

namespace plenvar {

Entry& Order::Add(Unit unit, bool walkFailure, bool stopping) {
  auto entry = std::make_unique<Entry>();
  entry->unit = std::move(unit);
  entry->seq = nextSeq_++;
  if (!walkFailure) entry->unit.mailFile = ++mailFiles_;
  if (walkFailure || stopping) entry->stage = Stage::kFinished;
  if (!walkFailure && stopping) entry->ending = Ending::kNotBegun;
  entries_.push_back(std::move(entry));
  AdvanceBases();
  return *entries_.back();
}

Entry* Order::Take(bool stopping) {
  // Entries before the head are committed; failures of the walk need no worker.
  takeSeq_ = std::max(takeSeq_, entries_.empty() ? nextSeq_ : entries_.front()->seq);
  for (; takeSeq_ < nextSeq_; ++takeSeq_) {
    Entry& entry = At(takeSeq_);
    if (entry.stage != Stage::kQueued) continue;
    if (!stopping) {
      entry.stage = Stage::kCutting;
      ++takeSeq_;
      return &entry;
    }
    entry.stage = Stage::kFinished;
    entry.ending = Ending::kNotBegun;
  }
  AdvanceBases();
  return nullptr;
}

bool Order::AnyQueued() const {
  return std::any_of(entries_.begin(), entries_.end(),
                     [](const auto& entry) { return entry->stage == Stage::kQueued; });
}

Batch& Order::Publish(Entry& entry, Batch batch, std::size_t pending) {
  published_ += batch.messages.size();
  batch.pending = pending;
  entry.batches.push_back(std::move(batch));
  return entry.batches.back();
}

bool Order::Count(Entry& entry, std::int64_t messages, bool stopped) {
  entry.messages = messages;
  entry.stage = Stage::kCounted;
  if (stopped) entry.ending = Ending::kStopped;
  return AdvanceBases();
}

// Every entry whose earlier ones are all counted learns the messages before it.
bool Order::AdvanceBases() {
  bool advanced = false;
  while (basedSeq_ < nextSeq_) {
    Entry& entry = At(basedSeq_);
    if (!entry.base) {
      entry.base = nextBase_;
      advanced = true;
    }
    if (entry.stage < Stage::kCounted) break;
    nextBase_ += entry.messages;
    ++basedSeq_;
  }
  return advanced;
}

bool Order::Next(Ready* ready) {
  if (entries_.empty()) return false;
  Entry& head = *entries_.front();
  ready->entry = &head;
  ready->batches.clear();
  while (!head.batches.empty() && head.batches.front().pending == 0) {
    ready->batches.push_back(std::move(head.batches.front()));
    head.batches.pop_front();
  }
  ready->last = head.stage == Stage::kFinished && head.batches.empty();
  if (ready->batches.empty() && !ready->last) return false;
  ready->keep = !dropping_ && head.ending != Ending::kNotBegun;
  if (ready->last && head.ending != Ending::kWhole) dropping_ = true;
  return true;
}

void Order::Committed(const Ready& ready) {
  published_ = std::accumulate(
      ready.batches.begin(), ready.batches.end(), published_,
      [](std::size_t sum, const Batch& batch) { return sum - batch.messages.size(); });
  if (ready.last) entries_.pop_front();
}

}  // namespace plenvar
