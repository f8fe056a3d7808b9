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

#include "port/AccessTape.h"
#include "port/Port.h"
#include "sim/CartBus.h"

namespace brevomat::sim {

// Which link modes the adapter answers in. None models an empty port.
enum class AdapterAnswers : std::uint8_t { Both, SppOnly, EppOnly, None };

// What kind of printer port the adapter hangs on. An EPP port has the EPP registers at base+3 ..
// base+7; an SPP port has nothing there. A port that can do ECP has an extended control register
// (ECR) at base+0x402 whose bits 7..5 choose the mode the BIOS set; only the EPP mode (100) makes
// base+3 .. base+7 EPP registers, every other mode leaves the port without EPP.
enum class PortKind : std::uint8_t { Epp, SppOnly, EcpEpp, EcpSpp, EcpPs2, EcpFifo, EcpEcp };

// Faults of the cable and the port, at the pins of the 25-pin connector. A data line stuck at a
// level corrupts what the PC writes and what it reads on D0-D7; two shorted data lines both carry
// the AND of what is driven on them (a low driver wins over a high one). A status line stuck at a
// level shows that level in every status read. A control line stuck at a level is seen by the
// adapter at that level whatever the PC writes, in SPP cycles and in the cycles the EPP port runs
// on the same wires (STROBE is the EPP write line, AUTOFD its data strobe, SELECTIN its address
// strobe; INIT high holds the adapter released).
struct CableFaults {
  std::uint8_t dataLow = 0, dataHigh = 0;        // D0..D7 as bits 0..7
  std::uint8_t shorted = 0;                      // the two shorted data lines' bits, or 0
  std::uint8_t statusLow = 0, statusHigh = 0;    // pins of status bits 3..7 (ERROR .. BUSY)
  std::uint8_t controlLow = 0, controlHigh = 0;  // pins of control bits 0..3 (STROBE .. SELECTIN)
  PortKind port = PortKind::Epp;
  bool any() const {
    return (dataLow | dataHigh | shorted | statusLow | statusHigh | controlLow | controlHigh) != 0 ||
           port != PortKind::Epp;
  }
};

struct AdapterConfig {
  std::uint16_t base = 0x378;
  AdapterAnswers answers = AdapterAnswers::Both;
  std::uint64_t nsPerByteAccess = 1000;  // one byte cycle on the cable; a 16-bit access is two
  CableFaults cable;
};

// The offset of the ECR from the port's base, and its value when read: the mode in bits 7..5,
// both FIFOs empty (bit 0), no interrupt pending (bit 2).
inline constexpr unsigned kEcrOffset = 0x402;

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
  void ReadBytes(std::uint16_t port, std::uint8_t* bytes, std::size_t count) override;
  void WriteBytes(std::uint16_t port, const std::uint8_t* bytes, std::size_t count) override;
  void ReadWords(std::uint16_t port, std::uint8_t* bytes, std::size_t count) override;
  void WriteWords(std::uint16_t port, const std::uint8_t* bytes, std::size_t count) override;
  std::uint64_t ClockNs() override { return nowNs_; }
  // The model notes its accesses itself: on the virtual cart an access costs the host about what
  // a call more would, so a recorder wrapped around it would double it.
  bool NotesInto(brevomat::AccessTape* tape) override {
    tape_ = tape;
    if (tape != nullptr) tape->SetByteNs(config_.nsPerByteAccess);
    return true;
  }

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
  void AdvanceNs(std::uint64_t ns) {
    nowNs_ += ns;
    if (tape_ != nullptr) tape_->BreakCodes();  // the next access does not begin as the last ended
  }
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
  std::uint8_t ReadByteNow(std::uint16_t port);
  void WriteByteNow(std::uint16_t port, std::uint8_t value);
  std::uint16_t ReadWordNow(std::uint16_t port);
  void WriteWordNow(std::uint16_t port, std::uint16_t value);
  // A write that is not a repeat: noted, then made. Kept out of line, off the path of the others.
#if defined(__GNUC__)
  [[gnu::noinline]]
#endif
  void
  NoteAndWriteByte(std::uint16_t port, std::uint8_t value);
#if defined(__GNUC__)
  [[gnu::noinline]]
#endif
  void
  NoteAndWriteWord(std::uint16_t port, std::uint16_t value);
  brevomat::AccessTape* tape_ = nullptr;

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
  // The port has working EPP registers.
  bool PortHasEpp() const {
    return config_.cable.port == PortKind::Epp || config_.cable.port == PortKind::EcpEpp;
  }
  // The lines as the other end sees them: data through stuck and shorted wires, the control
  // register as the adapter sees its pins.
  std::uint8_t DataLines(std::uint8_t driven) const;
  std::uint8_t SeenControl(std::uint8_t written) const;
  std::uint8_t StatusLines(std::uint8_t driven) const;
  // An EPP cycle reaches the adapter only when the lines that port drives for it can move.
  bool EppCycleReaches(bool write, bool address) const;
  void AdapterControl(std::uint8_t previous, std::uint8_t value);
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
  std::uint8_t selected_ = 0;     // register number latched by the last address cycle
  std::uint8_t data_ = 0;         // printer data register (base+0) as the PC last wrote it
  std::uint8_t control_ = 4;      // control register; the port powers up released
  std::uint8_t seenControl_ = 4;  // the control lines as the adapter sees them (cable faults)
  std::uint8_t status_ = 0xFF;    // what the status lines show now
  std::uint8_t nibbleByte_ = 0;   // byte being moved by the current nibble read

  // Register 3 in ROM access mode moves a word as two byte cycles, low byte first.
  enum class WordPhase : std::uint8_t { Low, HighOfRead, HighOfWrite };
  WordPhase phase_ = WordPhase::Low;
  std::uint16_t wordLatch_ = 0;
};

}  // namespace brevomat::sim
