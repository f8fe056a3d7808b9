// Where a record of the port accesses is noted while a command runs, and the format it is kept in.
//
// Noting an access must cost next to nothing next to the access itself: on the virtual cart an
// access is a few nanoseconds of the host's time. So the command's thread only counts an access
// that repeats the one a period before, appends a fixed 8-byte entry for any other, and copies a
// run's values (a block's data, also when it comes word by word) as they stand; everything else
// (the record's format, finding the repeats in microseconds, compressing, writing) happens on the
// recorder's own thread. A back end that can note its own accesses calls the tape itself, so that
// no layer of calls is added per access: the virtual adapter by codes (NoteCodeRepeat and the rest
// below), whose clock moves a byte cycle an access. Any other is wrapped by the recorder
// (port/PortRecorder.h), which calls Note and NoteRun with the times it reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace brevomat {

// The record as it stands in the file, uncompressed (it is a gzip stream):
//
//   BREVOMAT PORT RECORD 3
//   program: ...          one "name: value" line each: program, platform, back end, base, link
//   ...                   mode, speed, date
//   (empty line)
//   records...
//
// An access record is a tag byte, then what the tag announces, little-endian:
//   bit 7     0 (a mark has it set)
//   bits 0-2  the register: 0-4 base+0 .. base+4, 5 the extended control register (base+0x402),
//             6 another port, whose 16-bit address follows the tag; 7 a repeat or a run of
//             values (below)
//   bit 3     set for a write
//   bit 4     set for a 16-bit access
//   bits 5-6  microseconds since the record before: 0, 1 or 2; 3 when a varint of them follows
//   then the value: one byte, or two for a 16-bit access (for a read, the value read)
// A repeat record is the tag 0x07, a varint period P (1-255) and a varint count N: the next N
// accesses are each the same as the access P before it (register, direction, width, value and
// microseconds since the one before), the ones the repeat itself makes included. A status poll
// is the same handful of accesses over and over, some hundred thousand times in a block erase:
// a repeat takes it in a few bytes, and the compressor never sees it. Accesses to another port and
// accesses after a pause of 3 us or more are never repeated.
// A run of values is the tag 0x0F, an access tag T, a count N (one byte, 1-255) and N values: N
// accesses, each as T says (register 0-5, direction, width, microseconds since the one before:
// 0, 1 or 2) with its own value. A block's data read or written word by word takes two bytes a
// word this way, where a tag each would add a third.
// A mark record is the tag 0x80 + kind, a varint of microseconds since the record before, a varint
// length and that many bytes of text.
namespace record {
inline constexpr std::string_view kMagic = "BREVOMAT PORT RECORD 3\n";
// The records before had no runs of values, the first ones no repeats either; they read the
// same way.
inline constexpr std::string_view kMagicWithoutValueRuns = "BREVOMAT PORT RECORD 2\n";
inline constexpr std::string_view kMagicWithoutRepeats = "BREVOMAT PORT RECORD 1\n";
inline constexpr std::uint8_t kMarkFlag = 0x80;
inline constexpr std::uint8_t kWriteFlag = 0x08;
inline constexpr std::uint8_t kWordFlag = 0x10;
inline constexpr unsigned kTimeShift = 5;
inline constexpr std::uint8_t kRegisterMask = 0x07;
inline constexpr std::uint8_t kEcrRegister = 5;
inline constexpr std::uint8_t kOtherPort = 6;
inline constexpr std::uint16_t kEcrOffset = 0x402;
inline constexpr std::uint8_t kRepeatTag = 0x07;
inline constexpr std::uint8_t kValuesTag = 0x0F;
inline constexpr std::uint32_t kLongestValueRun = 255;
enum class Mark : std::uint8_t { Begin = 1, End = 2, Stopped = 3, Note = 4 };

// How far back a repeat may look: the accesses both ends keep.
inline constexpr std::size_t kHistory = 256;
inline constexpr std::uint32_t kHistoryMask = kHistory - 1;
// What an access is compared by for a repeat: its tag (register, direction, width, time) and its
// value. An access that cannot be repeated has kNoKey, which no access's key equals (bit 7 is a
// mark's).
inline constexpr std::uint32_t kNoKey = 0x80;
inline std::uint32_t RepeatKey(std::uint8_t tag, std::uint16_t value) {
  if ((tag & kRegisterMask) >= kOtherPort || (tag >> kTimeShift & 3u) == 3u) return kNoKey;
  return tag | std::uint32_t{value} << 8;
}

// The period the access after the one at `at` is compared at, in a history of `kHistory` slots
// (`history`, this access's slot in it already): `distance` back is the last access that went in
// the same. That distance, unless the period so far has more behind it: `held` accesses just
// before this one repeated at it. A cycle of accesses in which one value changes each time round
// (the address of each buffer of a block's write) keeps its period, though the new value comes
// again a few accesses on; a loop that begins takes its own period once an access before it
// agrees. A few dozen agreeing are evidence enough.
template <typename Slot>
std::uint32_t NextPeriod(const Slot* history, std::uint64_t at, std::uint32_t period, std::uint32_t distance,
                         std::uint64_t held) {
  if (distance - 1 >= kHistory - 1 || distance == period) return period;
  const std::uint64_t need = held < 32 ? held : 32;
  std::uint64_t agree = 0;
  while (agree < need && agree + 1 + distance < kHistory && agree + 1 + distance <= at &&
         history[(at - 1 - agree) & kHistoryMask] == history[(at - 1 - agree - distance) & kHistoryMask])
    ++agree;
  return agree == need ? distance : period;
}
}  // namespace record

