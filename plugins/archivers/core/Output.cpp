#include "Output.h"

#include <cstring>

namespace arc {

void Output::Append(const std::string& text) {
  if (all_.size() < 64 * 1024) all_ += text;
  if (!buf_ || full_) return;
  size_t room = size_ - 1 - used_;
  size_t n = text.size();
  if (n > room) {
    n = room;
    // Never leave half a UTF-8 character at the end.
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    full_ = true;
  }
  memcpy(buf_ + used_, text.data(), n);
  used_ += n;
  buf_[used_] = '\0';
}

}  // namespace arc
