// The 796-byte settings record, byte for byte as it is stored in "config.sav".
//
//   0   1   PortIndex     signed byte
//   1   260 OpenFileName  NUL-terminated text
//   261 260 SaveFileName  NUL-terminated text
//   521 3   padding
//   524 4   WindowHeight  signed 32-bit little-endian
//   528 4   WindowWidth   signed 32-bit little-endian
//   532 1   SpeedIndex    signed byte
//   533 260 BootFileName  NUL-terminated text
//   793 1   IpsIndex      signed byte
//   794 2   padding
// Bytes after a name's NUL and the padding are kept as read.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

#include "base/Operation.h"

namespace brevomat {

inline constexpr std::size_t kSettingsRecordBytes = 796;

struct SettingsRecord {
  static constexpr std::size_t kPortIndex = 0;
  static constexpr std::size_t kOpenFileName = 1;
  static constexpr std::size_t kSaveFileName = 261;
  static constexpr std::size_t kWindowHeight = 524;
  static constexpr std::size_t kWindowWidth = 528;
  static constexpr std::size_t kSpeedIndex = 532;
  static constexpr std::size_t kBootFileName = 533;
  static constexpr std::size_t kIpsIndex = 793;

  std::array<std::uint8_t, kSettingsRecordBytes> bytes{};

  std::int8_t PortIndex() const { return static_cast<std::int8_t>(bytes[kPortIndex]); }
  void SetPortIndex(int index) { bytes[kPortIndex] = static_cast<std::uint8_t>(index); }
  std::int8_t SpeedIndex() const { return static_cast<std::int8_t>(bytes[kSpeedIndex]); }
  void SetSpeedIndex(int index) { bytes[kSpeedIndex] = static_cast<std::uint8_t>(index); }
  std::int8_t IpsIndex() const { return static_cast<std::int8_t>(bytes[kIpsIndex]); }
  void SetIpsIndex(int index) { bytes[kIpsIndex] = static_cast<std::uint8_t>(index); }
  std::int32_t WindowHeight() const { return GetI32(kWindowHeight); }
  void SetWindowHeight(std::int32_t v) { SetI32(kWindowHeight, v); }
  std::int32_t WindowWidth() const { return GetI32(kWindowWidth); }
  void SetWindowWidth(std::int32_t v) { SetI32(kWindowWidth, v); }

  char (&OpenFileName())[kFileNameBytes] { return Field(kOpenFileName); }
  char (&SaveFileName())[kFileNameBytes] { return Field(kSaveFileName); }
  char (&BootFileName())[kFileNameBytes] { return Field(kBootFileName); }

 private:
  char (&Field(std::size_t offset))[kFileNameBytes] {
    return *reinterpret_cast<char(*)[kFileNameBytes]>(bytes.data() + offset);
  }
  std::int32_t GetI32(std::size_t o) const {
    const std::uint32_t v =
        static_cast<std::uint32_t>(bytes[o]) | (static_cast<std::uint32_t>(bytes[o + 1]) << 8) |
        (static_cast<std::uint32_t>(bytes[o + 2]) << 16) | (static_cast<std::uint32_t>(bytes[o + 3]) << 24);
    return static_cast<std::int32_t>(v);
  }
  void SetI32(std::size_t o, std::int32_t value) {
    const auto v = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) bytes[o + i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
};

}  // namespace brevomat
