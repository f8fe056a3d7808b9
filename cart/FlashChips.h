// The flash chips a cartridge may carry: Intel StrataFlash of the J3 family, 16 bits wide.
// Identification knows a chip by the low bytes of query words 0 (manufacturer) and 1 (device).
#pragma once

#include <cstdint>

#include "cart/CartState.h"

namespace brevomat {

struct FlashChipInfo {
  std::uint8_t manufacturer;
  std::uint8_t device;
  const char* name;
  std::uint32_t size;  // bytes
};

inline constexpr FlashChipInfo kFlashChips[] = {
    {0x89, 0x16, "28F320J3", kFlash4M},
    {0x89, 0x17, "28F640J3", kFlash8M},
};

// nullptr for a chip this program does not program.
constexpr const FlashChipInfo* FindFlashChip(std::uint8_t manufacturer, std::uint8_t device) {
  for (const FlashChipInfo& chip : kFlashChips)
    if (chip.manufacturer == manufacturer && chip.device == device) return &chip;
  return nullptr;
}
constexpr const FlashChipInfo* FlashChipBySize(std::uint32_t size) {
  for (const FlashChipInfo& chip : kFlashChips)
    if (chip.size == size) return &chip;
  return nullptr;
}

}  // namespace brevomat
