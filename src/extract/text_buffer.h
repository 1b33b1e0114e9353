// The cutter's working text: a buffer that grows without copying what it
// holds (platform/memory.h), so that a message of a GB is written into memory
// once and never held twice. A large message is handed on in the buffer it
// was cut in; whoever holds the buffer last frees it, on any thread.
#ifndef PLENVAR_EXTRACT_TEXT_BUFFER_H_
#define PLENVAR_EXTRACT_TEXT_BUFFER_H_

#include <cstddef>
#include <cstring>
#include <string_view>
#include <utility>

#include "platform/memory.h"

namespace plenvar {

class TextBuffer {
 public:
  TextBuffer() = default;
  TextBuffer(TextBuffer&& other) noexcept { swap(other); }
  TextBuffer& operator=(TextBuffer&& other) noexcept {
    if (this != &other) {
      platform::Free(&memory_);
      size_ = 0;
      swap(other);
    }
    return *this;
  }
  ~TextBuffer() { platform::Free(&memory_); }

  char* data() { return memory_.data; }
  const char* data() const { return memory_.data; }
  std::size_t size() const { return size_; }
  // Bytes it may hold before it asks the OS again: the memory it costs.
  std::size_t capacity() const { return memory_.usable; }
  std::string_view view() const { return std::string_view(memory_.data, size_); }

  void clear() { size_ = 0; }
  // Room for `room` bytes in all: mapped at once on POSIX, reserved on
  // Windows and committed as the text grows. Throws std::bad_alloc.
  void reserve(std::size_t room) {
    if (room > memory_.reserved) platform::Grow(&memory_, size_, room, size_);
  }
  TextBuffer& append(const char* text, std::size_t n) {
    if (n > memory_.usable - size_) MakeUsable(size_ + n);
    if (n > 0) std::memcpy(memory_.data + size_, text, n);
    size_ += n;
    return *this;
  }
  TextBuffer& append(std::string_view text) { return append(text.data(), text.size()); }
  void push_back(char c) { append(&c, 1); }
  // Drops the first n bytes.
  void erase_front(std::size_t n) {
    std::memmove(memory_.data, memory_.data + n, size_ - n);
    size_ -= n;
  }
  void swap(TextBuffer& other) noexcept {
    std::swap(memory_, other.memory_);
    std::swap(size_, other.size_);
  }

 private:
  // Twice the room when it must grow: a text grown a block at a time then
  // asks the OS a few dozen times, not once a block. Within its room (on
  // Windows, committing more of what is reserved) the room stays.
  void MakeUsable(std::size_t need) {
    platform::Grow(&memory_, need, need > memory_.reserved ? 2 * memory_.reserved : 0, size_);
  }

  platform::GrowingMemory memory_;
  std::size_t size_ = 0;
};

}  // namespace plenvar

#endif  // PLENVAR_EXTRACT_TEXT_BUFFER_H_
