#include "sim/FlashChip.h"

#include <algorithm>
#include <limits>

namespace brevomat::sim {

namespace {

// Intel command set, as the J3 decodes it from the low byte of a write (x16 mode).
constexpr std::uint8_t kReadArray = 0xFF;
constexpr std::uint8_t kReadStatus = 0x70;
constexpr std::uint8_t kClearStatus = 0x50;
constexpr std::uint8_t kReadQuery = 0x98;
constexpr std::uint8_t kReadIdentifier = 0x90;
constexpr std::uint8_t kBlockEraseSetup = 0x20;
constexpr std::uint8_t kConfirm = 0xD0;
constexpr std::uint8_t kWriteToBuffer = 0xE8;
constexpr std::uint8_t kWordProgram = 0x40;
constexpr std::uint8_t kWordProgramAlt = 0x10;

// Status register bits.
constexpr std::uint8_t kSrReady = 0x80;
constexpr std::uint8_t kSrEraseError = 0x20;
constexpr std::uint8_t kSrProgramError = 0x10;
constexpr std::uint8_t kSrSequenceError = 0x30;  // erase and program error together

constexpr std::uint32_t kMaxBufferWords = 16;

}  // namespace

ChipTiming ChipTiming::Datasheet() { return {1'000'000'000ull, 218'000ull}; }
ChipTiming ChipTiming::Slow() { return {5'000'000'000ull, 654'000ull}; }
ChipTiming ChipTiming::Fast() { return {20'000ull, 2'000ull}; }

StrataFlash::StrataFlash(FlashChip chip, ChipTiming timing)
    : chip_(chip),
      timing_(timing),
      words_(chip == FlashChip::J3_32Mbit ? 0x200000u : 0x400000u),
      array_(std::size_t{words_} * 2, 0xFF),
      queryDevice_(chip == FlashChip::J3_32Mbit ? 0x0016 : 0x0017) {}

void StrataFlash::SetQueryIds(std::uint16_t manufacturer, std::uint16_t device) {
  queryManufacturer_ = manufacturer;
  queryDevice_ = device;
}

// The CFI query table of the J3 in x16 mode: one byte per word, high byte zero.
std::uint16_t StrataFlash::QueryWord(std::uint32_t index) const {
  const bool big = chip_ == FlashChip::J3_64Mbit;
  switch (index) {
    case 0x00:
      return queryManufacturer_;
    case 0x01:
      return queryDevice_;
    case 0x10:
      return cfiSignature_ ? 'Q' : 0;
    case 0x11:
      return cfiSignature_ ? 'R' : 0;
    case 0x12:
      return cfiSignature_ ? 'Y' : 0;
    case 0x13:
      return 0x01;  // primary command set: Intel/Sharp extended
    case 0x15:
      return 0x31;  // primary extended table at 0x31
    case 0x1B:
      return 0x27;  // Vcc min 2.7 V
    case 0x1C:
      return 0x36;  // Vcc max 3.6 V
    case 0x1F:
      return 0x08;  // typical word program 2^8 us
    case 0x20:
      return 0x08;  // typical buffer program 2^8 us
    case 0x21:
      return 0x0A;  // typical block erase 2^10 ms
    case 0x23:
      return 0x04;  // maximum word program: 2^4 times typical
    case 0x24:
      return 0x04;  // maximum buffer program: 2^4 times typical
    case 0x25:
      return 0x04;  // maximum block erase: 2^4 times typical
    case 0x27:
      return big ? 0x17 : 0x16;  // device size 2^n bytes
    case 0x28:
      return 0x02;  // x8/x16 asynchronous interface
    case 0x2A:
      return 0x05;  // write buffer 2^5 = 32 bytes
    case 0x2C:
      return 0x01;  // one erase block region
    case 0x2D:
      return big ? 63 : 31;  // blocks in the region minus one (low byte)
    case 0x30:
      return 0x02;  // block size / 256 = 0x200 (high byte)
    case 0x31:
      return 'P';
    case 0x32:
      return 'R';
    case 0x33:
      return 'I';
    case 0x34:
      return '1';
    case 0x35:
      return '1';
    default:
      return 0x00;
  }
}

void StrataFlash::StartOp(Op op, std::uint64_t durationNs, std::uint64_t nowNs, const FlashFaults& faults) {
  op_ = op;
  busyUntilNs_ = faults.neverReady ? kNever : nowNs + durationNs;
  mode_ = Mode::ReadStatus;  // the chip answers reads with its status until read array
}

// The write state machine finishes its operation once the virtual clock has passed its end.
// The array changes only then, so an erase that never finishes leaves the block as it was.
void StrataFlash::FinishIfDone(std::uint64_t nowNs, const FlashFaults& faults) {
  if (op_ == Op::None || nowNs < busyUntilNs_) return;
  if (op_ == Op::Erase) {
    if (static_cast<std::int64_t>(opBlock_) == faults.eraseErrorBlock) {
      sr_ |= kSrEraseError;
    } else {
      const std::size_t start = std::size_t{opBlock_} * kBlockWords * 2;
      std::fill(array_.begin() + static_cast<std::ptrdiff_t>(start),
                array_.begin() + static_cast<std::ptrdiff_t>(start + kBlockWords * 2), 0xFF);
      // A worn cell that no longer erases: the chip reports success and the bit stays 0.
      const auto stuck = faults.eraseStuckBit;
      if (stuck >= 0 && static_cast<std::size_t>(stuck / 8) - start < kBlockWords * 2)
        array_[static_cast<std::size_t>(stuck / 8)] &= static_cast<std::uint8_t>(~(1u << (stuck % 8)));
    }
  } else {
    for (unsigned i = 0; i < bufferLoaded_; ++i) {
      const PendingWord& w = buffer_[i];
      if (faults.programErrorWord >= 0 &&
          w.index == WordIndex(static_cast<std::uint32_t>(faults.programErrorWord))) {
        sr_ |= kSrProgramError;
        continue;
      }
      // Programming can only clear bits: a word that was not erased keeps its zeros.
      array_[2 * w.index] &= static_cast<std::uint8_t>(w.value);
      array_[2 * w.index + 1] &= static_cast<std::uint8_t>(w.value >> 8);
    }
    bufferLoaded_ = 0;
  }
  op_ = Op::None;
}

std::uint16_t StrataFlash::Read(std::uint32_t wordAddress, std::uint64_t nowNs, const FlashFaults& faults) {
  FinishIfDone(nowNs, faults);
  const std::uint32_t index = WordIndex(wordAddress);
  std::uint16_t v;
  if (op_ != Op::None) {
    v = 0x0000;  // busy: bit 7 clear, the other bits mean nothing
  } else {
    switch (mode_) {
      case Mode::ReadArray:
        v = ArrayWord(index);
        break;
      case Mode::ReadQuery:
        v = QueryWord(index);
        break;
      case Mode::ReadIdentifier:
        v = (index & 0xFF) == 0 ? queryManufacturer_ : (index & 0xFF) == 1 ? queryDevice_ : 0x0000;
        break;
      case Mode::EraseSetup:
        if (b0Remaining_ > 0) {
          --b0Remaining_;
          v = 0xB0;
          break;
        }
        v = static_cast<std::uint16_t>(kSrReady | sr_);
        break;
      case Mode::BufferCount:
        v = kSrReady;  // extended status: a write buffer is available
        break;
      default:
        v = static_cast<std::uint16_t>(kSrReady | sr_);
        break;
    }
  }
  return v;
}

void StrataFlash::Write(std::uint32_t wordAddress, std::uint16_t value, std::uint64_t nowNs,
                        const FlashFaults& faults) {
  ++writes_;
  FinishIfDone(nowNs, faults);
  const std::uint8_t cmd = static_cast<std::uint8_t>(value);
  if (op_ != Op::None) {
    // While the write state machine runs, only read status is taken; it already answers status.
    return;
  }
  const std::uint32_t index = WordIndex(wordAddress);
  switch (mode_) {
    case Mode::EraseSetup:
      if (cmd == kConfirm) {
        opBlock_ = index / kBlockWords;
        eraseAddresses_.push_back(wordAddress);
        StartOp(Op::Erase, timing_.blockEraseNs, nowNs, faults);
      } else if (cmd == kBlockEraseSetup) {
        // The set-up written again: still waiting for the confirm.
      } else {
        sr_ |= kSrSequenceError;
        mode_ = Mode::ReadStatus;
      }
      return;
    case Mode::BufferCount:
      if (cmd >= kMaxBufferWords) {
        sr_ |= kSrSequenceError;
        mode_ = Mode::ReadStatus;
        return;
      }
      bufferCount_ = cmd + 1u;
      bufferLoaded_ = 0;
      mode_ = Mode::BufferData;
      return;
    case Mode::BufferData:
      buffer_[bufferLoaded_++] = {index, value};
      if (bufferLoaded_ == bufferCount_) mode_ = Mode::BufferConfirm;
      return;
    case Mode::BufferConfirm:
      // The confirm is the next data transfer after the last word; the adapter has moved its
      // address on, so it arrives one past the buffer (or wrapped within the 256-word run).
      // The chip only looks at the data.
      if (cmd == kConfirm) {
        ++bufferPrograms_;
        StartOp(Op::Program, timing_.bufferProgramNs, nowNs, faults);
      } else {
        bufferLoaded_ = 0;
        sr_ |= kSrSequenceError;
        mode_ = Mode::ReadStatus;
      }
      return;
    case Mode::WordProgram:
      buffer_[0] = {index, value};
      bufferLoaded_ = 1;
      StartOp(Op::Program, timing_.bufferProgramNs, nowNs, faults);
      return;
    default:
      break;
  }
  switch (cmd) {
    case kReadArray:
      mode_ = Mode::ReadArray;
      return;
    case kReadStatus:
      mode_ = Mode::ReadStatus;
      return;
    case kClearStatus:
      sr_ = 0;  // the read mode stays as it was
      return;
    case kReadQuery:
      mode_ = Mode::ReadQuery;
      return;
    case kReadIdentifier:
      mode_ = Mode::ReadIdentifier;
      return;
    case kBlockEraseSetup:
      mode_ = Mode::EraseSetup;
      b0Remaining_ = faults.setupStatusB0Polls;
      return;
    case kWriteToBuffer:
      mode_ = Mode::BufferCount;
      return;
    case kWordProgram:
    case kWordProgramAlt:
      mode_ = Mode::WordProgram;
      return;
    default:
      // Anything else (the cart control sequences' own values among them) is not a command the
      // chip acts on; it falls back to reading the array.
      mode_ = Mode::ReadArray;
      return;
  }
}

}  // namespace brevomat::sim
