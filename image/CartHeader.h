// The Game Boy Advance cartridge header as far as this program judges it.
#pragma once

#include <array>
#include <cstdint>

#include "base/TransferBuffer.h"

namespace brevomat {

class OperationFrame;

// The logo bitmap every cartridge header carries at offsets 0x04..0x9F.
extern const std::array<std::uint8_t, 156> HeaderLogo;

inline constexpr std::uint32_t kHeaderLogoOffset = 0x04;
inline constexpr std::uint32_t kHeaderTitleOffset = 0xA0;
inline constexpr std::uint32_t kHeaderCodeOffset = 0xAC;
inline constexpr std::uint32_t kHeaderMakerOffset = 0xB0;
inline constexpr std::uint32_t kHeaderFixedOffset = 0xB2;
inline constexpr std::uint32_t kHeaderUnitOffset = 0xB3;
inline constexpr std::uint32_t kHeaderDeviceOffset = 0xB4;
inline constexpr std::uint32_t kHeaderVersionOffset = 0xBC;
inline constexpr std::uint32_t kHeaderComplementOffset = 0xBD;
inline constexpr std::uint8_t kHeaderFixedValue = 0x96;

// Judges the first 256 bytes of the transfer buffer: on a logo mismatch logs
// "no AGB data present!" and returns false; otherwise logs the game name and code.
bool CheckCartHeader(OperationFrame& frame);

// The complement check byte that belongs at 0xBD: 0 - (0x19 + the bytes 0xA0..0xBC), modulo 256.
std::uint8_t HeaderComplement(const TransferBuffer& buffer);

// Logs the rest of the header in the transfer buffer, one "Key = value" line each: maker code,
// fixed byte, unit code, device type, version and complement check, the last two judged. Judges
// nothing else, whatever the logo: the fields of a broken header are worth seeing too.
void LogHeaderFields(OperationFrame& frame);

}  // namespace brevomat