class AccessTape {
 public:
  // One access at `port`, begun at `ns` on the port's clock: `flags` are record::kWriteFlag and
  // record::kWordFlag, `value` what was written or read. An access that is the same as the one a
  // period before (a status poll, the same few accesses a hundred thousand times over) only
  // counts; another is one 8-byte entry in the buffer.
  void Note(std::uint16_t port, std::uint8_t flags, std::uint16_t value, std::uint64_t ns) {
    if (!NoteRepeat(port, flags, value, ns)) [[unlikely]]
      NoteNew(port, flags, value, ns);
  }
  // The cheap half of Note: true when the access is the same as the one a period before and has
  // been counted. False when it is not, and nothing has been noted: NoteNew takes it. A back end
  // that calls the two itself keeps the call to NoteNew off its own hot path.
#if defined(__GNUC__)
  [[gnu::always_inline]]
#endif
  bool
  NoteRepeat(std::uint16_t port, std::uint8_t flags, std::uint16_t value, std::uint64_t ns) {
    const std::uint64_t sinceNs = ns - lastNs_;
    const auto offset = static_cast<std::uint16_t>(port - base_);
    if (offset >= 5 || sinceNs > 0xFFFFFFFFu) [[unlikely]]
      return false;
    const std::uint64_t entry =
        sinceNs | std::uint64_t{static_cast<std::uint8_t>(flags | offset)} << 32 | std::uint64_t{value} << 48;
    if (entry != recent_[(noted_ - period_) & kRecentMask]) return false;
    lastNs_ = ns;
    recent_[noted_++ & kRecentMask] = entry;
    return true;
  }
  // An access that is not a repeat (NoteRepeat has said so).
  void NoteNew(std::uint16_t port, std::uint8_t flags, std::uint16_t value, std::uint64_t ns);
  // A back end whose clock moves by whole accesses (the virtual adapter: a byte cycle `byteNs`, a
  // 16-bit access two, one access after the other) notes with codes instead: an access's code is
  // its port, flags and value without a time, since it began as the one before it ended. The
  // compare with the access a period before is then the code alone, and an access that is no
  // repeat takes its time from the one before it in the history. A back end notes either with
  // codes (and BreakCodes, NoteCodeRun) or with Note and NoteRun, not both.
  static std::uint64_t Code(std::uint16_t port, std::uint8_t flags, std::uint16_t value) {
    return port | std::uint64_t{value} << 16 |
           std::uint64_t{static_cast<std::uint8_t>(kCodeMark | flags)} << 40;
  }
  // The length of a byte cycle; codes are taken as such once it is known (below 16 ms).
  void SetByteNs(std::uint64_t byteNs);
#if defined(__GNUC__)
  [[gnu::always_inline]]
#endif
  bool
  NoteCodeRepeat(std::uint64_t code) {
    if (code != recent_[(noted_ - period_) & kRecentMask]) return false;
    recent_[noted_++ & kRecentMask] = code;
    return true;
  }
  // An access by its code that NoteCodeRepeat has found no repeat, begun at `ns`.
  void NoteNewCode(std::uint64_t code, std::uint64_t ns);
  // The back end's clock has moved on by itself (a wait): the next access does not begin as the
  // one before it ended.
  void BreakCodes() {
    recent_[(noted_ - period_) & kRecentMask] = kNoEntry;
    runNoted_ = ~std::uint64_t{0};
    if (lastNs_ == kTimeUnknown) lastNs_ = kTimeBroken;
  }
  // NoteRun for a back end that notes with codes, each access lasting `stepNs`.
  void NoteCodeRun(std::uint16_t port, std::uint8_t flags, const std::uint8_t* data, std::size_t count,
                   std::uint64_t ns, std::uint32_t stepNs);
  // A run of `count` accesses at one port, as a block's data goes: the values at `data` (bytes,
  // or words low byte first with record::kWordFlag), the first begun at `ns`, each of the others
  // `stepNs` after the one before. The values go into the buffer as they stand, not an entry each.
  void NoteRun(std::uint16_t port, std::uint8_t flags, const std::uint8_t* data, std::size_t count,
               std::uint64_t ns, std::uint32_t stepNs);

