// A flash cartridge: the glue around its two memories. Behind the cart bus sit a StrataFlash J3
// chip (sim/FlashChip.h) for the game and 256 KB of save memory in four banks, or none
// (sim/SaveMemory.h). The cartridge's own logic is the sequence decoder that watches every cart
// write: the flash enable sequence opens the chip's write enable, the bank sequence sets the bank
// register that picks the save bank. A poor contact can add read noise to the ROM transfers.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/CartBus.h"
#include "sim/CartParts.h"
#include "sim/FlashChip.h"
#include "sim/SaveMemory.h"

namespace brevomat::sim {

class FlashCart final : public CartBus {
 public:
  static constexpr std::uint32_t kSaveBytes = SaveRam::kBytes;
  static constexpr std::uint32_t kBankBytes = SaveRam::kBankBytes;
  static constexpr std::uint32_t kBlockWords = StrataFlash::kBlockWords;

  FlashCart(FlashChip chip, ChipTiming timing, SaveMemory save = SaveMemory::Sram);

  std::uint16_t ReadRom(std::uint32_t wordAddress, std::uint64_t nowNs) override;
  void WriteRom(std::uint32_t wordAddress, std::uint16_t value, std::uint64_t nowNs) override;
  std::uint8_t ReadSave(std::uint16_t byteAddress, std::uint64_t nowNs) override;
  void WriteSave(std::uint16_t byteAddress, std::uint8_t value, std::uint64_t nowNs) override;

  std::vector<std::uint8_t>& Flash() { return chip_.Array(); }  // byte 2k = low byte of word k
  std::vector<std::uint8_t>& Save() { return save_.Bytes(); }   // empty without save memory
  FlashFaults& Faults() { return faults_; }
  ChipTiming& Timing() { return chip_.Timing(); }
  FlashChip Chip() const { return chip_.Chip(); }
  std::uint32_t FlashBytes() const { return chip_.Bytes(); }
  bool FlashEnabled() const { return enabled_; }
  int SaveBank() const { return saveBank_; }
  void SetQueryIds(std::uint16_t manufacturer, std::uint16_t device) {
    chip_.SetQueryIds(manufacturer, device);
  }
  void SetCfiSignature(bool present) { chip_.SetCfiSignature(present); }

  // Lets the chip finish the erase or programming it has started (see StrataFlash), so that the
  // array is what the cartridge will hold before it is saved.
  void FinishStarted() { chip_.FinishStarted(faults_); }

  // Observation for tests.
  const std::vector<std::uint32_t>& EraseAddresses() const { return chip_.EraseAddresses(); }
  std::uint64_t ChipWrites() const { return chip_.Writes(); }  // writes that reached the chip
  std::uint64_t BufferPrograms() const { return chip_.BufferPrograms(); }
  std::uint64_t RomReads() const { return noise_.Reads(); }  // ROM read transfers, as flip_read counts
  bool Busy() const { return chip_.Busy(); }
  bool AnswersData() const { return chip_.AnswersData(); }
  bool AnswersArray() const { return chip_.AnswersArray(); }
  std::uint8_t StatusRegister() const { return chip_.StatusRegister(); }

 private:
  StrataFlash chip_;
  SaveRam save_;
  FlashFaults faults_;

  ControlSequenceMatcher matcher_;
  ReadNoise noise_;
  bool enabled_ = false;
  int saveBank_ = 0;  // the bank register, set by the bank sequence
};

}  // namespace brevomat::sim
