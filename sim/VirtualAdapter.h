// The virtual adapter: a model of the small board behind the printer port.
//
// It decodes what the PC sends to the five printer-port registers exactly as the real adapter
// would, and drives a cartridge bus with the result:
//  - SPP: the PC runs the handshake in software on the control register; the adapter acts on its
//    edges (address strobe, data strobe, nibble read) and answers on status bits 3..6;
//  - EPP: the port hardware runs address cycles on base+3 and data cycles on base+4.
// Registers 0..2 hold a 24-bit address, register 3 moves cart data (16-bit words low byte first in
// ROM access mode, single bytes in save access mode), register 4 is the access mode. After every
// transferred word or byte only register 0 advances, wrapping at 256.
//
// Besides the model it keeps counters of port accesses and of protocol violations, the first
// violation in words, and a virtual clock that advances with every port access and times the
// cartridge's flash chip.
#pragma once

#include <cstdint>
#include <string>

#include "port/Port.h"
#include "sim/CartBus.h"

namespace brevomat::sim {

// Which link modes the adapter answers in. None models an empty port.
enum class AdapterAnswers : std::uint8_t { Both, SppOnly, EppOnly, None };

struct AdapterConfig {
  std::uint16_t base = 0x378;
  AdapterAnswers answers = AdapterAnswers::Both;
  std::uint64_t nsPerByteAccess = 1000;  // one byte cycle on the cable; a 16-bit access is two
};

// Every access this back end receives is counted and advances the clock, also those to ports of
// another base (they take the same time on the bus); only the adapter's own ports are decoded.
struct AdapterCounters {
  std::uint64_t byteReads = 0, byteWrites = 0, wordReads = 0, wordWrites = 0, violations = 0;
};

// The rules of the handshake that the adapter relies on. The real board does not report a broken
// rule; it strobes nothing, or garbage, and the PC reads stale or wrong data. The model counts
// every break and keeps the first one as text.
enum class ProtocolRule : std::uint8_t {
  StatusOutsideNibbleRead,  // status lines read while no nibble is presented (control not 2 or 6)
  EppReadLevel,             // EPP data read with control other than the read level 0
  EppAddressWriteLevel,     // EPP address write with control other than the write level 1
  EppDataWriteLevel,        // EPP data write with control other than the write level 1
  UnknownControlValue,      // a control value outside 0, 1, 2, 3, 4, 6, 9
  NibbleReadInterrupted,    // a nibble read left before 0 -> 2 -> 6 -> 0 was complete
  StrobeNotFromWriteLevel,  // an SPP address or data strobe (9 or 3) not reached from 1
  NibbleNotFromReadLevel,   // a nibble read (2) not started from 0
  HighNibbleFirst,          // the high nibble (6) not reached from the low nibble (2)
  WriteAfterReadHalf,       // a cart word write after the low half of a cart word read
  ReadAfterWriteHalf,       // a cart word read after the low half of a cart word write
};
inline constexpr int kProtocolRuleCount = 11;

// The rule in a few words, as the violation description starts.
const char* ProtocolRuleName(ProtocolRule rule);

class VirtualAdapter final : public brevomat::PortBackend {
 public:
  VirtualAdapter(const AdapterConfig& config, CartBus& bus);

  std::uint8_t ReadByte(std::uint16_t port) override;
  void WriteByte(std::uint16_t port, std::uint8_t value) override;
  std::uint16_t ReadWord(std::uint16_t port) override;
  void WriteWord(std::uint16_t port, std::uint16_t value) override;
  std::uint64_t ClockNs() override { return nowNs_; }

  const AdapterConfig& config() const { return config_; }
  const AdapterCounters& counters() const { return counters_; }
  // The first violation since the counters were last reset, empty when there was none: the rule,
  // the port access that broke it (numbered from 1 since the reset, as counted in counters()) and
  // the control register as that access found it, e.g. "status read outside a nibble read: read
  // of base+1 at access #1234 with control 0x01".
  const std::string& FirstViolation() const { return firstViolation_; }
  void ResetCounters() {
    counters_ = {};
    firstViolation_.clear();
  }
  std::uint64_t NowNs() const { return nowNs_; }
  void AdvanceNs(std::uint64_t ns) { nowNs_ += ns; }
  std::uint8_t Register(int index) const { return index >= 0 && index < 5 ? regs_[index] : 0xFF; }
  void SetBus(CartBus& bus) { bus_ = &bus; }

  // Extra observation for tests.
  std::uint8_t SelectedRegister() const { return selected_; }
  std::uint8_t ControlValue() const { return control_; }
  bool SaveAccess() const { return (regs_[4] & 0x80) != 0; }

 private:
  // What the port access being decoded is, kept for the description of a violation.
  enum class AccessKind : std::uint8_t { ByteRead, ByteWrite, WordRead, WordWrite };
  struct Access {
    std::uint16_t port;
    std::uint16_t value;  // written value; 0 for reads
    AccessKind kind;
    std::uint8_t control;  // control register when the access arrived
  };
  void Begin(AccessKind kind, std::uint16_t port, std::uint16_t value) {
    access_ = {port, value, kind, control_};
  }
  void Violation(ProtocolRule rule);

  // One byte cycle on a port of this adapter, offset 0..7 from the base.
  std::uint8_t ReadOffset(unsigned offset);
  void WriteOffset(unsigned offset, std::uint8_t value);
  void WriteControl(std::uint8_t value);
  void AddressCycle(std::uint8_t value);
  void DataWrite(std::uint8_t value);
  std::uint8_t DataRead();
  void AdvanceAddress() { regs_[0] = static_cast<std::uint8_t>(regs_[0] + 1); }
  std::uint32_t RomAddress() const {
    return (std::uint32_t{regs_[2]} << 16) | (std::uint32_t{regs_[1]} << 8) | regs_[0];
  }
  std::uint16_t SaveAddress() const { return static_cast<std::uint16_t>((regs_[1] << 8) | regs_[0]); }
  bool AnswersSpp() const {
    return config_.answers == AdapterAnswers::Both || config_.answers == AdapterAnswers::SppOnly;
  }
  bool AnswersEpp() const {
    return config_.answers == AdapterAnswers::Both || config_.answers == AdapterAnswers::EppOnly;
  }

  AdapterConfig config_;
  CartBus* bus_;
  AdapterCounters counters_;
  std::string firstViolation_;
  Access access_ = {};
  std::uint64_t nowNs_ = 0;

  std::uint8_t regs_[5] = {0, 0, 0, 0, 0};
  std::uint8_t selected_ = 0;    // register number latched by the last address cycle
  std::uint8_t data_ = 0;        // printer data register (base+0) as the PC last wrote it
  std::uint8_t control_ = 4;     // control register; the port powers up released
  std::uint8_t status_ = 0xFF;   // what the status lines show now
  std::uint8_t nibbleByte_ = 0;  // byte being moved by the current nibble read

  // Register 3 in ROM access mode moves a word as two byte cycles, low byte first.
  enum class WordPhase : std::uint8_t { Low, HighOfRead, HighOfWrite };
  WordPhase phase_ = WordPhase::Low;
  std::uint16_t wordLatch_ = 0;
};

}  // namespace brevomat::sim
