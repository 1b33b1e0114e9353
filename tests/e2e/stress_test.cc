// Random stores that cross every limit of the workers, each exported with one
// thread and with 2, 3 and 7 writers, run again over what each wrote, stopped
// by a signal and run again, and verified with message files changed. Every
// run ends within its time limit, and its tree, notice, exit status and log
// are those of /MT:1.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <random>
#include <sstream>

#include "e2e/run_plenvar.h"
#include "target/message_names.h"

namespace plenvar {
namespace {

namespace fs = std::filesystem;
using testing::Process;
using testing::ReadTree;
using testing::RunPlenvar;
using testing::Tree;

// A log less what differs between runs of one store: the writers and the
// start time of its run line, the seconds of its total line.
std::string Comparable(const std::string& log) {
  std::istringstream lines(log);
  std::string comparable;
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> fields;
    std::istringstream split(line);
    for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
    if (!fields.empty() && fields[0] == "run" && fields.size() > 6) fields.resize(6);
    if (!fields.empty() && fields[0] == "total" && fields.size() > 15) fields[15] = "";
    for (const std::string& field : fields) comparable += field + "\t";
    comparable += "\n";
  }
  return comparable;
}

std::string TemporaryName(std::int64_t mailFile, std::int64_t k) {
  return MessageFileName(mailFile).substr(0, 18) + "-" + std::to_string(k) + ".MAI.tmp";
}

struct Store {
  Tree source;
  Tree target;  // what the target holds before the first run
};

Store MakeStore(unsigned seed) {
  std::mt19937 random(seed);
  const auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
  Store store;
  // a/: a few ordinary mail files.
  const char* const lines[] = {"Received: r", "Return-Path: <p>", "Date: d", "Subject: s", "", "",
                               "body",        "From env"};
  const std::size_t ordinary = 1 + pick(3);
  for (std::size_t f = 0; f < ordinary; ++f) {
    std::string text;
    for (std::size_t l = 5 + pick(40); l > 0; --l) text += std::string(lines[pick(8)]) + "\r\n";
    store.source["a/m" + std::to_string(f) + ".msg"] = text;
  }
  // b/: a long stretch of empty folders, in which every mail file before
  // has time to be committed.
  for (std::size_t i = 500 + pick(1500); i > 0; --i)
    store.source["b/e" + std::to_string(i) + "/"] = "";
  // c/many.msg: more short messages than may wait for their commit.
  const std::size_t many = 8193 + pick(1000);
  std::string text;
  for (std::size_t i = 1; i <= many; ++i)
    text += "Received: " + std::to_string(i) + "\r\n\r\nx\r\n\r\n";
  store.source["c/many.msg"] = text;
  // d/: more small mail files than may be in flight.
  const std::size_t small = 300 + pick(300);
  for (std::size_t f = 0; f < small; ++f) {
    text.clear();
    for (std::size_t k = 1 + pick(3); k > 0; --k)
      text += "Received: d\r\n\r\nbody " + std::to_string(f) + "\r\n\r\n";
    store.source["d/s" + std::to_string(f) + ".msg"] = text;
  }
  // e/large.msg: past the hand-over size, a long message, then short ones.
  text = "Received: long\r\n\r\n" + std::string((9 << 19) + pick(1 << 20), 'x') + "\r\n\r\n";
  for (std::size_t i = 100 + pick(100); i > 0; --i)
    text += "Received: s\r\n\r\nshort " + std::to_string(i) + "\r\n\r\n";
  store.source["e/large.msg"] = text;
  // Message files that cannot be written, a folder holding the name: late in
  // many.msg, early in large.msg (their temporary names), and one of d/.
  const auto manyFile = static_cast<std::int64_t>(ordinary + 1);
  const auto largeFile = static_cast<std::int64_t>(ordinary + 1 + small + 1);
  store.target["c/" + TemporaryName(manyFile, static_cast<std::int64_t>(8193 + pick(many - 8192))) +
               "/"] = "";
  store.target["e/" + TemporaryName(largeFile, static_cast<std::int64_t>(1 + pick(50))) + "/"] = "";
  store.target["d/" + MessageFileName(static_cast<std::int64_t>(many + 1 + pick(small))) + "/"] =
      "";
  return store;
}

struct Result {
  Process process;
  std::string log, manifest;
};

// Runs plenvar into root/out with a log, as /MT:threads.
Result RunLogged(const testing::TempDir& root, std::vector<std::string> args,
                 const std::string& threads) {
  args.push_back("/LOG:run.log");
  args.push_back("/MANIFEST:m.sha256");
  args.push_back("/MT:" + threads);
  Result result;
  result.process = RunPlenvar(root, args, {"", RLIM_INFINITY, 120});
  result.log = Comparable(testing::ReadFile(root.path / "run.log"));
  result.manifest = testing::ReadFile(root.path / "m.sha256");
  return result;
}

void ExpectSame(const Result& one, const Result& other, const std::string& what) {
  EXPECT_EQ(other.process.status, one.process.status) << what;
  EXPECT_EQ(other.process.out, one.process.out) << what;
  EXPECT_EQ(other.process.err, one.process.err) << what;
  EXPECT_EQ(other.log, one.log) << what;
  EXPECT_EQ(other.manifest, one.manifest) << what;
}

const std::vector<std::string> kThreads = {"1", "2", "3", "7"};
const std::vector<std::string> kArgs = {"/S:store", "/T:out"};

// Runs `body` on the store of each seed, in a folder of its own on /dev/shm
// (tens of thousands of files a seed: on a disk they would cost minutes), all
// under one time limit.
void ForEachSeed(double seconds, const std::string& what,
                 const std::function<void(const std::string& what, const testing::TempDir& root,
                                          const Store& store)>& body) {
  testing::WithinSeconds(seconds, what, [&] {
    for (unsigned seed = 1; seed <= 2; ++seed) {
      testing::TempDir root("/dev/shm");
      const Store store = MakeStore(seed);
      testing::MakeTree(root.path / "store", store.source);
      body("seed " + std::to_string(seed), root, store);
    }
  });
}

TEST(StressTest, EveryNumberOfWritersExportsAndRerunsAsOneDoes) {
  ForEachSeed(
      240, "the exports and reruns",
      [](const std::string& what, const testing::TempDir& root, const Store& store) {
        std::vector<Result> exports, reruns;
        std::vector<Tree> trees;
        for (const std::string& t : kThreads) {
          testing::MakeTree(root.path / "out", store.target);
          exports.push_back(RunLogged(root, kArgs, t));
          trees.push_back(ReadTree(root.path / "out"));
          reruns.push_back(RunLogged(root, kArgs, t));  // over what it wrote: all in place
          EXPECT_EQ(ReadTree(root.path / "out"), trees.front()) << what << " rerun /MT:" << t;
          EXPECT_EQ(reruns.back().manifest, exports.front().manifest) << what << " rerun /MT:" << t;
          fs::remove_all(root.path / "out");
        }
        EXPECT_EQ(exports[0].process.status, 1) << what;
        EXPECT_NE(exports[0].process.err.find("Message files that could not be written: "),
                  std::string::npos)
            << what << exports[0].process.err;
        EXPECT_NE(reruns[0].process.err.find("Message files already in place: "), std::string::npos)
            << what << reruns[0].process.err;
        for (std::size_t i = 1; i < kThreads.size(); ++i) {
          ExpectSame(exports[0], exports[i], what + " export /MT:" + kThreads[i]);
          ExpectSame(reruns[0], reruns[i], what + " rerun /MT:" + kThreads[i]);
          EXPECT_EQ(trees[i], trees[0]) << what << " /MT:" << kThreads[i];
        }
      });
}

// Stopped by a signal as a mail file is opened while others are being cut,
// wherever the stop then takes effect: it ends in time, leaves no temporary
// file, and a rerun leaves the tree of one run.
TEST(StressTest, AStoppedRunRunAgainLeavesWhatOneRunLeaves) {
  ForEachSeed(
      240, "the stopped runs",
      [](const std::string& what, const testing::TempDir& root, const Store& store) {
        testing::MakeTree(root.path / "out", store.target);
        const Result one = RunLogged(root, kArgs, "1");
        const Tree tree = ReadTree(root.path / "out");
        fs::remove_all(root.path / "out");
        for (std::size_t i = 0; i < kThreads.size(); ++i) {
          const std::string at = i % 2 == 0 ? "store/e/large.msg" : "store/c/many.msg";
          testing::MakeTree(root.path / "out", store.target);
          std::vector<std::string> stopped = kArgs;
          stopped.push_back("/MT:" + kThreads[i]);
          stopped.push_back("/MANIFEST:m.sha256");
          const Process p = RunPlenvar(root, stopped, {"term:" + at, RLIM_INFINITY, 120});
          EXPECT_EQ(p.status, 128 + SIGTERM) << what << " stopped /MT:" << kThreads[i] << p.err;
          for (const auto& entry : fs::recursive_directory_iterator(root.path / "out"))
            EXPECT_FALSE(entry.is_regular_file() && entry.path().extension() == ".tmp")
                << what << " stopped /MT:" << kThreads[i] << ": " << entry.path();
          EXPECT_EQ(RunPlenvar(root, stopped, {"", RLIM_INFINITY, 120}).status, one.process.status)
              << what << " after the stop, /MT:" << kThreads[i];
          EXPECT_EQ(ReadTree(root.path / "out"), tree)
              << what << " after the stop, /MT:" << kThreads[i];
          EXPECT_EQ(testing::ReadFile(root.path / "m.sha256"), one.manifest)
              << what << " after the stop, /MT:" << kThreads[i];
          fs::remove_all(root.path / "out");
        }
      });
}

// A clean export, verified with one message file changed in each of c/ and
// e/, one gone from d/, and an extra one in a/.
TEST(StressTest, EveryNumberOfWritersVerifiesAsOneDoes) {
  ForEachSeed(200, "the verifies",
              [](const std::string& what, const testing::TempDir& root, const Store&) {
                ASSERT_EQ(RunLogged(root, kArgs, "1").process.status, 0) << what;
                fs::rename(root.path / "out", root.path / "clean");
                const Tree clean = ReadTree(root.path / "clean");
                std::vector<Result> verifies;
                for (const std::string& t : kThreads) {
                  fs::copy(root.path / "clean", root.path / "out", fs::copy_options::recursive);
                  testing::WriteFile(root.path / "out/c" / MessageFileName(200), "changed");
                  for (const auto& [name, content] : clean) {
                    if (name.rfind("e/", 0) == 0 && name.size() == 24 && content.size() < 100) {
                      testing::WriteFile(root.path / "out" / name, content + "!");
                      break;
                    }
                  }
                  for (const auto& entry : clean) {
                    if (entry.first.rfind("d/", 0) == 0 && entry.first.size() == 24) {
                      fs::remove(root.path / "out" / entry.first);
                      break;
                    }
                  }
                  testing::WriteFile(root.path / "out/a" / MessageFileName(99999), "extra");
                  fs::remove(root.path / "m.sha256");  // a verify writes a new one
                  verifies.push_back(RunLogged(root, {"/S:store", "/T:out", "/VERIFY"}, t));
                  fs::remove_all(root.path / "out");
                }
                EXPECT_EQ(verifies[0].process.status, 1) << what;
                for (const char* kind :
                     {"missing: 1\n", "differ from the export: 2\n", "not have written: 1\n"})
                  EXPECT_NE(verifies[0].process.err.find(kind), std::string::npos)
                      << what << verifies[0].process.err;
                for (std::size_t i = 1; i < kThreads.size(); ++i)
                  ExpectSame(verifies[0], verifies[i], what + " verify /MT:" + kThreads[i]);
              });
}

}  // namespace
}  // namespace plenvar
