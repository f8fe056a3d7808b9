#include "sim/FlashCart.h"

namespace brevomat::sim {

FlashCart::FlashCart(FlashChip chip, ChipTiming timing, SaveMemory save) : chip_(chip, timing), save_(save) {}

std::uint16_t FlashCart::ReadRom(std::uint32_t wordAddress, std::uint64_t nowNs) {
  return noise_.Apply(chip_.Read(wordAddress, nowNs, faults_), faults_.flipRead, faults_.readNoise,
                      faults_.seed);
}

void FlashCart::WriteRom(std::uint32_t wordAddress, std::uint16_t value, std::uint64_t nowNs) {
  // The flash's write enable is gated by the cartridge's decoder: until the enable sequence has
  // been seen, writes reach nothing but the decoder.
  if (enabled_) chip_.Write(wordAddress, value, nowNs, faults_);
  int bank = 0;
  switch (matcher_.Feed(wordAddress & 0xFFFFFF, value, bank)) {
    case ControlSequenceMatcher::Result::EnableFlash:
      enabled_ = true;
      break;
    case ControlSequenceMatcher::Result::SelectBank:
      saveBank_ = bank;
      break;
    case ControlSequenceMatcher::Result::None:
      break;
  }
}

std::uint8_t FlashCart::ReadSave(std::uint16_t byteAddress, std::uint64_t) {
  return save_.Read(saveBank_, byteAddress);
}

void FlashCart::WriteSave(std::uint16_t byteAddress, std::uint8_t value, std::uint64_t) {
  save_.Write(saveBank_, byteAddress, value, faults_.saveStuckByte);
}

}  // namespace brevomat::sim
