#include "sim/VirtualAdapter.h"

#include <cstdio>

namespace brevomat::sim {

namespace {

// Control register values. Bits 0 (STROBE), 1 (AUTOFD) and 3 (SELECTIN) are inverted at the
// connector, so a 1 pulls the line low; bit 2 (INIT) is not inverted.
constexpr std::uint8_t kReadLevel = 0;      // all strobes high, INIT low
constexpr std::uint8_t kWriteLevel = 1;     // STROBE low: a write is framed
constexpr std::uint8_t kNibbleLow = 2;      // AUTOFD low with STROBE high: present the low nibble
constexpr std::uint8_t kDataStrobe = 3;     // AUTOFD low while STROBE low: data strobe
constexpr std::uint8_t kReleased = 4;       // INIT high, nothing strobed: idle
constexpr std::uint8_t kNibbleHigh = 6;     // INIT goes high during the read: present the high nibble
constexpr std::uint8_t kAddressStrobe = 9;  // SELECTIN low while STROBE low: address strobe

// Status bits 3..6 carry a nibble. The others are not driven by the adapter's data path; they show
// set bits here so that a link that forgets to mask them reads wrong data.
constexpr std::uint8_t kStatusJunk = 0x87;
constexpr std::uint8_t kStatusIdle = 0xFF;

constexpr unsigned kStatusOffset = 1;
constexpr unsigned kControlOffset = 2;
constexpr unsigned kEppAddressOffset = 3;
// base+4 .. base+7 all decode as the EPP data register (the default case below).
constexpr unsigned kPortSpan = 8;

bool KnownControlValue(std::uint8_t v) {
  return v == kReadLevel || v == kWriteLevel || v == kNibbleLow || v == kDataStrobe || v == kReleased ||
         v == kNibbleHigh || v == kAddressStrobe;
}

}  // namespace

const char* ProtocolRuleName(ProtocolRule rule) {
  switch (rule) {
    case ProtocolRule::StatusOutsideNibbleRead:
      return "status read outside a nibble read";
    case ProtocolRule::EppReadLevel:
      return "EPP data read without the read level";
    case ProtocolRule::EppAddressWriteLevel:
      return "EPP address write without the write level";
    case ProtocolRule::EppDataWriteLevel:
      return "EPP data write without the write level";
    case ProtocolRule::UnknownControlValue:
      return "control value the link never drives";
    case ProtocolRule::NibbleReadInterrupted:
      return "nibble read left unfinished";
    case ProtocolRule::StrobeNotFromWriteLevel:
      return "SPP strobe not from the write level";
    case ProtocolRule::NibbleNotFromReadLevel:
      return "nibble read not started from the read level";
    case ProtocolRule::HighNibbleFirst:
      return "high nibble without the low nibble before it";
    case ProtocolRule::WriteAfterReadHalf:
      return "cart word write after the low half of a read";
    case ProtocolRule::ReadAfterWriteHalf:
      return "cart word read after the low half of a write";
  }
  return "unknown rule";
}

VirtualAdapter::VirtualAdapter(const AdapterConfig& config, CartBus& bus) : config_(config), bus_(&bus) {}

// The ECR's mode field (bits 7..5) for each kind of port that has one.
static std::uint8_t EcrValue(PortKind kind) {
  switch (kind) {
    case PortKind::EcpSpp:
      return 0x00 | 0x05;
    case PortKind::EcpPs2:
      return 0x20 | 0x05;
    case PortKind::EcpFifo:
      return 0x40 | 0x05;
    case PortKind::EcpEcp:
      return 0x60 | 0x05;
    case PortKind::EcpEpp:
      return 0x80 | 0x05;
    case PortKind::Epp:
    case PortKind::SppOnly:
      break;
  }
  return 0xFF;  // no ECR: nothing answers at base+0x402
}

inline std::uint8_t VirtualAdapter::ReadByteNow(std::uint16_t port) {
  ++counters_.byteReads;
  nowNs_ += config_.nsPerByteAccess;
  const unsigned offset = static_cast<std::uint16_t>(port - config_.base);
  if (offset == kEcrOffset) return EcrValue(config_.cable.port);  // writes to it are ignored
  if (offset >= kPortSpan) return 0xFF;                           // another port: nothing answers
  Begin(AccessKind::ByteRead, port, 0);
  return ReadOffset(offset);
}

inline void VirtualAdapter::WriteByteNow(std::uint16_t port, std::uint8_t value) {
  ++counters_.byteWrites;
  nowNs_ += config_.nsPerByteAccess;
  const unsigned offset = static_cast<std::uint16_t>(port - config_.base);
  if (offset >= kPortSpan) return;
  Begin(AccessKind::ByteWrite, port, value);
  WriteOffset(offset, value);
}

// A 16-bit access is two byte cycles on the cable, at the port and the port above it, low byte
// first. At base+4 that is two EPP data cycles.
inline std::uint16_t VirtualAdapter::ReadWordNow(std::uint16_t port) {
  ++counters_.wordReads;
  nowNs_ += 2 * config_.nsPerByteAccess;
  const unsigned offset = static_cast<std::uint16_t>(port - config_.base);
  if (offset >= kPortSpan) return 0xFFFF;
  Begin(AccessKind::WordRead, port, 0);
  const std::uint8_t low = ReadOffset(offset);
  const std::uint8_t high = offset + 1 < kPortSpan ? ReadOffset(offset + 1) : 0xFF;
  return static_cast<std::uint16_t>(low | (high << 8));
}

inline void VirtualAdapter::WriteWordNow(std::uint16_t port, std::uint16_t value) {
  ++counters_.wordWrites;
  nowNs_ += 2 * config_.nsPerByteAccess;
  const unsigned offset = static_cast<std::uint16_t>(port - config_.base);
  if (offset >= kPortSpan) return;
  Begin(AccessKind::WordWrite, port, value);
  WriteOffset(offset, static_cast<std::uint8_t>(value));
  if (offset + 1 < kPortSpan) WriteOffset(offset + 1, static_cast<std::uint8_t>(value >> 8));
}

// Each access as the cable sees it, and on the tape of a record when one is kept: by its code,
// since each begins as the one before it ends (AdvanceNs breaks that). An access that is the same
// as the one a period before only counts; another takes the longer road.
std::uint8_t VirtualAdapter::ReadByte(std::uint16_t port) {
  const std::uint64_t ns = nowNs_;
  const std::uint8_t value = ReadByteNow(port);
  if (tape_ != nullptr) {
    const std::uint64_t code = brevomat::AccessTape::Code(port, 0, value);
    if (!tape_->NoteCodeRepeat(code)) [[unlikely]]
      tape_->NoteNewCode(code, ns);
  }
  return value;
}

// A write is noted before it is made, so that the model's work is the call it ends with.
void VirtualAdapter::WriteByte(std::uint16_t port, std::uint8_t value) {
  if (tape_ != nullptr && !tape_->NoteCodeRepeat(brevomat::AccessTape::Code(
                              port, brevomat::record::kWriteFlag, value))) [[unlikely]] {
    NoteAndWriteByte(port, value);
    return;
  }
  WriteByteNow(port, value);
}

void VirtualAdapter::NoteAndWriteByte(std::uint16_t port, std::uint8_t value) {
  tape_->NoteNewCode(brevomat::AccessTape::Code(port, brevomat::record::kWriteFlag, value), nowNs_);
  WriteByteNow(port, value);
}

std::uint16_t VirtualAdapter::ReadWord(std::uint16_t port) {
  const std::uint64_t ns = nowNs_;
  const std::uint16_t value = ReadWordNow(port);
  if (tape_ != nullptr) {
    const std::uint64_t code = brevomat::AccessTape::Code(port, brevomat::record::kWordFlag, value);
    if (!tape_->NoteCodeRepeat(code)) [[unlikely]]
      tape_->NoteNewCode(code, ns);
  }
  return value;
}

void VirtualAdapter::WriteWord(std::uint16_t port, std::uint16_t value) {
  constexpr std::uint8_t kFlags = brevomat::record::kWriteFlag | brevomat::record::kWordFlag;
  if (tape_ != nullptr && !tape_->NoteCodeRepeat(brevomat::AccessTape::Code(port, kFlags, value)))
      [[unlikely]] {
    NoteAndWriteWord(port, value);
    return;
  }
  WriteWordNow(port, value);
}

void VirtualAdapter::NoteAndWriteWord(std::uint16_t port, std::uint16_t value) {
  constexpr std::uint8_t kFlags = brevomat::record::kWriteFlag | brevomat::record::kWordFlag;
  tape_->NoteNewCode(brevomat::AccessTape::Code(port, kFlags, value), nowNs_);
  WriteWordNow(port, value);
}

// A run (a block's data through the EPP data port) is the same accesses one after the other, each
// one access's time after the one before; on the tape it is one run.
void VirtualAdapter::ReadBytes(std::uint16_t port, std::uint8_t* bytes, std::size_t count) {
  const std::uint64_t ns = nowNs_;
  for (std::size_t i = 0; i < count; ++i) bytes[i] = ReadByteNow(port);
  if (tape_ != nullptr)
    tape_->NoteCodeRun(port, 0, bytes, count, ns, static_cast<std::uint32_t>(config_.nsPerByteAccess));
}

void VirtualAdapter::WriteBytes(std::uint16_t port, const std::uint8_t* bytes, std::size_t count) {
  if (tape_ != nullptr)
    tape_->NoteCodeRun(port, brevomat::record::kWriteFlag, bytes, count, nowNs_,
                       static_cast<std::uint32_t>(config_.nsPerByteAccess));
  for (std::size_t i = 0; i < count; ++i) WriteByteNow(port, bytes[i]);
}

void VirtualAdapter::ReadWords(std::uint16_t port, std::uint8_t* bytes, std::size_t count) {
  const std::uint64_t ns = nowNs_;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint16_t word = ReadWordNow(port);
    bytes[2 * i] = static_cast<std::uint8_t>(word);
    bytes[2 * i + 1] = static_cast<std::uint8_t>(word >> 8);
  }
  if (tape_ != nullptr)
    tape_->NoteCodeRun(port, brevomat::record::kWordFlag, bytes, count, ns,
                       static_cast<std::uint32_t>(2 * config_.nsPerByteAccess));
}

