#include "sim/RomCart.h"

#include <utility>

namespace brevomat::sim {

RomCart::RomCart(std::vector<std::uint8_t> rom, SaveMemory save) : rom_(std::move(rom)), save_(save) {}

std::uint16_t RomCart::ReadRom(std::uint32_t wordAddress, std::uint64_t) {
  const std::uint64_t byte = std::uint64_t{wordAddress} * 2;
  std::uint16_t v;
  if (byte + 1 < rom_.size())
    v = static_cast<std::uint16_t>(rom_[byte] | (rom_[byte + 1] << 8));
  else if (byte < rom_.size())
    v = static_cast<std::uint16_t>(rom_[byte] | 0xFF00);  // an image of odd length: the chip's last word
  else
    v = static_cast<std::uint16_t>(wordAddress);  // open bus: the address latch shows through
  return noise_.Apply(v, faults_.flipRead, faults_.readNoise, faults_.seed);
}

void RomCart::WriteRom(std::uint32_t, std::uint16_t, std::uint64_t) { ++ignoredWrites_; }

std::uint8_t RomCart::ReadSave(std::uint16_t byteAddress, std::uint64_t) {
  return save_.Read(kOnlyBank, byteAddress);
}

void RomCart::WriteSave(std::uint16_t byteAddress, std::uint8_t value, std::uint64_t) {
  save_.Write(kOnlyBank, byteAddress, value, faults_.saveStuckByte);
}

}  // namespace brevomat::sim
