// Windows memory that grows: address space reserved, committed as the text
// grows, so that commit charge, which a live server runs short of, follows
// the text and not the room kept for it. (Large pages on Windows need a
// privilege a migration tool should not ask for.)
#include "platform/memory.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <new>

namespace plenvar::platform {

namespace {

constexpr std::size_t kPage = 4096;
constexpr std::size_t kGranule = 64 << 10;  // of reservations

std::size_t RoundUp(std::size_t n, std::size_t unit) {
  if (n > SIZE_MAX / 2) throw std::bad_alloc();
  return (n + unit - 1) / unit * unit;
}

}  // namespace

void Grow(GrowingMemory* memory, std::size_t need, std::size_t reserve, std::size_t keep) {
  if (reserve < need) reserve = need;
  if (reserve > memory->reserved) {
    // A new reservation costs a copy of the text: at least twice the last.
    const std::size_t size =
        RoundUp(reserve > 2 * memory->reserved ? reserve : 2 * memory->reserved, kGranule);
    void* data = ::VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS);
    if (data == nullptr) throw std::bad_alloc();
    const std::size_t commit = RoundUp(keep > need ? keep : need, kPage);
    if (commit > 0 && ::VirtualAlloc(data, commit, MEM_COMMIT, PAGE_READWRITE) == nullptr) {
      ::VirtualFree(data, 0, MEM_RELEASE);
      throw std::bad_alloc();
    }
    if (keep > 0) std::memcpy(data, memory->data, keep);
    Free(memory);
    memory->data = static_cast<char*>(data);
    memory->reserved = size;
    memory->usable = commit;
  }
  if (need <= memory->usable) return;
  // Commit in steps of an eighth, so that a large text costs few calls and
  // commits at most an eighth more than it holds.
  const std::size_t step = memory->usable + memory->usable / 8;
  std::size_t commit = RoundUp(need > step ? need : step, kPage);
  if (commit > memory->reserved) commit = memory->reserved;
  if (::VirtualAlloc(memory->data + memory->usable, commit - memory->usable, MEM_COMMIT,
                     PAGE_READWRITE) == nullptr)
    throw std::bad_alloc();
  memory->usable = commit;
}

void Free(GrowingMemory* memory) {
  if (memory->data != nullptr) ::VirtualFree(memory->data, 0, MEM_RELEASE);
  *memory = GrowingMemory();
}

}  // namespace plenvar::platform
