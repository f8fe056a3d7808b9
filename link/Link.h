// The register-level link with the adapter on the printer port.
//
// The adapter has five 8-bit registers: 0..2 hold a 24-bit cart address, 3 is the cart data
// register and 4 the access mode. The PC reaches them in one of two ways:
//  - SPP: the PC runs the EPP handshake in software on the control register (STROBE low marks a
//    write, SELECTIN low strobes an address, AUTOFD low strobes data) and reads answers as two
//    nibbles on status bits 3..6;
//  - EPP: the port hardware runs address cycles on base+3 and data cycles on base+4.
// The speed setting picks slower cycle types inside EPP. No cycle waits on the adapter and none
// can fail: a missing adapter shows only as wrong data, which detection and verification catch.
#pragma once

#include <array>
#include <cstdint>

#include "base/TransferBuffer.h"
#include "port/Port.h"

namespace brevomat {

enum class LinkMode : std::uint8_t { EPP = 0, SPP = 1 };

// The seven values the link ever writes to the control register.
namespace control {
inline constexpr std::uint8_t kReadLevel = 0;      // before/after a nibble read, before a run of reads
inline constexpr std::uint8_t kWriteLevel = 1;     // frames every address and data write
inline constexpr std::uint8_t kNibbleLow = 2;      // nibble read, low half
inline constexpr std::uint8_t kDataStrobe = 3;     // SPP data write strobe
inline constexpr std::uint8_t kReleased = 4;       // link idle
inline constexpr std::uint8_t kNibbleHigh = 6;     // nibble read, high half
inline constexpr std::uint8_t kAddressStrobe = 9;  // SPP address write strobe
}  // namespace control

namespace adapter {
inline constexpr std::uint8_t kAddressLow = 0;
inline constexpr std::uint8_t kAddressMid = 1;
inline constexpr std::uint8_t kAddressHigh = 2;
inline constexpr std::uint8_t kData = 3;
inline constexpr std::uint8_t kMode = 4;
inline constexpr std::uint8_t kRomAccessEpp = 0x07;
inline constexpr std::uint8_t kRomAccessSpp = 0x47;
inline constexpr std::uint8_t kSaveAccessEpp = 0x83;
inline constexpr std::uint8_t kSaveAccessSpp = 0xC3;
}  // namespace adapter

inline constexpr std::uint32_t kLpt1Base = 0x378;
inline constexpr std::uint32_t kLpt2Base = 0x278;
inline constexpr std::uint32_t kLpt3Base = 0x3BC;

class Link {
 public:
  explicit Link(PortIo& io) : io_(io) {}

  // Port addresses, base+0 .. base+4 of the chosen printer port.
  std::int32_t DataPort = kLpt1Base;
  std::int32_t StatusPort = kLpt1Base + 1;
  std::int32_t ControlPort = kLpt1Base + 2;
  std::int32_t EppAddressPort = kLpt1Base + 3;
  std::int32_t EppDataPort = kLpt1Base + 4;

  LinkMode Mode = LinkMode::EPP;
  std::int8_t SpeedSetting = 0;  // item index of the Speed group: 0 = "4" (fastest) .. 3 = "1"
  // Set by the cart layer just before it sends an erase confirm, a buffer of program data or save
  // data: from then on the cart may hold something else than before. Nothing clears it; it tells a
  // front end whether a run changed the cart, on real hardware as on a virtual one.
  bool CartWritten = false;

  void SetBase(std::uint32_t base) {
    DataPort = static_cast<std::int32_t>(base);
    StatusPort = DataPort + 1;
    ControlPort = DataPort + 2;
    EppAddressPort = DataPort + 3;
    EppDataPort = DataPort + 4;
  }

  PortIo& Io() { return io_; }

  // --- cycles -----------------------------------------------------------------------------------
  void WriteControl(std::uint8_t value) { io_.PortWriteByte(ControlPort, value); }

