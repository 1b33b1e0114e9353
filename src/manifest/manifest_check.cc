// The verify from a manifest alone: every file it lists hashed again, then
// the listed folders searched for message files it does not list. For when
// the source is gone.
#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "manifest/manifest.h"
#include "platform/digest.h"
#include "platform/files.h"
#include "target/listed_numbers.h"
#include "target/message_names.h"

namespace plenvar {

namespace {

constexpr std::size_t kBlock = 128 << 10;

// The SHA-256 of the file at `path`, read a block at a time; empty when a
// stop came first. Throws Error.
std::string DigestOfFile(const std::string& path, std::vector<char>& block, std::uint64_t* size,
                         const std::atomic<int>& stop) {
  platform::InputFile file;
  platform::OpenForReading(path, &file);
  platform::DropCachedPages(file);  // what the disk holds, not what memory still does
  platform::Sha256 digest;
  for (std::size_t got; (got = platform::ReadBlock(file, block.data(), block.size())) > 0;) {
    if (stop.load() != 0) return "";  // a file of gigabytes must not hold a stop up
    digest.Add(std::string_view(block.data(), got));
  }
  *size = file.bytesRead;
  return digest.Hex();
}

}  // namespace

void CheckManifest(const std::string& manifest, const std::string& target, int threads,
                   ExportReport& report, RunControl& control) {
  // Files are hashed by `threads` threads a batch at a time, and reported in
  // the manifest's order once their batch is done: the hashing, at some
  // 1.8 GB/s a core with the CPU's SHA instructions, is what takes the time.
  struct Item {
    std::string path, digest;  // listed
    std::string found, error;  // what the file gave
    std::uint64_t size = 0;
    bool done = false;  // checked to its end; else not reached before a stop
  };
  constexpr std::size_t kBatch = 256;
  std::vector<Item> batch;
  std::vector<std::vector<char>> blocks(static_cast<std::size_t>(std::max(threads, 1)),
                                        std::vector<char>(kBlock));
  ListedNumbers listed;
  // Throws nothing: an exception out of a thread would end the process.
  const auto check = [&batch, &blocks, &control](std::size_t thread,
                                                 std::atomic<std::size_t>& next) noexcept {
    for (std::size_t i; control.stop.load() == 0 && (i = next++) < batch.size();) {
      Item& item = batch[i];
      try {
        item.found = DigestOfFile(item.path, blocks[thread], &item.size, control.stop);
        item.done = !item.found.empty();
      } catch (Error& e) {
        item.done = true;
        item.error.swap(e.reason);  // nothing allocated here, so nothing thrown
      } catch (...) {
        item.done = true;  // out of memory, most likely: reported as not read
      }
    }
  };
  const auto run = [&] {
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> helpers;
    helpers.reserve(blocks.size());
    for (std::size_t t = 1; t < blocks.size() && t < batch.size() && control.stop.load() == 0;
         ++t) {
      try {
        helpers.emplace_back(check, t, std::ref(next));
      } catch (...) {
        break;  // no thread to be had: those there are do the batch
      }
    }
    check(0, next);
    for (std::thread& helper : helpers) helper.join();
    // Every file checked is reported, a stop or not; one not reached is not.
    for (Item& item : batch) {
      if (!item.done) continue;
      if (item.found.empty()) {
        report.Fail({kMessageMissing, item.path,
                     item.error.empty() ? std::string("could not be read") : item.error});
      } else if (item.found != item.digest) {
        report.Fail(
            {kMessageDiffers, item.path, "its SHA-256 is " + item.found + ", not the manifest's"});
      }
      ++report.messages;
      report.bytes += static_cast<std::int64_t>(item.size);
      ++control.messages;
      control.bytes += static_cast<std::int64_t>(item.size);
    }
    batch.clear();
  };
  std::string digest, relative, why;
  const auto take = [&](std::string_view line, std::int64_t, LineEnd) {
    if (control.stop.load() != 0) return false;
    if (!ParseManifestLine(line, &digest, &relative, &why)) return true;  // refused before the run
    Item item;
    item.path = target;
    for (const char c : "\\" + relative) item.path += c == '/' ? '\\' : c;
    item.digest = digest;
    const std::size_t slash = item.path.rfind('\\');
    std::int64_t number = 0;
    if (KindOfName(std::string_view(item.path).substr(slash + 1), &number) ==
        NameKind::kMessageFile)
      listed.Add(item.path.substr(0, slash), number);
    batch.push_back(std::move(item));
    if (batch.size() == kBatch) run();
    return true;
  };
  platform::Sha256 own;  // the manifest's own digest, to match the export's log line
  try {
    ForEachManifestLine(manifest, take, &own);
  } catch (const Error&) {
    run();  // what was read of the manifest is checked; no extra file is looked for
    throw;
  }
  run();
  if (control.stop.load() == 0) {
    report.manifest = manifest;
    report.manifestDigest = own.Hex();
    report.manifestRead = true;
  }
  // Not after a stop: what it did not reach is not extra.
  if (control.stop.load() == 0) listed.ReportExtras(report, &control.stop);
}

}  // namespace plenvar
