// A flash cartridge: one Intel StrataFlash J3 chip in x16 mode behind the cart bus, with its
// command state machine, CFI query table, status register and busy times on the virtual clock; the
// cartridge's sequence decoder that enables the flash and selects save banks; and 256 KB of
// byte-wide save memory in four 64 KB banks (or none).
#pragma once

#include <cstdint>
#include <vector>

#include "sim/CartBus.h"
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

enum class SaveMemory : std::uint8_t { Sram, None };

// Faults to inject; all off by default. They can be changed at any time through Faults().
struct FlashFaults {
  int eraseErrorBlock = -1;              // erasing this block ends with the erase error bit (0x20)
  std::int64_t programErrorWord = -1;    // programming this word address ends with 0x10; word kept
  bool neverReady = false;               // erase and program never finish
  std::uint32_t setupStatusB0Polls = 0;  // after erase set-up the status reads 0xB0 this many times
  std::uint64_t flipRead = 0;            // flip bit 0 of the Nth ROM read transfer (1-based, 0 = off)
  double readNoise = 0.0;                // probability of a flipped bit in any ROM read transfer
  std::uint64_t seed = 1;                // seed of the read noise
  std::int32_t saveStuckByte = -1;       // save byte (0..0x3FFFF) that does not take writes
};

class FlashCart final : public CartBus {
 public:
  static constexpr std::uint32_t kSaveBytes = 256 * 1024;
  static constexpr std::uint32_t kBankBytes = 64 * 1024;
  static constexpr std::uint32_t kBlockWords = 0x10000;

  FlashCart(FlashChip chip, ChipTiming timing, SaveMemory save = SaveMemory::Sram);

  std::uint16_t ReadRom(std::uint32_t wordAddress, std::uint64_t nowNs) override;
  void WriteRom(std::uint32_t wordAddress, std::uint16_t value, std::uint64_t nowNs) override;
  std::uint8_t ReadSave(std::uint16_t byteAddress, std::uint64_t nowNs) override;
  void WriteSave(std::uint16_t byteAddress, std::uint8_t value, std::uint64_t nowNs) override;

  std::vector<std::uint8_t>& Flash() { return flash_; }  // byte 2k = low byte of word k
  std::vector<std::uint8_t>& Save() { return save_; }    // empty without save memory
  FlashFaults& Faults() { return faults_; }
  ChipTiming& Timing() { return timing_; }
  FlashChip Chip() const { return chip_; }
  std::uint32_t FlashBytes() const { return static_cast<std::uint32_t>(flash_.size()); }
  bool FlashEnabled() const { return enabled_; }
  int SaveBank() const { return saveBank_; }
  void SetQueryIds(std::uint16_t manufacturer, std::uint16_t device);
  void SetCfiSignature(bool present);

  // Lets an operation that has run its time by `nowNs` finish now instead of at the next bus
  // access, so that the array is up to date before it is saved.
  void Settle(std::uint64_t nowNs) { FinishIfDone(nowNs); }

  // Observation for tests.
  const std::vector<std::uint32_t>& EraseAddresses() const { return eraseAddresses_; }
  std::uint64_t ChipWrites() const { return chipWrites_; }
  std::uint64_t BufferPrograms() const { return bufferPrograms_; }
  bool Busy() const { return op_ != Op::None; }
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

  std::uint32_t WordIndex(std::uint32_t wordAddress) const { return wordAddress & (words_ - 1); }
  std::uint16_t ArrayWord(std::uint32_t index) const {
    return static_cast<std::uint16_t>(flash_[2 * index] | (flash_[2 * index + 1] << 8));
  }
  std::uint16_t QueryWord(std::uint32_t index) const;
  void Command(std::uint32_t wordAddress, std::uint16_t value, std::uint64_t nowNs);
  void StartOp(Op op, std::uint64_t durationNs, std::uint64_t nowNs);
  void FinishIfDone(std::uint64_t nowNs);

  FlashChip chip_;
  ChipTiming timing_;
  SaveMemory saveKind_;
  std::uint32_t words_;
  std::vector<std::uint8_t> flash_;
  std::vector<std::uint8_t> save_;
  FlashFaults faults_;

  ControlSequenceMatcher matcher_;
  ReadNoise noise_;
  bool enabled_ = false;
  int saveBank_ = 0;
  std::uint64_t openBusReads_ = 0;

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
  std::uint64_t chipWrites_ = 0;
  std::uint64_t bufferPrograms_ = 0;
};

}  // namespace brevomat::sim
