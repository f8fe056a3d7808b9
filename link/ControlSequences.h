// The fixed series of cart word writes that switch the cartridge into flash access or select a
// save memory bank. Both share one long preamble and differ only in the last write.
#pragma once

#include <cstdint>

namespace brevomat {

class Link;

struct SequenceStep {
  std::uint32_t address;
  std::uint16_t value;
  std::uint16_t times;
};

// The preamble after the access-mode write: 1,508 cart word writes.
inline constexpr SequenceStep kCartControlPreamble[] = {
    {0x987654, 0x5354, 1},   {0x012345, 0x1234, 500}, {0x007654, 0x5354, 1}, {0x012345, 0x5354, 1},
    {0x012345, 0x5678, 500}, {0x987654, 0x5354, 1},   {0x012345, 0x5354, 1}, {0x765400, 0x5678, 1},
    {0x013450, 0x1234, 1},   {0x012345, 0xABCD, 500}, {0x987654, 0x5354, 1},
};
inline constexpr std::uint32_t kFlashEnableAddress = 0xF12345;
inline constexpr std::uint16_t kFlashEnableValue = 0x9413;
inline constexpr std::uint32_t kSaveBankAddress = 0xA12345;

void CartControlSequence(Link& link);
void EnableFlashAccess(Link& link);
// unit: save unit 0..7 (32 KB each); anything else sends nothing at all.
void SelectSaveBank(Link& link, std::int8_t unit);

}  // namespace brevomat