 protected:
  AccessTape() {
    for (std::uint64_t& entry : recent_) entry = kNoEntry;
  }
  ~AccessTape() = default;
  AccessTape(const AccessTape&) = delete;
  AccessTape& operator=(const AccessTape&) = delete;

  // An entry: the nanoseconds since the access before (bits 0-31), the tag without its time
  // (bits 32-39) and the value (bits 48-63). An entry whose tag has bit 7 set is one of the
  // recorder's own (a repeat, a long access, a mark) and says what follows it.
  // A repeat: the period (bits 40-47) and the count (bits 0-31 and 48-63): the next accesses are
  // each the same entry as the one a period before.
  static constexpr std::uint64_t kRepeatEntry = 0x84;
  // A run: the register and flags (bits 40-47) and the count (bits 0-31); then the nanoseconds
  // since the access before the run (bits 0-31) and the step (bits 32-63); then the values, as
  // many entries as they fill.
  static constexpr std::uint64_t kRunEntry = 0x85;
  // A repeat of codes: as a repeat, but the first access began as the one before it ended (the
  // access it repeats may have come after another kind).
  static constexpr std::uint64_t kCodeRepeatEntry = 0x86;
  // The byte cycle of the codes that follow, in ns (bits 0-31).
  static constexpr std::uint64_t kByteNsEntry = 0x87;
  // Codes are marked in bits 40-47 (bit 47 and the flags), where an entry has 0 and the history's
  // kNoEntry has the flags of the access it stands for: no code equals either.
  static constexpr std::uint8_t kCodeMark = 0x80;
  // A code without its value: the same for the accesses of a run.
  static constexpr std::uint64_t kCodeKeyMask = ~(std::uint64_t{0xFFFF} << 16);
  // lastNs_ while codes are noted (their times are known from one another), and once their run
  // of times has been broken: the next access's time goes in whole.
  static constexpr std::uint64_t kTimeUnknown = std::uint64_t{1} << 63;
  static constexpr std::uint64_t kTimeBroken = kTimeUnknown + 1;
  // The flags of an access as the history has it (entry, code or kNoEntry).
  static std::uint8_t FlagsIn(std::uint64_t slot) {
    const auto marked = static_cast<std::uint8_t>(slot >> 40);
    return marked != 0 ? marked : static_cast<std::uint8_t>(slot >> 32);
  }
  // The time from the access the history has as `slot` to one that began as it ended: its width
  // in byte cycles.
  static std::uint64_t NsAfter(std::uint32_t byteNs, std::uint64_t slot) {
    return std::uint64_t{byteNs} * ((FlagsIn(slot) & record::kWordFlag) != 0 ? 2 : 1);
  }
  // Longer runs are noted in pieces of this many accesses: a piece always fits in a buffer.
  static constexpr std::size_t kLongestRun = 4096;
  // In the history where an access cannot be repeated: no entry equals it.
  static constexpr std::uint64_t kNoEntry = std::uint64_t{0x80} << 32;
  static constexpr std::size_t kRecent = 256;
  static constexpr std::uint64_t kRecentMask = kRecent - 1;
  static_assert(kRecent == record::kHistory, "the tape's history chooses its periods as the record's does");

