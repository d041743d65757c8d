#pragma once
// The caller's message buffer: lines appended, always NUL-terminated, cut on a character
// boundary when full; nothing at all when there is no buffer.
#include <cstdint>
#include <string>

namespace arc {

class Output {
 public:
  Output(char* buffer, uint32_t size) : buf_(size ? buffer : nullptr), size_(buffer ? size : 0) {
    if (buf_) buf_[0] = '\0';
  }
  void Line(const std::string& text) { Append(text + "\n"); }
  void Append(const std::string& text);
  const std::string& all() const { return all_; }

 private:
  char* buf_;
  uint32_t size_;
  size_t used_ = 0;
  bool full_ = false;
  std::string all_;  // what was said, also when it did not fit (for the message box)
};

}  // namespace arc
