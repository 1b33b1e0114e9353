#include "output/order.h"

#include <gtest/gtest.h>

#include <sstream>

namespace plenvar {
namespace {

// Drives an Order (cap: 4 messages in flight) by a script of events, one a
// word group, and tells what it answered:
//   add, add!        a mail file is handed in (! : once the run is stopping)
//   fail             a failure of the walk is handed in
//   take, take!      a worker takes the next one: "t<seq>", or "t-"
//   pub S N [P]      entry S publishes a batch of N messages, P of them shared
//   done S           one shared message of S is worked on
//   count S N        S is cut, N messages in all; "cut S N": cut short by a stop
//   fin S            S's worker is through with it
//   base S, may S    what S knows: "b<base>"; whether it may publish: "may" or "wait"
//   commit           everything ready: per batch "<seq>:<first>-<last>", per mail
//                    file that ends "<seq>.", each after "x" when it is only undone
std::string Drive(const std::string& script) {
  Order order(4);
  std::vector<Entry*> entries;
  std::vector<std::int64_t> nextK;  // of each entry's next batch
  std::ostringstream said;
  std::istringstream words(script);
  const auto entry = [&](std::istringstream& in) -> Entry& {
    std::size_t seq = 0;
    in >> seq;
    return *entries.at(seq);
  };
  std::string event;
  while (std::getline(words, event, ',')) {
    std::istringstream in(event);
    std::string verb;
    in >> verb;
    if (verb == "add" || verb == "add!" || verb == "fail") {
      entries.push_back(&order.Add(Unit(), verb == "fail", verb == "add!"));
      nextK.push_back(1);
    } else if (verb == "take" || verb == "take!") {
      const Entry* taken = order.Take(verb == "take!");
      said << "t" << (taken == nullptr ? "-" : std::to_string(taken->seq)) << " ";
    } else if (verb == "pub") {
      Entry& e = entry(in);
      std::size_t n = 0, pending = 0;
      in >> n >> pending;
      Batch batch;
      batch.firstK = nextK[static_cast<std::size_t>(e.seq)];
      nextK[static_cast<std::size_t>(e.seq)] += static_cast<std::int64_t>(n);
      batch.messages.resize(n);
      order.Publish(e, std::move(batch), pending);
    } else if (verb == "done") {
      Entry& e = entry(in);
      for (Batch& b : e.batches) {
        if (b.pending > 0) {
          --b.pending;
          break;
        }
      }
    } else if (verb == "count" || verb == "cut") {
      Entry& e = entry(in);
      std::int64_t n = 0;
      in >> n;
      order.Count(e, n, verb == "cut");
    } else if (verb == "fin") {
      order.Finish(entry(in));
    } else if (verb == "base") {
      said << "b" << entry(in).base.value_or(-1) << " ";
    } else if (verb == "may") {
      said << (order.MayPublish(entry(in)) ? "may " : "wait ");
    } else if (verb == "commit") {
      Order::Ready ready;
      while (order.Next(&ready)) {
        const char* undone = ready.keep ? "" : "x";
        for (const Batch& b : ready.batches)
          said << undone << ready.entry->seq << ":" << b.firstK << "-"
               << b.firstK + static_cast<std::int64_t>(b.messages.size()) - 1 << " ";
        if (ready.last) said << undone << ready.entry->seq << ". ";
        order.Committed(ready);
      }
      said << "| ";
    }
  }
  return said.str();
}

TEST(OrderTest, CommitsInWalkOrder) {
  const struct {
    const char* what;
    const char* script;
    const char* said;
  } cases[] = {
      {"the head commits as it goes, the others once they are the head",
       "add,add,take,take,pub 1 2,commit,pub 0 1,commit,count 0 1,fin 0,commit,count 1 2,fin "
       "1,commit",
       "t0 t1 | 0:1-1 | 0. 1:1-2 | 1. | "},
      {"a failure of the walk keeps its place",
       "add,fail,add,take,take,count 2 0,fin 2,commit,count 0 0,fin 0,commit",
       "t0 t2 | 0. 1. 2. | "},
      {"a shared message not yet worked on holds back its batch and all after it",
       "add,take,pub 0 2 1,pub 0 1,commit,done 0,commit", "t0 | 0:1-2 0:3-3 | "},
      {"a mail file learns its base once every one before it is counted",
       "add,add,add,take,take,take,base 1,count 0 3,base 1,base 2,count 2 1,base 2,count 1 2,base "
       "2",
       "t0 t1 t2 b-1 b3 b-1 b-1 b5 "},
      {"a failure of the walk counts no message", "add,fail,add,take,take,count 0 2,base 2",
       "t0 t2 b2 "},
      {"only the head may publish past the cap", "add,add,take,take,pub 1 4,may 1,may 0",
       "t0 t1 wait may "},
      {"commits make room", "add,add,take,take,pub 0 4,may 1,commit,may 1",
       "t0 t1 wait 0:1-4 | may "},
      // A mail file of many short messages after every one before it was committed.
      {"a mail file that arrives at an empty queue is the head",
       "add,take,count 0 0,fin 0,commit,add,take,pub 1 4,pub 1 4,may 1", "t0 0. | t1 may "},
  };
  for (const auto& c : cases) EXPECT_EQ(Drive(c.script), c.said) << c.what;
}

// A stop takes effect at the oldest mail file whose cutting it cut short, or
// else at the first one it kept from being begun: every mail file before it is
// committed whole, it as far as it was cut, every later one is undone.
TEST(OrderTest, AStopTakesEffectAtTheOldestMailFileItCutShort) {
  const struct {
    const char* what;
    const char* script;
    const char* said;
  } cases[] = {
      {"the oldest cut short, whichever was cut short first",
       "add,add,add,add,take,take,take,take,pub 0 1,pub 1 1,pub 2 1,pub 3 1,cut 3 1,fin 3,cut 2 "
       "1,fin 2,cut 1 1,fin 1,count 0 1,fin 0,commit",
       "t0 t1 t2 t3 0:1-1 0. 1:1-1 1. x2:1-1 x2. x3:1-1 x3. | "},
      {"a mail file cut to its end after the stop point is undone all the same",
       "add,add,take,take,pub 1 2,count 1 2,fin 1,pub 0 1,cut 0 1,fin 0,commit",
       "t0 t1 0:1-1 0. x1:1-2 x1. | "},
      {"what was not begun is undone, with every failure of the walk after it",
       "add,add,fail,add!,take,take!,count 0 1,fin 0,commit", "t0 t- 0. x1. x2. x3. | "},
      {"nothing cut short: the mail files begun are committed whole",
       "add,add,take,take,take!,count 0 0,fin 0,count 1 0,fin 1,commit", "t0 t1 t- 0. 1. | "},
  };
  for (const auto& c : cases) EXPECT_EQ(Drive(c.script), c.said) << c.what;
}

}  // namespace
}  // namespace plenvar
