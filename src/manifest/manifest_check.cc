// The verify from a manifest alone: every file it lists hashed again, then
// the listed folders searched for message files it does not list. For when
// the source is gone.
#include <utility>
#include <vector>

#include "manifest/batch_hasher.h"
#include "manifest/manifest.h"
#include "platform/digest.h"
#include "target/listed_numbers.h"
#include "target/message_names.h"

namespace plenvar {

namespace {

constexpr std::size_t kBatch = 256;

// The file at `relative` (with "/") in `target`, listed with `digest`; a
// message file's number goes to `listed`, for the search for extra files.
ListedFile Listed(const std::string& target, const std::string& relative, std::string digest,
                  ListedNumbers& listed) {
  ListedFile file;
  file.path = target;
  for (const char c : "\\" + relative) file.path += c == '/' ? '\\' : c;
  file.digest = std::move(digest);
  const std::size_t slash = file.path.rfind('\\');
  std::int64_t number = 0;
  if (KindOfName(std::string_view(file.path).substr(slash + 1), &number) == NameKind::kMessageFile)
    listed.Add(file.path.substr(0, slash), number);
  return file;
}

// Every file of the batch checked is reported, a stop or not; one not reached is not.
void ReportBatch(const std::vector<ListedFile>& batch, ExportReport& report, RunControl& control) {
  for (const ListedFile& file : batch) {
    if (!file.done) continue;
    if (file.found.empty()) {
      report.Fail({kMessageMissing, file.path,
                   file.error.empty() ? std::string("could not be read") : file.error});
    } else if (file.found != file.digest) {
      report.Fail(
          {kMessageDiffers, file.path, "its SHA-256 is " + file.found + ", not the manifest's"});
    }
    ++report.done.messages;
    report.done.bytes += static_cast<std::int64_t>(file.size);
    ++control.messages;
    control.bytes += static_cast<std::int64_t>(file.size);
  }
}

}  // namespace

void CheckManifest(const std::string& manifest, const std::string& target, int threads,
                   ExportReport& report, RunControl& control) {
  BatchHasher hasher(threads, control);
  std::vector<ListedFile> batch;
  ListedNumbers listed;
  const auto check = [&] {
    hasher.Hash(batch);
    ReportBatch(batch, report, control);
    batch.clear();
  };
  std::string digest, relative, why;
  const auto take = [&](std::string_view line, std::int64_t, LineEnd) {
    if (control.Stopped()) return false;
    if (!ParseManifestLine(line, &digest, &relative, &why)) return true;  // refused before the run
    batch.push_back(Listed(target, relative, digest, listed));
    if (batch.size() == kBatch) check();
    return true;
  };
  platform::Sha256 own;  // the manifest's own digest, to match the export's log line
  std::string unread;
  const bool read = ReadManifestLines(manifest, take, &own, &unread);
  check();  // what was read of the manifest is checked, all of it or not
  if (!read) throw Error(manifest, unread);  // and no extra file is looked for
  if (control.Stopped()) return;             // what it did not reach is not extra
  report.manifest.path = manifest;
  report.manifest.digest = own.Hex();
  report.manifest.read = true;
  listed.ReportExtras(report, &control);
}

}  // namespace plenvar
