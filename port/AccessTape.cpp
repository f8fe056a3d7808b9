#include "port/AccessTape.h"

namespace brevomat {

void AccessTape::Enter(std::uint64_t entry) {
  if (end_ - fill_ < 2 && !Refill(2)) return;
  PutRepeat();
  *fill_++ = entry;
  const auto at = static_cast<std::uint32_t>(noted_);
  recent_[at & kRecentMask] = entry;
  std::uint32_t& last = lastAt_[(entry * 0x9E3779B97F4A7C15u) >> (64 - kHashBits)];
  const std::uint32_t distance = at - last;
  last = at;
  if (distance - 1 < kRecent - 1) period_ = distance;
  repeatFrom_ = ++noted_;
}

}  // namespace brevomat
