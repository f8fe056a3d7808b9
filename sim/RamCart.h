// Plain memory behind the cart bus, for link tests: 1 MB of ROM space (512 Ki words, addresses wrap)
// and 64 KB of save memory. It has no command interface: every write lands, every read returns what
// was written.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/CartBus.h"

namespace brevomat::sim {

class RamCart final : public CartBus {
 public:
  static constexpr std::uint32_t kRomWords = 512 * 1024;
  static constexpr std::uint32_t kSaveBytes = 64 * 1024;

  RamCart() : rom_(kRomWords, 0), save_(kSaveBytes, 0) {}

  std::uint16_t ReadRom(std::uint32_t wordAddress, std::uint64_t) override {
    ++romReads_;
    return rom_[wordAddress & (kRomWords - 1)];
  }
  void WriteRom(std::uint32_t wordAddress, std::uint16_t value, std::uint64_t) override {
    ++romWrites_;
    rom_[wordAddress & (kRomWords - 1)] = value;
  }
  std::uint8_t ReadSave(std::uint16_t byteAddress, std::uint64_t) override {
    ++saveReads_;
    return save_[byteAddress];
  }
  void WriteSave(std::uint16_t byteAddress, std::uint8_t value, std::uint64_t) override {
    ++saveWrites_;
    save_[byteAddress] = value;
  }

  std::uint16_t& Word(std::uint32_t wordAddress) { return rom_[wordAddress & (kRomWords - 1)]; }
  std::uint8_t& SaveByte(std::uint16_t byteAddress) { return save_[byteAddress]; }
  std::uint64_t RomReads() const { return romReads_; }
  std::uint64_t RomWrites() const { return romWrites_; }
  std::uint64_t SaveReads() const { return saveReads_; }
  std::uint64_t SaveWrites() const { return saveWrites_; }

 private:
  std::vector<std::uint16_t> rom_;
  std::vector<std::uint8_t> save_;
  std::uint64_t romReads_ = 0, romWrites_ = 0, saveReads_ = 0, saveWrites_ = 0;
};

}  // namespace brevomat::sim
