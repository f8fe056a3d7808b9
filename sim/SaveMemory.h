// The cartridge's byte-wide save memory: 256 KB of SRAM in four 64 KB banks, or no chip at all.
// The cart picks the bank (a flash cart from the bank number of its control sequence; a game cart
// has no bank register and stays in bank 0) and the adapter supplies the 16-bit byte address within
// it. Both kinds of virtual cartridge carry one of these.
#pragma once

#include <cstdint>
#include <vector>

namespace brevomat::sim {

// Which save memory a cartridge carries.
enum class SaveMemory : std::uint8_t { Sram, None };

class SaveRam {
 public:
  static constexpr std::uint32_t kBytes = 256 * 1024;
  static constexpr std::uint32_t kBankBytes = 64 * 1024;
  static constexpr int kBanks = 4;

  explicit SaveRam(SaveMemory kind) : kind_(kind), bytes_(kind == SaveMemory::Sram ? kBytes : 0, 0) {}

  // One byte transfer in bank `bank` (0..3). Without a chip nothing drives the data lines: a read
  // returns noise that never repeats a pass, and a write is lost.
  std::uint8_t Read(int bank, std::uint16_t byteAddress);
  // `stuckByte` is a cell (0..0x3FFFF, bank 0 first) that does not take writes; -1 for none.
  void Write(int bank, std::uint16_t byteAddress, std::uint8_t value, std::int32_t stuckByte);

  SaveMemory Kind() const { return kind_; }
  // The whole memory, bank 0 first, as save.bin holds it; empty without save memory.
  std::vector<std::uint8_t>& Bytes() { return bytes_; }

 private:
  static std::uint32_t Offset(int bank, std::uint16_t byteAddress) {
    return static_cast<std::uint32_t>(bank) * kBankBytes + byteAddress;
  }

  SaveMemory kind_;
  std::vector<std::uint8_t> bytes_;
  std::uint64_t openBusReads_ = 0;
};

}  // namespace brevomat::sim