  void SppAddressCycle(std::uint8_t value) {
    WriteControl(control::kWriteLevel);
    io_.PortWriteByte(DataPort, value);
    WriteControl(control::kAddressStrobe);
    WriteControl(control::kWriteLevel);
  }
  void SppDataCycle(std::uint8_t value) {
    io_.PortWriteByte(DataPort, value);
    WriteControl(control::kDataStrobe);
    WriteControl(control::kWriteLevel);
  }
  // Status bits 3..6 of the first read are bits 0..3 of the byte, of the second read bits 4..7.
  std::uint8_t NibbleRead() {
    WriteControl(control::kReadLevel);
    WriteControl(control::kNibbleLow);
    const std::uint8_t first = io_.PortReadByte(StatusPort);
    WriteControl(control::kNibbleHigh);
    const std::uint8_t second = io_.PortReadByte(StatusPort);
    WriteControl(control::kReadLevel);
    return static_cast<std::uint8_t>(((second << 1) & 0xF0) | ((first >> 3) & 0x0F));
  }
  void EppAddressCycle(std::uint8_t value) {
    WriteControl(control::kWriteLevel);
    io_.PortWriteByte(EppAddressPort, value);
  }

  // --- link operations --------------------------------------------------------------------------
  // "SPP cycles" for writes: the SPP link, or EPP at speed "2" or slower.
  bool UsesSppWrites() const { return Mode == LinkMode::SPP || SpeedSetting >= 2; }

  void SelectAdapterRegister(std::uint8_t reg) {
    WriteControl(control::kWriteLevel);
    if (Mode == LinkMode::SPP)
      SppAddressCycle(reg);
    else
      EppAddressCycle(reg);
  }
  void WriteAdapterRegister(std::uint8_t reg, std::uint8_t value) {
    if (UsesSppWrites()) {
      SppAddressCycle(reg);
      SppDataCycle(value);
    } else {
      EppAddressCycle(reg);
      io_.PortWriteByte(EppDataPort, value);
    }
  }
  void WriteAdapterData(std::uint8_t value) {
    if (UsesSppWrites())
      SppDataCycle(value);
    else
      io_.PortWriteByte(EppDataPort, value);
  }
  void WriteDataWord(std::uint16_t value) {
    if (UsesSppWrites()) {
      SppDataCycle(static_cast<std::uint8_t>(value));
      SppDataCycle(static_cast<std::uint8_t>(value >> 8));
    } else if (SpeedSetting == 1) {
      io_.PortWriteByte(EppDataPort, static_cast<std::uint8_t>(value));
      io_.PortWriteByte(EppDataPort, static_cast<std::uint8_t>(value >> 8));
    } else {
      io_.PortWriteWord(EppDataPort, value);
    }
  }
  std::uint8_t ReadAdapterByte() {
    if (Mode == LinkMode::SPP) return NibbleRead();
    return io_.PortReadByte(EppDataPort);
  }
  std::uint16_t ReadCartWord() {
    if (Mode == LinkMode::SPP) {
      const std::uint8_t first = NibbleRead();
      const std::uint8_t second = NibbleRead();
      return static_cast<std::uint16_t>(second * 256 + first);
    }
    if (SpeedSetting >= 1) {
      const std::uint8_t first = io_.PortReadByte(EppDataPort);
      const std::uint8_t second = io_.PortReadByte(EppDataPort);
      return static_cast<std::uint16_t>(second * 256 + first);
    }
    return io_.PortReadWord(EppDataPort);
  }

