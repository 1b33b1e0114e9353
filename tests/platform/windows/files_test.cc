#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <functional>

#include "output/output.h"
#include "platform/windows/win32.h"
#include "test_util.h"

namespace plenvar::platform {
namespace {

std::atomic<int> writeOuts{0}, flushes{0};
bool CountWriteOut(void*) { return ++writeOuts, true; }
bool CountFlush(void* handle) { return ++flushes, FlushFileBuffers(handle) != 0; }
bool RefuseWriteOut(void*) { return ++writeOuts, false; }

// One full flush per run and volume where each file is only written out;
// a full flush per file where the system cannot write out (Windows 7, Wine)
// or the file system refuses it. No file is left from the run's own flush.
TEST(FilesTest, OneFullFlushPerVolume) {
  const struct {
    int writers;
    bool (*writeOut)(void*);
    int writeOuts, flushes;
  } cases[] = {{1, CountWriteOut, 5, 1},
               {3, CountWriteOut, 5, 1},
               {1, nullptr, 0, 6},
               {3, nullptr, 0, 6},
               {1, RefuseWriteOut, 5, 6}};
  const DiskCalls saved = Disk();
  for (const auto& c : cases) {
    const std::string what = std::to_string(c.writers) + " writers, " +
                             (c.writeOut == nullptr ? "no write-out" : "write-out");
    Disk() = {c.writeOut, CountFlush};
    writeOuts = flushes = 0;
    testing::TempDir dir;
    ExportReport report;
    RunControl control;
    testing::ScriptedStore store;
    auto output = testing::MakeQueue(c.writers, report, store, control);
    for (const char* folder : {"anna", "bob"}) {
      testing::ScriptedStore::Script script;
      for (int i = 0; i < (folder[0] == 'a' ? 3 : 2); ++i)
        script.messages.emplace_back("Received: x\r\n", false);
      store.Add(std::string(folder) + ".msg", script);
      output->MailFile(std::string(folder) + ".msg", dir.Sub(folder));
    }
    output->Finish();
    output.reset();
    Disk() = saved;
    EXPECT_EQ(report.total, 0) << what;
    EXPECT_EQ(writeOuts.load(), c.writeOuts) << what;
    EXPECT_EQ(flushes.load(), c.flushes) << what;
    const testing::Tree tree = testing::ReadTree(dir.path);
    EXPECT_EQ(tree.size(), 7u) << what;  // two folders, five message files
    EXPECT_EQ(tree.count("anna/000000000000000003.MAI"), 1u) << what;
  }
}

}  // namespace
}  // namespace plenvar::platform