void VirtualAdapter::WriteWords(std::uint16_t port, const std::uint8_t* bytes, std::size_t count) {
  if (tape_ != nullptr)
    tape_->NoteCodeRun(port, brevomat::record::kWriteFlag | brevomat::record::kWordFlag, bytes, count, nowNs_,
                       static_cast<std::uint32_t>(2 * config_.nsPerByteAccess));
  for (std::size_t i = 0; i < count; ++i)
    WriteWordNow(port, static_cast<std::uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8));
}

// Off the ordinary path: runs only when a rule is broken, and builds text only the first time.
void VirtualAdapter::Violation(ProtocolRule rule) {
  ++counters_.violations;
  if (!firstViolation_.empty()) return;
  const unsigned offset = static_cast<std::uint16_t>(access_.port - config_.base);
  char access[48];
  switch (access_.kind) {
    case AccessKind::ByteRead:
      std::snprintf(access, sizeof access, "read of base+%u", offset);
      break;
    case AccessKind::ByteWrite:
      std::snprintf(access, sizeof access, "write of 0x%02X to base+%u", access_.value, offset);
      break;
    case AccessKind::WordRead:
      std::snprintf(access, sizeof access, "16-bit read of base+%u", offset);
      break;
    case AccessKind::WordWrite:
      std::snprintf(access, sizeof access, "16-bit write of 0x%04X to base+%u", access_.value, offset);
      break;
  }
  const std::uint64_t number =
      counters_.byteReads + counters_.byteWrites + counters_.wordReads + counters_.wordWrites;
  char text[160];
  std::snprintf(text, sizeof text, "%s: %s at access #%llu with control 0x%02X", ProtocolRuleName(rule),
                access, static_cast<unsigned long long>(number), access_.control);
  firstViolation_ = text;
}

