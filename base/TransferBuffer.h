// The one 32 KB block through which all file and cart data pass.
#pragma once

#include <array>
#include <cstdint>

namespace brevomat {

inline constexpr std::uint32_t kChunkBytes = 0x8000;  // 32 KB: unit of transfer and verification
inline constexpr std::uint32_t kChunkWords = 0x4000;
inline constexpr std::uint32_t kBlockBytes = 0x20000;  // 128 KB: flash erase unit (4 chunks)
inline constexpr std::uint32_t kRunWords = 256;        // the adapter's address counter wraps here

// 32,768 bytes, also addressed as 16,384 little-endian words: word k is byte 2k (low) and
// byte 2k + 1 (high), whatever the host's byte order.
struct TransferBuffer {
  std::array<std::uint8_t, kChunkBytes> bytes{};

  std::uint8_t* data() { return bytes.data(); }
  const std::uint8_t* data() const { return bytes.data(); }
  std::uint8_t& operator[](std::uint32_t i) { return bytes[i]; }
  std::uint8_t operator[](std::uint32_t i) const { return bytes[i]; }

  std::uint16_t Word(std::uint32_t k) const {
    return static_cast<std::uint16_t>(bytes[2 * k] | (bytes[2 * k + 1] << 8));
  }
  void SetWord(std::uint32_t k, std::uint16_t value) {
    bytes[2 * k] = static_cast<std::uint8_t>(value);
    bytes[2 * k + 1] = static_cast<std::uint8_t>(value >> 8);
  }
};

}  // namespace brevomat
