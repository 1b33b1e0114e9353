// POSIX memory that grows: anonymous mappings, moved by mremap where the
// system has it (Linux), so that growing moves page tables, not text.
#include "platform/memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <new>

namespace plenvar::platform {

namespace {

constexpr std::size_t kHuge = 2 << 20;

std::size_t Pages(std::size_t n) {
  static const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  if (n > SIZE_MAX / 2) throw std::bad_alloc();
  return (n + page - 1) / page * page;
}

// Asks for huge pages, so that a message of hundreds of MB pays a page fault
// per 2 MiB, not per 4 KiB. Advice is advice: a kernel without transparent
// huge pages refuses it and nothing changes.
void Advise([[maybe_unused]] char* data, [[maybe_unused]] std::size_t size) {
#ifdef MADV_HUGEPAGE
  if (size >= 2 * kHuge) ::madvise(data, size, MADV_HUGEPAGE);
#endif
}

// `size` bytes, a large block starting on a huge page's boundary: each 2 MiB
// of it can then be one huge page, and a move keeps them whole.
char* Map(std::size_t size) {
  const std::size_t slack = size >= 2 * kHuge ? kHuge : 0;
  void* mapped =
      ::mmap(nullptr, size + slack, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) throw std::bad_alloc();
  char* const base = static_cast<char*>(mapped);
  const std::size_t skip =
      slack == 0 ? 0 : (kHuge - reinterpret_cast<std::uintptr_t>(base) % kHuge) % kHuge;
  char* const data = base + skip;
  if (data > base) ::munmap(base, static_cast<std::size_t>(data - base));
  char* const end = base + size + slack;
  if (end > data + size) ::munmap(data + size, static_cast<std::size_t>(end - (data + size)));
  return data;
}

}  // namespace

void Grow(GrowingMemory* memory, std::size_t need, std::size_t reserve, std::size_t keep) {
  const std::size_t size = Pages(need > reserve ? need : reserve);
  if (size <= memory->reserved) return;
  char* data = nullptr;
  if (memory->data == nullptr) {
    data = Map(size);
  } else {
#ifdef MREMAP_MAYMOVE
    (void)keep;
    // In place where the addresses after it are free, else its pages move
    // onto a fresh block (which the move replaces).
    void* moved = ::mremap(memory->data, memory->reserved, size, 0);
    if (moved == MAP_FAILED) {
      char* const to = Map(size);
      moved = ::mremap(memory->data, memory->reserved, size, MREMAP_MAYMOVE | MREMAP_FIXED, to);
      if (moved == MAP_FAILED) {
        ::munmap(to, size);
        throw std::bad_alloc();
      }
    }
    data = static_cast<char*>(moved);
#else
    data = Map(size);
    std::memcpy(data, memory->data, keep);
    ::munmap(memory->data, memory->reserved);
#endif
  }
  Advise(data, size);
  memory->data = data;
  memory->usable = memory->reserved = size;
}

void Free(GrowingMemory* memory) {
  if (memory->data != nullptr) ::munmap(memory->data, memory->reserved);
  *memory = GrowingMemory();
}

}  // namespace plenvar::platform