std::uint8_t VirtualAdapter::DataLines(std::uint8_t driven) const {
  const CableFaults& f = config_.cable;
  if (f.shorted != 0 && (driven & f.shorted) != f.shorted)
    driven = static_cast<std::uint8_t>(driven & ~f.shorted);
  return static_cast<std::uint8_t>((driven & ~f.dataLow) | f.dataHigh);
}

// STROBE, AUTOFD and SELECTIN (bits 0, 1, 3) are inverted at the connector: a pin held low reads as
// a set bit. INIT (bit 2) is not.
std::uint8_t VirtualAdapter::SeenControl(std::uint8_t written) const {
  const CableFaults& f = config_.cable;
  const auto mask = static_cast<std::uint8_t>((f.controlLow | f.controlHigh) & 0x0F);
  const auto ones = static_cast<std::uint8_t>((f.controlLow & 0x0B) | (f.controlHigh & 0x04));
  return static_cast<std::uint8_t>((written & ~mask) | ones);
}

// ERROR, SELECT, PAPEREND and ACK (bits 3..6) read as their pins; BUSY (bit 7) is inverted.
std::uint8_t VirtualAdapter::StatusLines(std::uint8_t driven) const {
  const CableFaults& f = config_.cable;
  const auto mask = static_cast<std::uint8_t>((f.statusLow | f.statusHigh) & 0xF8);
  const auto ones = static_cast<std::uint8_t>((f.statusHigh & 0x78) | (f.statusLow & 0x80));
  return static_cast<std::uint8_t>((driven & ~mask) | ones);
}

