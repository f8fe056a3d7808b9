// An ordinary game cartridge: a mask ROM of 1 to 32 MB and, optionally, 256 KB of save memory.
// Nothing on it decodes commands or control sequences: cart writes vanish, and with no bank
// register the save memory answers from bank 0 (the first 64 KB of save.bin) whatever bank a
// sequence asks for. Past the end of the ROM nothing drives the bus, and the cartridge's address
// latch shows through: a read returns the low 16 bits of the word address.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/CartBus.h"
#include "sim/CartParts.h"
#include "sim/SaveMemory.h"

namespace brevomat::sim {

class RomCart final : public CartBus {
 public:
  RomCart(std::vector<std::uint8_t> rom, SaveMemory save);

  std::uint16_t ReadRom(std::uint32_t wordAddress, std::uint64_t nowNs) override;
  void WriteRom(std::uint32_t wordAddress, std::uint16_t value, std::uint64_t nowNs) override;
  std::uint8_t ReadSave(std::uint16_t byteAddress, std::uint64_t nowNs) override;
  void WriteSave(std::uint16_t byteAddress, std::uint8_t value, std::uint64_t nowNs) override;

  const std::vector<std::uint8_t>& Rom() const { return rom_; }
  std::vector<std::uint8_t>& Save() { return save_.Bytes(); }  // 262,144 bytes, empty without save memory
  // Only the faults a game cart can have apply: read noise and a stuck save byte.
  FlashFaults& Faults() { return faults_; }
  std::uint64_t IgnoredWrites() const { return ignoredWrites_; }

 private:
  static constexpr int kOnlyBank = 0;

  std::vector<std::uint8_t> rom_;
  SaveRam save_;
  FlashFaults faults_;
  ReadNoise noise_;
  std::uint64_t ignoredWrites_ = 0;
};

}  // namespace brevomat::sim
