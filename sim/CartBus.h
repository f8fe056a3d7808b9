// The cartridge bus behind the virtual adapter: what the adapter drives when the PC moves data
// through register 3. ROM access moves 16-bit words at 24-bit word addresses; save access moves
// single bytes at 16-bit byte addresses. `nowNs` is the virtual clock at the moment of the access.
#pragma once

#include <cstdint>

namespace brevomat::sim {

class CartBus {
 public:
  virtual ~CartBus() = default;
  virtual std::uint16_t ReadRom(std::uint32_t wordAddress, std::uint64_t nowNs) = 0;
  virtual void WriteRom(std::uint32_t wordAddress, std::uint16_t value, std::uint64_t nowNs) = 0;
  virtual std::uint8_t ReadSave(std::uint16_t byteAddress, std::uint64_t nowNs) = 0;
  virtual void WriteSave(std::uint16_t byteAddress, std::uint8_t value, std::uint64_t nowNs) = 0;
};

}  // namespace brevomat::sim