// The EPP port runs its cycles on the control wires: STROBE low marks a write, high a read;
// SELECTIN strobes an address, AUTOFD data. A strobe wire that cannot move strobes nothing, a
// STROBE wire stuck at one level turns every cycle of the other direction into its own, and INIT
// held high keeps the adapter released. The port then times out and reads the floating bus.
bool VirtualAdapter::EppCycleReaches(bool write, bool address) const {
  const CableFaults& f = config_.cable;
  const std::uint8_t stuck = f.controlLow | f.controlHigh;
  if ((f.controlHigh & 0x04) != 0) return false;
  if (write ? (f.controlHigh & 0x01) != 0 : (f.controlLow & 0x01) != 0) return false;
  return (stuck & (address ? 0x08 : 0x02)) == 0;
}

std::uint8_t VirtualAdapter::ReadOffset(unsigned offset) {
  switch (offset) {
    case 0:
      return DataLines(data_);  // a standard port reads back the levels on its data pins
    case kStatusOffset:
      // Rule: the status lines carry data only during a nibble read (control 2 or 6). Reading them
      // at any other time means the PC skipped the handshake and would see a stale nibble.
      if (control_ != kNibbleLow && control_ != kNibbleHigh) Violation(ProtocolRule::StatusOutsideNibbleRead);
      return StatusLines(status_);
    case kControlOffset:
      // A standard port reads its control outputs back from the pins, so a line held at one level
      // shows there (the upper bits are the port's own).
      return static_cast<std::uint8_t>((control_ & 0xF0) | (seenControl_ & 0x0F));
    case kEppAddressOffset:
      if (!PortHasEpp() || !AnswersEpp() || !EppCycleReaches(false, true)) return 0xFF;
      return DataLines(selected_);
    default:
      // Rule: an EPP data read must run at the read level (control 0). With STROBE held low
      // (bit 0 set, the write level) the port and the adapter both drive the data lines; with INIT
      // high (released) or in the middle of a nibble read the adapter is not set up for EPP.
      if (control_ != kReadLevel) Violation(ProtocolRule::EppReadLevel);
      if (!PortHasEpp() || !AnswersEpp() || !EppCycleReaches(false, false)) return 0xFF;
      return DataLines(DataRead());
  }
}

void VirtualAdapter::WriteOffset(unsigned offset, std::uint8_t value) {
  switch (offset) {
    case 0:
      data_ = value;
      return;
    case kStatusOffset:
      return;  // clears a latched EPP time-out on the port; nothing reaches the adapter
    case kControlOffset:
      WriteControl(value);
      return;
    case kEppAddressOffset:
      // Rule: EPP address and data writes run at the write level (control 1), as the link sets it
      // before every write; any other level means a read or an SPP cycle is still open.
      if (control_ != kWriteLevel) Violation(ProtocolRule::EppAddressWriteLevel);
      if (PortHasEpp() && AnswersEpp() && EppCycleReaches(true, true)) AddressCycle(DataLines(value));
      return;
    default:
      if (control_ != kWriteLevel) Violation(ProtocolRule::EppDataWriteLevel);  // as above
      if (PortHasEpp() && AnswersEpp() && EppCycleReaches(true, false)) DataWrite(DataLines(value));
      return;
  }
}

