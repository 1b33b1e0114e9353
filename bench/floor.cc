// The least this job can do, as the yardstick for the end-to-end benchmark:
// walk the tree, read every file with large reads, cut before each envelope
// line that follows an empty line, and write each message with one
// open/write/close into a mirrored tree.
//
//   floor SOURCE TARGET [--atomic] [--mkdir] [--sync=fsync|syncfs|batch]
//
// --atomic writes each message to a temporary file and renames it; --mkdir
// makes the target folder (one level) before every message. They show what
// those steps cost on their own. --sync puts the output on stable storage
// before the program ends, in one of three ways, to compare them: fsync of
// every file and then of every folder; one syncfs at the end; or git's batch
// way, asking for write-out of every file as it is closed (sync_file_range)
// and paying one syncfs at the end.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

bool atomic = false;
bool mkdir_each = false;
enum class Sync { kNone, kFsync, kSyncfs, kBatch } sync_mode = Sync::kNone;
std::vector<std::string> folders_made;
long long count = 0;
// Kept for the whole run and never cleared: a std::string resized for every
// read would zero a MiB per read, which on a store of one small message per
// file cost the floor more than plenvar's whole run.
std::unique_ptr<char[]> buffer;
std::size_t capacity = 0;

void Die(const std::string& what) {
  std::perror(what.c_str());
  std::exit(1);
}

void WriteMessage(const std::string& folder, const char* data, std::size_t size) {
  if (mkdir_each) mkdir(folder.c_str(), 0777);
  char name[40];
  std::snprintf(name, sizeof name, "/%018lld.MAI", ++count);
  const std::string path = folder + name;
  const std::string file = atomic ? path + ".tmp" : path;
  int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (fd < 0 || write(fd, data, size) != static_cast<ssize_t>(size)) Die(file);
  if (sync_mode == Sync::kFsync && fsync(fd) != 0) Die(file);
  if (sync_mode == Sync::kBatch && sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE) != 0) Die(file);
  if (close(fd) != 0) Die(file);
  if (atomic && rename(file.c_str(), path.c_str()) != 0) Die(path);
}

void SplitFile(const std::string& source, const std::string& target) {
  int fd = open(source.c_str(), O_RDONLY);
  if (fd < 0) Die(source);
  std::size_t used = 0;
  for (;;) {
    if (capacity - used < (1 << 20)) {
      const std::size_t bigger = std::max<std::size_t>(2 * capacity, used + (1 << 20));
      std::unique_ptr<char[]> grown(new char[bigger]);
      if (used > 0) std::memcpy(grown.get(), buffer.get(), used);
      buffer = std::move(grown);
      capacity = bigger;
    }
    ssize_t n = read(fd, buffer.get() + used, 1 << 20);
    if (n < 0) Die(source);
    if (n == 0) break;
    used += static_cast<std::size_t>(n);
  }
  close(fd);
  static const char kCut[] = "\r\n\r\nFrom ";
  const char* start = buffer.get();
  const char* end = start + used;
  for (const char* p = start;;) {
    const char* cut = static_cast<const char*>(memmem(p, end - p, kCut, sizeof kCut - 1));
    if (cut == nullptr) break;
    WriteMessage(target, start, cut + 4 - start);
    start = p = cut + 4;
  }
  if (start < end) WriteMessage(target, start, end - start);
}

void Walk(const std::string& source, const std::string& target) {
  DIR* dir = opendir(source.c_str());
  if (dir == nullptr) Die(source);
  std::vector<std::string> folders, files;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    (entry->d_type == DT_DIR ? folders : files).push_back(entry->d_name);
  }
  closedir(dir);
  std::sort(folders.begin(), folders.end());
  std::sort(files.begin(), files.end());
  mkdir(target.c_str(), 0777);
  folders_made.push_back(target);
  for (const std::string& name : folders) Walk(source + "/" + name, target + "/" + name);
  for (const std::string& name : files) SplitFile(source + "/" + name, target);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: floor SOURCE TARGET [--atomic] [--mkdir]\n");
    return 2;
  }
  for (int i = 3; i < argc; ++i) {
    atomic |= std::strcmp(argv[i], "--atomic") == 0;
    mkdir_each |= std::strcmp(argv[i], "--mkdir") == 0;
    if (std::strcmp(argv[i], "--sync=fsync") == 0) sync_mode = Sync::kFsync;
    if (std::strcmp(argv[i], "--sync=syncfs") == 0) sync_mode = Sync::kSyncfs;
    if (std::strcmp(argv[i], "--sync=batch") == 0) sync_mode = Sync::kBatch;
  }
  Walk(argv[1], argv[2]);
  if (sync_mode == Sync::kFsync) {
    // The names (and renames) live in the folders: each needs its own fsync.
    for (const std::string& folder : folders_made) {
      int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
      if (fd < 0 || fsync(fd) != 0 || close(fd) != 0) Die(folder);
    }
  } else if (sync_mode != Sync::kNone) {
    int fd = open(argv[2], O_RDONLY | O_DIRECTORY);
    if (fd < 0 || syncfs(fd) != 0 || close(fd) != 0) Die(argv[2]);
  }
  return 0;
}
