#include "port/AccessTape.h"

#include <algorithm>
#include <cstring>

namespace brevomat {

void AccessTape::NoteNew(std::uint16_t port, std::uint8_t flags, std::uint16_t value, std::uint64_t ns) {
  const std::uint64_t sinceNs = ns - lastNs_;
  const auto offset = static_cast<std::uint16_t>(port - base_);
  if (offset >= 5 || sinceNs > 0xFFFFFFFFu) {
    NoteOther(port, flags, value, ns);
    return;
  }
  lastNs_ = ns;
  Enter(sinceNs | std::uint64_t{static_cast<std::uint8_t>(flags | offset)} << 32 |
        std::uint64_t{value} << 48);
}

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

void AccessTape::NoteRun(std::uint16_t port, std::uint8_t flags, const std::uint8_t* data, std::size_t count,
                         std::uint64_t ns, std::uint32_t stepNs) {
  const unsigned width = (flags & record::kWordFlag) != 0 ? 2 : 1;
  auto value = [&](std::size_t i) {
    return static_cast<std::uint16_t>(width == 2 ? data[2 * i] | data[2 * i + 1] << 8 : data[i]);
  };
  const auto offset = static_cast<std::uint16_t>(port - base_);
  const std::uint64_t tag = static_cast<std::uint8_t>(flags | offset);
  while (count != 0) {
    const std::uint64_t sinceNs = ns - lastNs_;
    if (offset >= 5 || sinceNs > 0xFFFFFFFFu || count < 4) {
      // Another port, after a long pause, or too short to be worth a run: one by one.
      for (std::size_t i = 0; i < count; ++i) Note(port, flags, value(i), ns + i * stepNs);
      return;
    }
    const std::size_t n = std::min(count, kLongestRun);
    const std::size_t bytes = n * width;
    const std::size_t entries = 2 + (bytes + 7) / 8;
    if (static_cast<std::size_t>(end_ - fill_) < entries + 1 && !Refill(entries + 1)) return;
    PutRepeat();
    fill_[0] = kRunEntry << 32 | tag << 40 | n;
    fill_[1] = sinceNs | std::uint64_t{stepNs} << 32;
    fill_[entries - 1] = 0;
    std::memcpy(fill_ + 2, data, bytes);
    fill_ += entries;
    // The history holds the entries these accesses would have had one by one, so that a repeat
    // after the run compares with them.
    for (std::size_t i = n > kRecent ? n - kRecent : 0; i < n; ++i)
      recent_[(noted_ + i) & kRecentMask] =
          (i == 0 ? sinceNs : stepNs) | tag << 32 | std::uint64_t{value(i)} << 48;
    noted_ += n;
    repeatFrom_ = noted_;
    lastNs_ = ns + (n - 1) * stepNs;
    ns += n * stepNs;
    data += bytes;
    count -= n;
  }
}

}  // namespace brevomat