void VirtualAdapter::WriteControl(std::uint8_t value) {
  const std::uint8_t previous = control_;
  control_ = value;
  // The rules judge what the PC wrote; what the adapter then does depends on what reaches its
  // pins, which a faulty cable changes.
  // Rule: the link drives only the seven levels 0, 1, 2, 3, 4, 6 and 9. Anything else (reverse
  // direction, interrupt enable, two strobes at once) is a protocol error and strobes nothing.
  if (!KnownControlValue(value)) {
    Violation(ProtocolRule::UnknownControlValue);
  } else if (value != previous) {
    // Rule: a nibble read runs 0 -> 2 -> 6 -> 0 without interruption; leaving it early loses the
    // byte that the adapter has already taken from the cart.
    if ((previous == kNibbleLow && value != kNibbleHigh) || (previous == kNibbleHigh && value != kReadLevel))
      Violation(ProtocolRule::NibbleReadInterrupted);
    // Rule: an SPP strobe is valid only from the write level, with the data register already set
    // up while STROBE was low; from any other level the adapter sees a glitch. A nibble read starts
    // from the read level, and its high half follows the low half.
    if ((value == kAddressStrobe || value == kDataStrobe) && previous != kWriteLevel)
      Violation(ProtocolRule::StrobeNotFromWriteLevel);
    if (value == kNibbleLow && previous != kReadLevel) Violation(ProtocolRule::NibbleNotFromReadLevel);
    if (value == kNibbleHigh && previous != kNibbleLow) Violation(ProtocolRule::HighNibbleFirst);
  }
  const std::uint8_t seenBefore = seenControl_;
  seenControl_ = SeenControl(value);
  AdapterControl(seenBefore, seenControl_);
}

// The adapter acts on the edges of the control lines as its pins see them.
void VirtualAdapter::AdapterControl(std::uint8_t previous, std::uint8_t value) {
  if (!KnownControlValue(value)) {
    status_ = kStatusIdle;
    return;
  }
  if (value == previous) return;  // rewriting a level is no edge
  switch (value) {
    case kAddressStrobe:
    case kDataStrobe:
      if (previous != kWriteLevel || !AnswersSpp()) return;
      if (value == kAddressStrobe)
        AddressCycle(DataLines(data_));
      else
        DataWrite(DataLines(data_));
      return;
    case kNibbleLow:
      if (previous != kReadLevel || !AnswersSpp()) return;
      nibbleByte_ = DataRead();
      status_ = static_cast<std::uint8_t>(kStatusJunk | ((nibbleByte_ & 0x0F) << 3));
      return;
    case kNibbleHigh:
      if (previous != kNibbleLow || !AnswersSpp()) return;
      status_ = static_cast<std::uint8_t>(kStatusJunk | ((nibbleByte_ >> 4) << 3));
      return;
    default:
      // Read level, write level, released: the transfer (if any) is complete; the status lines
      // float back to idle.
      status_ = kStatusIdle;
      return;
  }
}

void VirtualAdapter::AddressCycle(std::uint8_t value) {
  selected_ = value;
  phase_ = WordPhase::Low;  // an address cycle starts a fresh word
}

void VirtualAdapter::DataWrite(std::uint8_t value) {
  switch (selected_) {
    case 0:
    case 1:
    case 2:
      regs_[selected_] = value;
      return;
    case 3:
      if (SaveAccess()) {
        bus_->WriteSave(SaveAddress(), value, nowNs_);
        AdvanceAddress();
        return;
      }
      if (phase_ == WordPhase::HighOfWrite) {
        bus_->WriteRom(RomAddress(), static_cast<std::uint16_t>(wordLatch_ | (value << 8)), nowNs_);
        AdvanceAddress();
        phase_ = WordPhase::Low;
        return;
      }
      // Rule: the two halves of a word go the same way; a write after the low half of a read
      // abandons that word.
      if (phase_ == WordPhase::HighOfRead) Violation(ProtocolRule::WriteAfterReadHalf);
      wordLatch_ = value;
      phase_ = WordPhase::HighOfWrite;
      return;
    case 4:
      regs_[4] = value;
      phase_ = WordPhase::Low;
      return;
    default:
      return;  // no such register
  }
}

std::uint8_t VirtualAdapter::DataRead() {
  switch (selected_) {
    case 0:
    case 1:
    case 2:
    case 4:
      return regs_[selected_];
    case 3: {
      if (SaveAccess()) {
        const std::uint8_t v = bus_->ReadSave(SaveAddress(), nowNs_);
        AdvanceAddress();
        return v;
      }
      if (phase_ == WordPhase::HighOfRead) {
        phase_ = WordPhase::Low;
        AdvanceAddress();
        return static_cast<std::uint8_t>(wordLatch_ >> 8);
      }
      if (phase_ == WordPhase::HighOfWrite) Violation(ProtocolRule::ReadAfterWriteHalf);  // as in DataWrite
      wordLatch_ = bus_->ReadRom(RomAddress(), nowNs_);
      phase_ = WordPhase::HighOfRead;
      return static_cast<std::uint8_t>(wordLatch_);
    }
    default:
      return 0xFF;
  }
}

}  // namespace brevomat::sim
