#include "port/AccessTape.h"

#include <algorithm>
#include <cstring>

namespace brevomat {

void AccessTape::NoteNew(std::uint16_t port, std::uint8_t flags, std::uint16_t value, std::uint64_t ns) {
  const std::uint64_t sinceNs = ns - lastNs_;
  const auto offset = static_cast<std::uint16_t>(port - base_);
  if (offset >= 5 || sinceNs > 0xFFFFFFFFu) {
    NoteOther(port, flags, value, ns);
    coded_ = false;
    return;
  }
  const std::uint64_t key = sinceNs | std::uint64_t{static_cast<std::uint8_t>(flags | offset)} << 32;
  const std::uint64_t entry = key | std::uint64_t{value} << 48;
  lastNs_ = ns;
  if (noted_ == runNoted_ && key == runKey_ && (RepeatsLast(entry) || Extend(entry, entry))) return;
  Enter(entry, entry, false);
  // The next access may go on from this one as a run: the same register, direction and width, as
  // long after it as it came after the one before (a block's words read one by one to compare).
  runKey_ = key;
  runNoted_ = noted_;
  runHead_ = nullptr;
}

// Only when the history holds no repeat under way (the access before was the run's last, or
// the single one a run begins with).
bool AccessTape::Extend(std::uint64_t entry, std::uint64_t slot) {
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
  AddToRun(static_cast<std::uint16_t>(entry >> 48), width, slot);
  return true;
}

void AccessTape::Enter(std::uint64_t entry, std::uint64_t slot, bool coded) {
  if (end_ - fill_ < 2 && !Refill(2)) return;
  const std::uint64_t held = noted_ - repeatFrom_;
  PutRepeat();
  *fill_++ = entry;
  coded_ = coded;
  UpdatePeriod(slot, held);
}

// The access goes into the history as `slot`, after `held` accesses that repeated at the period.
void AccessTape::UpdatePeriod(std::uint64_t slot, std::uint64_t held) {
  const auto at = static_cast<std::uint32_t>(noted_);
  recent_[at & kRecentMask] = slot;
  std::uint32_t& last = lastAt_[(slot * 0x9E3779B97F4A7C15u) >> (64 - kHashBits)];
  period_ = record::NextPeriod(recent_, noted_, period_, at - last, held);
  last = at;
  repeatFrom_ = ++noted_;
}

void AccessTape::SetByteNs(std::uint64_t byteNs) {
  byteNs_ = byteNs < (1u << 24) ? static_cast<std::uint32_t>(byteNs) : 0;
  if (byteNs_ == 0 || (end_ - fill_ < 2 && !Refill(2))) return;
  PutRepeat();
  *fill_++ = kByteNsEntry << 32 | byteNs_;
}

void AccessTape::NoteNewCode(std::uint64_t code, std::uint64_t ns) {
  if (noted_ == runNoted_ && (code & kCodeKeyMask) == runKey_) {
    if (RepeatsLast(code)) return;
    if (runHead_ != nullptr && runValues_ + 2 <= reinterpret_cast<std::uint8_t*>(fill_)) {
      // Word after word read to compare, with room in the run's last entry: the value goes on it.
      AddToRun(static_cast<std::uint16_t>(code >> 16), (code >> 40 & record::kWordFlag) != 0 ? 2 : 1, code);
      return;
    }
  }
  const auto port = static_cast<std::uint16_t>(code);
  const auto flags = static_cast<std::uint8_t>(code >> 40 & ~kCodeMark);
  const auto value = static_cast<std::uint16_t>(code >> 16);
  const auto offset = static_cast<std::uint16_t>(port - base_);
  if (offset >= 5 || byteNs_ == 0 || lastNs_ != kTimeUnknown) {
    // Another port, or the first access after a break: with its time whole. The accesses after
    // it go on from it as codes.
    NoteOther(port, flags, value, ns);
    coded_ = true;
    if (byteNs_ != 0) lastNs_ = kTimeUnknown;
    return;
  }
  // It began as the access before it ended.
  const std::uint64_t sinceNs = SinceLastCodeNs();
  const std::uint64_t entry =
      sinceNs | std::uint64_t{static_cast<std::uint8_t>(flags | offset)} << 32 | std::uint64_t{value} << 48;
  // Right after one at the same port with the same flags (word after word read to compare): a
  // run. The key has the code's port and flags, so no entry's key equals it.
  const std::uint64_t key = code & kCodeKeyMask;
  if (noted_ == runNoted_ && key == runKey_ && Extend(entry, code)) return;
  Enter(entry, code, true);
  runKey_ = key;
  runNoted_ = noted_;
  runHead_ = nullptr;
}

void AccessTape::NoteCodeRun(std::uint16_t port, std::uint8_t flags, const std::uint8_t* data,
                             std::size_t count, std::uint64_t ns, std::uint32_t stepNs) {
  const unsigned width = (flags & record::kWordFlag) != 0 ? 2 : 1;
  const auto offset = static_cast<std::uint16_t>(port - base_);
  // A first access after a break goes in with its time whole; short runs, other ports and runs
  // at another pace go one by one.
  std::size_t i = lastNs_ != kTimeUnknown ? 1 : 0;
  if (offset >= 5 || count < i + 4 || byteNs_ == 0 || stepNs != width * byteNs_) i = count;
  for (std::size_t k = 0; k < i; ++k) {
    const auto value = static_cast<std::uint16_t>(width == 2 ? data[2 * k] | data[2 * k + 1] << 8 : data[k]);
    const std::uint64_t code = Code(port, flags, value);
    if (k != 0 && stepNs != width * byteNs_) BreakCodes();
    if (!NoteCodeRepeat(code)) NoteNewCode(code, ns + k * stepNs);
  }
  if (i == count) return;
  // The first began as the access before it ended, each of the others as the one before it.
  std::uint64_t sinceNs = SinceLastCodeNs();
  data += i * width;
  count -= i;
  while (count != 0) {
    const std::size_t n = std::min(count, kLongestRun);
    if (!PutRun(static_cast<std::uint8_t>(flags | offset), data, n, sinceNs, stepNs)) return;
    // The history has the run's last accesses by their codes, for the codes after it.
    for (std::size_t k = n > kRecent ? n - kRecent : 0; k < n; ++k) {
      const auto value =
          static_cast<std::uint16_t>(width == 2 ? data[2 * k] | data[2 * k + 1] << 8 : data[k]);
      recent_[(noted_ + k) & kRecentMask] = Code(port, flags, value);
    }
    noted_ += n;
    repeatFrom_ = noted_;
    sinceNs = stepNs;
    data += n * width;
    count -= n;
  }
}

bool AccessTape::PutRun(std::uint8_t tag, const std::uint8_t* data, std::size_t count, std::uint64_t sinceNs,
                        std::uint32_t stepNs) {
  const std::size_t bytes = count * ((tag & record::kWordFlag) != 0 ? 2 : 1);
  const std::size_t entries = 2 + (bytes + 7) / 8;
  if (static_cast<std::size_t>(end_ - fill_) < entries + 1 && !Refill(entries + 1)) return false;
  PutRepeat();
  fill_[0] = kRunEntry << 32 | std::uint64_t{tag} << 40 | count;
  fill_[1] = sinceNs | std::uint64_t{stepNs} << 32;
  fill_[entries - 1] = 0;
  std::memcpy(fill_ + 2, data, bytes);
  fill_ += entries;
  return true;
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
    if (!PutRun(static_cast<std::uint8_t>(tag), data, n, sinceNs, stepNs)) return;
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
