#include "sim/SaveMemory.h"

#include "sim/CartParts.h"

namespace brevomat::sim {

std::uint8_t SaveRam::Read(int bank, std::uint16_t byteAddress) {
  if (kind_ == SaveMemory::None)
    return static_cast<std::uint8_t>(Mix64(++openBusReads_ ^ (std::uint64_t{byteAddress} << 40)));
  return bytes_[Offset(bank, byteAddress)];
}

void SaveRam::Write(int bank, std::uint16_t byteAddress, std::uint8_t value, std::int32_t stuckByte) {
  if (kind_ == SaveMemory::None) return;
  const std::uint32_t offset = Offset(bank, byteAddress);
  if (static_cast<std::int64_t>(offset) == stuckByte) return;  // a cell that does not hold
  bytes_[offset] = value;
}

}  // namespace brevomat::sim
