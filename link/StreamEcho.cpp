#include "link/StreamEcho.h"

#include "data/Registers.h"

namespace {
constexpr uint8_t kReadEcho = 0xA5;  // 5A inverted
constexpr uint8_t kRefused = 0xFE;
static_assert(kMaxFrameLength <= 32, "one bit per register");
}  // namespace

void StreamEcho::Feed(const uint8_t* bytes, int count) {
  for (int k = 0; k < count && !Complete(); ++k) {
    const uint8_t b = bytes[k];
    if (!afterCommand_) {
      afterCommand_ = b == kReadEcho;
      continue;
    }
    afterCommand_ = false;
    if (b == kRefused) {
      refused_ |= 1u << answered_;
      ++answered_;
    } else if (b == request_.Number(answered_)) {
      ++answered_;
    } else {
      afterCommand_ = b == kReadEcho;  // A5 A5 nn: the second may begin the pair
    }
  }
}

bool StreamEcho::Complete() const { return answered_ >= request_.count; }