  // --- runs -------------------------------------------------------------------------------------
  // The words (or save bytes) of one cart run, at most kRunWords, moved through the data register with
  // nothing between them. In EPP, at the speeds whose transfers are EPP data cycles, a run goes to
  // the port as one run operation: the very cycles of the single transfers, in one call where the
  // back end pays per call. SPP cycles stay single operations. Words are little-endian byte pairs,
  // as in TransferBuffer.
  void ReadCartWords(std::uint8_t* words, std::uint32_t count) {
    if (Mode == LinkMode::SPP) {
      for (std::uint32_t k = 0; k < count; ++k) {
        words[2 * k] = NibbleRead();
        words[2 * k + 1] = NibbleRead();
      }
    } else if (SpeedSetting >= 1) {
      io_.PortReadBytes(EppDataPort, words, 2 * count);
    } else {
      io_.PortReadWords(EppDataPort, words, count);
    }
  }
  void WriteDataWords(const std::uint8_t* words, std::uint32_t count) {
    if (UsesSppWrites()) {
      for (std::uint32_t k = 0; k < 2 * count; ++k) SppDataCycle(words[k]);
    } else if (SpeedSetting == 1) {
      io_.PortWriteBytes(EppDataPort, words, 2 * count);
    } else {
      io_.PortWriteWords(EppDataPort, words, count);
    }
  }
  void ReadAdapterBytes(std::uint8_t* bytes, std::uint32_t count) {
    if (Mode == LinkMode::SPP) {
      for (std::uint32_t k = 0; k < count; ++k) bytes[k] = NibbleRead();
    } else {
      io_.PortReadBytes(EppDataPort, bytes, count);
    }
  }
  void WriteAdapterBytes(const std::uint8_t* bytes, std::uint32_t count) {
    if (UsesSppWrites()) {
      for (std::uint32_t k = 0; k < count; ++k) SppDataCycle(bytes[k]);
    } else {
      io_.PortWriteBytes(EppDataPort, bytes, count);
    }
  }

  // A run read by a loop that may stop before its end (a comparison): StartWordRun or
  // StartByteRun, then NextRunWord or NextRunByte for each one the loop takes. Where the back end
  // moves runs whole, the run crosses at its start in one call and the loop takes it from here;
  // everywhere else each Next is the single read it always was, and nothing is read past the
  // loop's last.
  void StartWordRun(std::uint32_t count) {
    held_ = Mode == LinkMode::EPP && io_.MovesRunsWhole();
    next_ = 0;
    if (held_) ReadCartWords(run_.data(), count);
  }
  std::uint16_t NextRunWord() {
    if (!held_) return ReadCartWord();
    const auto word = static_cast<std::uint16_t>(run_[next_] | run_[next_ + 1] << 8);
    next_ += 2;
    return word;
  }
  void StartByteRun(std::uint32_t count) {
    held_ = Mode == LinkMode::EPP && io_.MovesRunsWhole();
    next_ = 0;
    if (held_) ReadAdapterBytes(run_.data(), count);
  }
  std::uint8_t NextRunByte() { return held_ ? run_[next_++] : ReadAdapterByte(); }

  void SetCartAddress(std::uint32_t address) {
    WriteAdapterRegister(adapter::kAddressHigh, static_cast<std::uint8_t>(address >> 16));
    WriteAdapterRegister(adapter::kAddressMid, static_cast<std::uint8_t>(address >> 8));
    WriteAdapterRegister(adapter::kAddressLow, static_cast<std::uint8_t>(address));
  }
  void WriteCartWord(std::uint32_t address, std::uint16_t value) {
    SetCartAddress(address);
    SelectAdapterRegister(adapter::kData);
    WriteDataWord(value);
  }
  void SetRomAccessMode() {
    WriteAdapterRegister(adapter::kMode,
                         Mode == LinkMode::SPP ? adapter::kRomAccessSpp : adapter::kRomAccessEpp);
  }
  void SetSaveAccessMode() {
    WriteAdapterRegister(adapter::kMode,
                         Mode == LinkMode::SPP ? adapter::kSaveAccessSpp : adapter::kSaveAccessEpp);
  }
  // A write to the status register clears a latched EPP time-out on EPP ports.
  void PrepareLink() {
    io_.PortWriteByte(StatusPort, 1);
    SetRomAccessMode();
  }
  void ReleaseLink() { WriteControl(control::kReleased); }

  // Loads the address of run p (256 words) of chunk n: register 0, 1, 2 in that order.
  void LoadChunkRunAddress(std::uint32_t chunk, std::uint32_t run) {
    WriteAdapterRegister(adapter::kAddressLow, 0);
    WriteAdapterRegister(adapter::kAddressMid, static_cast<std::uint8_t>((chunk % 4) * 64 + run));
    WriteAdapterRegister(adapter::kAddressHigh, static_cast<std::uint8_t>(chunk / 4));
  }

 private:
  PortIo& io_;
  // The run StartWordRun or StartByteRun read whole, and where the loop is in it.
  std::array<std::uint8_t, 2 * kRunWords> run_{};
  std::uint32_t next_ = 0;
  bool held_ = false;
};

}  // namespace brevomat
