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
  const std::uint64_t key = sinceNs | std::uint64_t{static_cast<std::uint8_t>(flags | offset)} << 32;
  const std::uint64_t entry = key | std::uint64_t{value} << 48;
  lastNs_ = ns;
  if (noted_ == runNoted_ && key == runKey_ && Extend(entry)) return;
  Enter(entry);
  // The next access may go on from this one as a run: the same register, direction and width, as
  // long after it as it came after the one before (a block's words read one by one to compare).
  runKey_ = key;
  runNoted_ = noted_;
  runHead_ = nullptr;
}

// Only when the history holds no repeat under way (the access before was the run's last, or
// the single one a run begins with).
bool AccessTape::Extend(std::uint64_t entry) {
  const std::size_t width = (entry >> 32 & record::kWordFlag) != 0 ? 2 : 1;
  if (runHead_ == nullptr) {
    // The access before this one, with the same key, stays as it was; the run begins here.
    if (end_ - fill_ < 3) return false;
    fill_[0] = kRunEntry << 32 | (entry & 0xFF00000000u) << 8;
    const auto sinceNs = static_cast<std::uint32_t>(entry);
    fill_[1] = sinceNs | std::uint64_t{sinceNs} << 32;
    fill_[2] = 0;
    runHead_ = fill_;
    runValues_ = reinterpret_cast<std::uint8_t*>(fill_ + 2);
    fill_ += 3;
  } else if (runValues_ + width > reinterpret_cast<std::uint8_t*>(fill_)) {
    if (fill_ == end_) return false;
    *fill_++ = 0;
  }
  const auto value = static_cast<std::uint16_t>(entry >> 48);
  runValues_[0] = static_cast<std::uint8_t>(value);
  if (width == 2) runValues_[1] = static_cast<std::uint8_t>(value >> 8);
  runValues_ += width;
  ++*runHead_;
  recent_[noted_ & kRecentMask] = entry;
  repeatFrom_ = runNoted_ = ++noted_;
  return true;
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