  // Room for `entries` more in the buffer: the buffer is handed over when it is full. False when
  // the tape is not running.
  virtual bool Refill(std::size_t entries) = 0;
  // Everything else: the access is at another port or the extended control register, or comes
  // after a long pause.
  virtual void NoteOther(std::uint16_t port, std::uint8_t flags, std::uint16_t value, std::uint64_t ns) = 0;

  // The repeat under way (if any), then `entry`, which goes into the history as `slot` (itself,
  // or the access's code when `coded`); and the period the next access is compared at
  // (record::NextPeriod).
  void Enter(std::uint64_t entry, std::uint64_t slot, bool coded);
  // The repeat under way as an entry, when there is one (room for it is the caller's).
  void PutRepeat() {
    const std::uint64_t repeat = noted_ - repeatFrom_;
    if (repeat == 0) return;
    *fill_++ = (coded_ ? kCodeRepeatEntry : kRepeatEntry) << 32 | std::uint64_t{period_} << 40 |
               (repeat & 0xFFFFFFFFu) | (repeat >> 32) << 48;
    repeatFrom_ = noted_;
  }

  std::uint64_t* fill_ = nullptr;
  std::uint64_t* end_ = nullptr;
  std::uint64_t lastNs_ = 0;
  std::uint16_t base_ = 0x378;
  std::uint64_t noted_ = 0;       // accesses so far: the place of the next in the history
  std::uint64_t repeatFrom_ = 0;  // where the accesses that repeat and are not entered yet begin
  std::uint32_t period_ = 1;
  std::uint64_t recent_[kRecent];
  std::uint32_t byteNs_ = 0;  // of codes; 0: not known
  bool coded_ = false;        // the repeat under way is of codes
  // Single accesses that make a run (the verify's words, read one by one) are noted as one: the
  // key (time since the one before, register and flags) the next access must have to go on with
  // it, and while noted_ is runNoted_ it may. runHead_ is the run's entry once it has begun, its
  // values going in at runValues_.
  std::uint64_t runNoted_ = ~std::uint64_t{0};
  std::uint64_t runKey_ = 0;
  std::uint64_t* runHead_ = nullptr;
  std::uint8_t* runValues_ = nullptr;

 private:
  // The access, with the key of the run under way, goes on with it (into the history as `slot`,
  // its entry or its code); false when the buffer has no room and it must be entered on its own.
  bool Extend(std::uint64_t entry, std::uint64_t slot);
  // The run's entry for `count` accesses with `tag` (register and flags), the values at `data`;
  // false when the tape has no room. The history is the caller's.
  bool PutRun(std::uint8_t tag, const std::uint8_t* data, std::size_t count, std::uint64_t sinceNs,
              std::uint32_t stepNs);
  // One more value on the run under way, into the history as `slot`.
  void AddToRun(std::uint16_t value, std::size_t width, std::uint64_t slot) {
    runValues_[0] = static_cast<std::uint8_t>(value);
    if (width == 2) runValues_[1] = static_cast<std::uint8_t>(value >> 8);
    runValues_ += width;
    ++*runHead_;
    recent_[noted_ & kRecentMask] = slot;
    repeatFrom_ = runNoted_ = ++noted_;
  }
  void UpdatePeriod(std::uint64_t slot, std::uint64_t held);
  // An access that would go on a run and is the same as the one before it (the words of an erased
  // block, read to compare) ends the run: it and those like it are a repeat from here.
  bool RepeatsLast(std::uint64_t slot) {
    if (slot != recent_[(noted_ - 1) & kRecentMask]) return false;
    recent_[noted_++ & kRecentMask] = slot;
    period_ = 1;
    runNoted_ = ~std::uint64_t{0};
    return true;
  }
  // The time from the access before to one that began as it ended.
  std::uint64_t SinceLastCodeNs() const { return NsAfter(byteNs_, recent_[(noted_ - 1) & kRecentMask]); }
  static constexpr unsigned kHashBits = 10;
  std::uint32_t lastAt_[std::size_t{1} << kHashBits] = {};
};

}  // namespace brevomat
