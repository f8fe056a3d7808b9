// The flash chip of a flash cartridge: one Intel StrataFlash J3 in x16 mode, with its command state
// machine (read array, status, CFI query, identifier, block erase, write to buffer, word program),
// its CFI query table, the status register and the busy times of erase and programming on the
// virtual clock. Programming can only clear bits; only an erase sets them again.
//
// The chip sees every write that reaches it as a command or as data; whether a write reaches it at
// all (the write enable behind the cartridge's sequence decoder) is the cartridge's business.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/CartParts.h"

namespace brevomat::sim {

enum class FlashChip : std::uint8_t {
  J3_32Mbit,  // 28F320J3, device code 0x16, 4 MB, 32 blocks
  J3_64Mbit,  // 28F640J3, device code 0x17, 8 MB, 64 blocks
};

// How long the chip stays busy, in virtual nanoseconds.
struct ChipTiming {
  std::uint64_t blockEraseNs;
  std::uint64_t bufferProgramNs;  // per 32-byte buffer
  static ChipTiming Datasheet();  // typical: 1 s per block, 218 us per buffer
  static ChipTiming Slow();       // maxima: 5 s per block, 654 us per buffer
  static ChipTiming Fast();       // for quick tests: 20 us, 2 us
};

// The faults the chip looks at are eraseErrorBlock, programErrorWord, neverReady,
// setupStatusB0Polls and eraseStuckBit; they are passed in with every access so that they can change at any
// time.
class StrataFlash {
 public:
  static constexpr std::uint32_t kBlockWords = 0x10000;

  StrataFlash(FlashChip chip, ChipTiming timing);

  // One read of the word at `wordAddress` (taken modulo the chip's size), in whatever read mode the
  // chip is in; while it is busy, a status word with bit 7 clear.
  std::uint16_t Read(std::uint32_t wordAddress, std::uint64_t nowNs, const FlashFaults& faults);
  // One write: a command, or data for the command in progress.
  void Write(std::uint32_t wordAddress, std::uint16_t value, std::uint64_t nowNs, const FlashFaults& faults);
  // Finishes the erase or programming in progress, however little of its time has passed: the
  // chip's state machine completes what it has started whether or not anyone waits for it, even
  // when the program that started it stops or goes away. A chip that never gets ready (the fault)
  // leaves its array as it is.
  void FinishStarted(const FlashFaults& faults) {
    if (busyUntilNs_ != kNever) FinishIfDone(busyUntilNs_, faults);
  }

  std::vector<std::uint8_t>& Array() { return array_; }  // byte 2k = low byte of word k
  ChipTiming& Timing() { return timing_; }
  FlashChip Chip() const { return chip_; }
  std::uint32_t Bytes() const { return static_cast<std::uint32_t>(array_.size()); }
  void SetQueryIds(std::uint16_t manufacturer, std::uint16_t device);
  void SetCfiSignature(bool present) { cfiSignature_ = present; }

  // Observation for tests.
  const std::vector<std::uint32_t>& EraseAddresses() const { return eraseAddresses_; }
  std::uint64_t Writes() const { return writes_; }
  std::uint64_t BufferPrograms() const { return bufferPrograms_; }
  bool Busy() const { return op_ != Op::None; }
  // A read now answers with the array, the query table or the identifier, not with the status.
  bool AnswersData() const {
    return op_ == Op::None &&
           (mode_ == Mode::ReadArray || mode_ == Mode::ReadQuery || mode_ == Mode::ReadIdentifier);
  }
  bool AnswersArray() const { return op_ == Op::None && mode_ == Mode::ReadArray; }
  std::uint8_t StatusRegister() const { return static_cast<std::uint8_t>(0x80 | sr_); }

 private:
  enum class Mode : std::uint8_t {
    ReadArray,
    ReadStatus,
    ReadQuery,
    ReadIdentifier,
    EraseSetup,     // 0x20 seen, waiting for the confirm
    BufferCount,    // 0xE8 seen, waiting for the word count
    BufferData,     // taking data words
    BufferConfirm,  // all words in, waiting for 0xD0
    WordProgram,    // 0x40/0x10 seen, the next write is programmed
  };
  enum class Op : std::uint8_t { None, Erase, Program };
  struct PendingWord {
    std::uint32_t index;
    std::uint16_t value;
  };

  static constexpr std::uint64_t kNever = ~std::uint64_t{0};  // the end of a chip that never gets ready

  std::uint32_t WordIndex(std::uint32_t wordAddress) const { return wordAddress & (words_ - 1); }
  std::uint16_t ArrayWord(std::uint32_t index) const {
    return static_cast<std::uint16_t>(array_[2 * index] | (array_[2 * index + 1] << 8));
  }
  std::uint16_t QueryWord(std::uint32_t index) const;
  void StartOp(Op op, std::uint64_t durationNs, std::uint64_t nowNs, const FlashFaults& faults);
  void FinishIfDone(std::uint64_t nowNs, const FlashFaults& faults);

  FlashChip chip_;
  ChipTiming timing_;
  std::uint32_t words_;
  std::vector<std::uint8_t> array_;

  Mode mode_ = Mode::ReadArray;
  std::uint8_t sr_ = 0;  // error bits of the status register (bit 7 is computed)
  Op op_ = Op::None;
  std::uint64_t busyUntilNs_ = 0;
  std::uint32_t opBlock_ = 0;
  std::uint32_t b0Remaining_ = 0;
  unsigned bufferCount_ = 0;
  unsigned bufferLoaded_ = 0;
  PendingWord buffer_[16] = {};

  std::uint16_t queryManufacturer_ = 0x0089;
  std::uint16_t queryDevice_;
  bool cfiSignature_ = true;

  std::vector<std::uint32_t> eraseAddresses_;
  std::uint64_t writes_ = 0;
  std::uint64_t bufferPrograms_ = 0;
};

}  // namespace brevomat::sim
