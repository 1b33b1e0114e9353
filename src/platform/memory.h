// Memory for a text that grows, straight from the OS, so that growing it
// neither copies the text nor holds old and new at once: POSIX maps it and
// moves its pages (mremap where there is one); Windows reserves address space
// and commits it as the text grows, since there committed memory, not
// address space, is what a live server runs short of.
#ifndef PLENVAR_PLATFORM_MEMORY_H_
#define PLENVAR_PLATFORM_MEMORY_H_

#include <cstddef>

namespace plenvar::platform {

struct GrowingMemory {
  char* data = nullptr;
  std::size_t usable = 0;    // bytes that may be written (POSIX: mapped; Windows: committed)
  std::size_t reserved = 0;  // address space held, at least `usable`
};

// Makes at least `need` bytes usable and holds address space for at least
// `reserve` (no less than `need`), keeping the first `keep` bytes; `data` may
// move. Throws std::bad_alloc when the OS has no more to give.
void Grow(GrowingMemory* memory, std::size_t need, std::size_t reserve, std::size_t keep);
// Gives it all back. Safe on memory never grown.
void Free(GrowingMemory* memory);

}  // namespace plenvar::platform

#endif  // PLENVAR_PLATFORM_MEMORY_H_
