// The Game Boy Advance cartridge header as far as this program judges it.
#pragma once

#include <array>
#include <cstdint>

namespace brevomat {

class OperationFrame;

// The logo bitmap every cartridge header carries at offsets 0x04..0x9F.
extern const std::array<std::uint8_t, 156> HeaderLogo;

inline constexpr std::uint32_t kHeaderLogoOffset = 0x04;
inline constexpr std::uint32_t kHeaderTitleOffset = 0xA0;
inline constexpr std::uint32_t kHeaderCodeOffset = 0xAC;
inline constexpr std::uint32_t kHeaderFixedOffset = 0xB2;
inline constexpr std::uint32_t kHeaderComplementOffset = 0xBD;

// Judges the first 256 bytes of the transfer buffer: on a logo mismatch logs
// "no AGB data present!" and returns false; otherwise logs the game name and code.
bool CheckCartHeader(OperationFrame& frame);

}  // namespace brevomat
