#include "trace/Decoder.h"

#include <cstdio>
#include <utility>

#include "link/Link.h"

namespace brevomat::trace {

namespace {

std::string Hex(unsigned value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, value);
  return text;
}
std::string Byte(unsigned value) { return Hex(value & 0xFF, 2); }
std::string Word(unsigned value) { return Hex(value & 0xFFFF, 4); }
std::string Address(std::uint32_t value) { return Hex(value & 0xFFFFFF, 6); }

// The writes of the cart's control sequence (all but the first and the last), and the two last
// writes that say what the sequence was for.
constexpr std::uint32_t kSequenceStart = 0x987654;
constexpr std::uint16_t kSequenceStartValue = 0x5354;
constexpr std::uint32_t kEnableFlashAddress = 0xF12345;
constexpr std::uint32_t kSelectBankAddress = 0xA12345;
bool SequenceAddress(std::uint32_t a) {
  return a == 0x012345 || a == 0x007654 || a == 0x987654 || a == 0x765400 || a == 0x013450;
}

enum class CycleKind : std::uint8_t {
  SppAddress,
  SppData,
  NibbleRead,
  EppAddressWrite,
  EppAddressRead,
  EppDataWrite,
  EppDataRead,
  StatusWrite,
  Release,
  Other,
};

struct Cycle {
  CycleKind kind;
  std::uint16_t value;
  bool word;
  std::uint64_t seq, us;
  std::string text;  // Other only
};

enum class OpKind : std::uint8_t {
  AddressLoad,
  RegisterWrite,
  RegisterRead,
  Mode,
  RomWrite,
  RomRead,
  SaveWrite,
  SaveRead,
  Prepare,
  Release,
  Text,
};

struct Op {
  OpKind kind;
  std::uint8_t reg = 0;
  std::uint16_t value = 0;
  std::uint32_t address = 0;
  bool spp = false;  // a read over nibble reads
  std::uint64_t seq = 0, us = 0;
  std::string text;
};

enum class ChipMode : std::uint8_t { Array, Status, Query, Identifier };

}  // namespace

struct Decoder::Stages {
  Stages(Level l, Sink s, Summary& sum, Decoder& d)
      : level(l), sink(std::move(s)), summary(sum), decoder(d) {}

  Level level;
  Sink sink;
  Summary& summary;
  Decoder& decoder;

  void Say(Level at, std::uint64_t seq, std::uint64_t us, std::string text) {
    if (at == level && sink) sink(DecodedLine{seq, us, std::move(text)});
  }

  // --- cycles: the adapter's view of the cable ---------------------------------------------------
  std::uint8_t control = control::kReleased;
  std::uint8_t data = 0;
  std::uint64_t dataSeq = 0;
  enum class Nibble : std::uint8_t { None, Low, High } nibble = Nibble::None;
  std::uint64_t nibbleSeq = 0, nibbleUs = 0;
  std::uint8_t firstStatus = 0, secondStatus = 0;
  bool haveFirst = false, haveSecond = false;

  void OnAccess(const Access& a) {
    ++summary.accesses;
    ++(a.write ? summary.writes : summary.reads);
    if (!summary.commands.empty() && !summary.commands.back().ended) ++summary.commands.back().accesses;
    const auto v8 = static_cast<std::uint8_t>(a.value);
    switch (a.reg) {
      case 0:
        if (a.write) {
          data = v8;
          dataSeq = a.seq;
        } else {
          Emit({CycleKind::Other, a.value, false, a.seq, a.us, "data register reads " + Byte(v8)});
        }
        return;
      case 1:
        if (a.write) return Emit({CycleKind::StatusWrite, v8, false, a.seq, a.us, {}});
        if (nibble == Nibble::Low && !haveFirst) {
          firstStatus = v8;
          haveFirst = true;
        } else if (nibble == Nibble::High && !haveSecond) {
          secondStatus = v8;
          haveSecond = true;
        } else {
          Emit({CycleKind::Other, a.value, false, a.seq, a.us,
                "status reads " + Byte(v8) + " outside a nibble read"});
        }
        return;
      case 2:
        if (a.write) return ControlWrite(v8, a);
        return Emit({CycleKind::Other, a.value, false, a.seq, a.us, "control register reads " + Byte(v8)});
      case 3:
        return Emit(
            {a.write ? CycleKind::EppAddressWrite : CycleKind::EppAddressRead, v8, false, a.seq, a.us, {}});
      case 4:
        return Emit({a.write ? CycleKind::EppDataWrite : CycleKind::EppDataRead,
                     a.word ? a.value : std::uint16_t{v8},
                     a.word,
                     a.seq,
                     a.us,
                     {}});
      case record::kEcrRegister:
        return Emit({CycleKind::Other, a.value, false, a.seq, a.us,
                     std::string("extended control register ") + (a.write ? ":= " : "reads ") + Byte(v8)});
      default:
        return Emit({CycleKind::Other, a.value, false, a.seq, a.us,
                     "port " + Hex(a.port, 4) + (a.write ? " := " : " reads ") +
                         (a.word ? Word(a.value) : Byte(v8))});
    }
  }

  // The adapter acts on the edges of the control lines.
  void ControlWrite(std::uint8_t value, const Access& a) {
    const std::uint8_t previous = control;
    control = value;
    if (value == previous) return;
    if (previous == control::kNibbleLow || previous == control::kNibbleHigh) {
      const bool completes = previous == control::kNibbleHigh && value == control::kReadLevel;
      const bool continues = previous == control::kNibbleLow && value == control::kNibbleHigh;
      if (continues) {
        nibble = Nibble::High;
        return;
      }
      if (completes && haveFirst && haveSecond) {
        const auto byte =
            static_cast<std::uint8_t>(((secondStatus << 1) & 0xF0) | ((firstStatus >> 3) & 0x0F));
        nibble = Nibble::None;
        return Emit({CycleKind::NibbleRead, byte, false, nibbleSeq, nibbleUs, {}});
      }
      nibble = Nibble::None;
      Emit({CycleKind::Other, value, false, a.seq, a.us, "nibble read left unfinished"});
    }
    if (previous == control::kWriteLevel && value == control::kAddressStrobe)
      return Emit({CycleKind::SppAddress, data, false, dataSeq ? dataSeq : a.seq, a.us, {}});
    if (previous == control::kWriteLevel && value == control::kDataStrobe)
      return Emit({CycleKind::SppData, data, false, dataSeq ? dataSeq : a.seq, a.us, {}});
    if (previous == control::kReadLevel && value == control::kNibbleLow) {
      nibble = Nibble::Low;
      nibbleSeq = a.seq;
      nibbleUs = a.us;
      haveFirst = haveSecond = false;
      return;
    }
    if (value == control::kReleased) return Emit({CycleKind::Release, value, false, a.seq, a.us, {}});
    // The read and write levels frame the cycles; anything else is no cycle the link drives.
    if (value == control::kReadLevel || value == control::kWriteLevel) return;
    Emit({CycleKind::Other, value, false, a.seq, a.us,
          "control " + Byte(value) + " after " + Byte(previous) + ": no cycle"});
  }

  void Emit(const Cycle& c) {
    if (level == Level::Cycles) Say(Level::Cycles, c.seq, c.us, CycleText(c));
    OnCycle(c);
  }

  static std::string CycleText(const Cycle& c) {
    switch (c.kind) {
      case CycleKind::SppAddress:
        return "SPP address " + Byte(c.value);
      case CycleKind::SppData:
        return "SPP data " + Byte(c.value);
      case CycleKind::NibbleRead:
        return "nibble read " + Byte(c.value);
      case CycleKind::EppAddressWrite:
        return "EPP address " + Byte(c.value);
      case CycleKind::EppAddressRead:
        return "EPP address read " + Byte(c.value);
      case CycleKind::EppDataWrite:
        return c.word ? "EPP data " + Word(c.value) + " (16-bit)" : "EPP data " + Byte(c.value);
      case CycleKind::EppDataRead:
        return c.word ? "EPP data read " + Word(c.value) + " (16-bit)" : "EPP data read " + Byte(c.value);
      case CycleKind::StatusWrite:
        return "status := " + Byte(c.value) + " (clears an EPP time-out)";
      case CycleKind::Release:
        return "control 0x04: released";
      case CycleKind::Other:
        return c.text;
    }
    return {};
  }

  // --- link: the adapter's registers ---------------------------------------------------------------
  std::uint8_t regs[5] = {0, 0, 0, 0, 0};
  int selected = -1;
  enum class Phase : std::uint8_t { Low, HighOfRead, HighOfWrite } phase = Phase::Low;
  std::uint8_t latch = 0;
  std::uint64_t latchSeq = 0, latchUs = 0;
  struct PendingRegister {
    std::uint8_t reg, value;
    std::uint64_t seq, us;
  };
  PendingRegister pending[8] = {};
  int pendingCount = 0;

  std::uint32_t RomAddress() const {
    return (std::uint32_t{regs[2]} << 16) | (std::uint32_t{regs[1]} << 8) | regs[0];
  }
  std::uint32_t SaveAddress() const { return (std::uint32_t{regs[1]} << 8) | regs[0]; }
  bool SaveMode() const { return (regs[4] & 0x80) != 0; }

  void OnCycle(const Cycle& c) {
    switch (c.kind) {
      case CycleKind::SppAddress:
      case CycleKind::EppAddressWrite:
        selected = c.value;
        phase = Phase::Low;
        return;
      case CycleKind::SppData:
      case CycleKind::EppDataWrite:
        if (c.word && selected == adapter::kData && !SaveMode()) {
          FlushRegisters();
          RomTransfer(OpKind::RomWrite, c.value, c.seq, c.us, false);
          return;
        }
        DataWrite(static_cast<std::uint8_t>(c.value), c.seq, c.us);
        if (c.word) DataWrite(static_cast<std::uint8_t>(c.value >> 8), c.seq, c.us);
        return;
      case CycleKind::NibbleRead:
      case CycleKind::EppDataRead: {
        const bool spp = c.kind == CycleKind::NibbleRead;
        if (c.word && selected == adapter::kData && !SaveMode()) {
          FlushRegisters();
          RomTransfer(OpKind::RomRead, c.value, c.seq, c.us, spp);
          return;
        }
        DataRead(static_cast<std::uint8_t>(c.value), c.seq, c.us, spp);
        if (c.word) DataRead(static_cast<std::uint8_t>(c.value >> 8), c.seq, c.us, spp);
        return;
      }
      case CycleKind::EppAddressRead:
        return EmitOp(
            {OpKind::Text, 0, c.value, 0, false, c.seq, c.us, "EPP address reads " + Byte(c.value)});
      case CycleKind::StatusWrite:
        return EmitOp({OpKind::Prepare, 0, c.value, 0, false, c.seq, c.us, {}});
      case CycleKind::Release:
        return EmitOp({OpKind::Release, 0, 0, 0, false, c.seq, c.us, {}});
      case CycleKind::Other:
        return EmitOp({OpKind::Text, 0, c.value, 0, false, c.seq, c.us, c.text});
    }
  }

  void DataWrite(std::uint8_t value, std::uint64_t seq, std::uint64_t us) {
    if (selected >= 0 && selected <= adapter::kAddressHigh) {
      regs[selected] = value;
      if (pendingCount == 8) FlushRegisters();
      pending[pendingCount++] = {static_cast<std::uint8_t>(selected), value, seq, us};
      return;
    }
    FlushRegisters();
    if (selected == adapter::kMode) {
      regs[adapter::kMode] = value;
      phase = Phase::Low;
      return EmitOp({OpKind::Mode, adapter::kMode, value, 0, false, seq, us, {}});
    }
    if (selected != adapter::kData)
      return EmitOp(
          {OpKind::Text, 0, value, 0, false, seq, us,
           "data " + Byte(value) + " into register " + std::to_string(selected) + ", which has none"});
    if (SaveMode()) {
      EmitOp({OpKind::SaveWrite, adapter::kData, value, SaveAddress(), false, seq, us, {}});
      ++regs[0];
      return;
    }
    if (phase == Phase::HighOfWrite) {
      phase = Phase::Low;
      RomTransfer(OpKind::RomWrite, static_cast<std::uint16_t>(latch | (value << 8)), latchSeq, latchUs,
                  false);
      return;
    }
    latch = value;
    latchSeq = seq;
    latchUs = us;
    phase = Phase::HighOfWrite;
  }

  void DataRead(std::uint8_t value, std::uint64_t seq, std::uint64_t us, bool spp) {
    FlushRegisters();
    if (selected != adapter::kData)
      return EmitOp({OpKind::RegisterRead, static_cast<std::uint8_t>(selected), value, 0, spp, seq, us, {}});
    if (SaveMode()) {
      EmitOp({OpKind::SaveRead, adapter::kData, value, SaveAddress(), spp, seq, us, {}});
      ++regs[0];
      return;
    }
    if (phase == Phase::HighOfRead) {
      phase = Phase::Low;
      RomTransfer(OpKind::RomRead, static_cast<std::uint16_t>(latch | (value << 8)), latchSeq, latchUs, spp);
      return;
    }
    latch = value;
    latchSeq = seq;
    latchUs = us;
    phase = Phase::HighOfRead;
  }

  void RomTransfer(OpKind kind, std::uint16_t value, std::uint64_t seq, std::uint64_t us, bool spp) {
    EmitOp({kind, adapter::kData, value, RomAddress(), spp, seq, us, {}});
    ++regs[0];
  }

  // Writes of the three address registers since the last transfer make one address load.
  void FlushRegisters() {
    if (pendingCount == 0) return;
    bool seen[3] = {false, false, false};
    for (int i = 0; i < pendingCount; ++i) seen[pending[i].reg] = true;
    const int count = pendingCount;
    pendingCount = 0;
    if (seen[0] && seen[1] && seen[2] && count == 3) {
      std::string order;
      for (int i = 0; i < count; ++i) order += (i ? ", " : "") + std::to_string(pending[i].reg);
      return EmitOp({OpKind::AddressLoad, 0, 0, RomAddress(), false, pending[0].seq, pending[0].us, order});
    }
    for (int i = 0; i < count; ++i)
      EmitOp({OpKind::RegisterWrite,
              pending[i].reg,
              pending[i].value,
              0,
              false,
              pending[i].seq,
              pending[i].us,
              {}});
  }

  void EmitOp(const Op& op) {
    if (level == Level::Link) Say(Level::Link, op.seq, op.us, OpText(op));
    if ((op.kind == OpKind::RomRead || op.kind == OpKind::SaveRead) && decoder.OnRead)
      decoder.OnRead(op.kind == OpKind::SaveRead, op.address, op.value);
    OnOp(op);
  }

  static std::string ModeText(std::uint8_t value) {
    std::string text = (value & 0x80) ? "save access" : "ROM access";
    return text + ((value & 0x40) ? ", SPP" : ", EPP");
  }

  static std::string OpText(const Op& op) {
    switch (op.kind) {
      case OpKind::AddressLoad:
        return "address " + Address(op.address) + " (registers " + op.text + ")";
      case OpKind::RegisterWrite:
        return "register " + std::to_string(op.reg) + " := " + Byte(op.value);
      case OpKind::RegisterRead:
        return "register " + std::to_string(op.reg) + " reads " + Byte(op.value);
      case OpKind::Mode:
        return "register 4 := " + Byte(op.value) + " (" + ModeText(static_cast<std::uint8_t>(op.value)) + ")";
      case OpKind::RomWrite:
        return "write " + Word(op.value) + " at " + Address(op.address);
      case OpKind::RomRead:
        return "read " + Word(op.value) + " at " + Address(op.address);
      case OpKind::SaveWrite:
        return "save write " + Byte(op.value) + " at " + Hex(op.address, 4);
      case OpKind::SaveRead:
        return "save read " + Byte(op.value) + " at " + Hex(op.address, 4);
      case OpKind::Prepare:
        return "status := " + Byte(op.value) + " (clears an EPP time-out)";
      case OpKind::Release:
        return "link released";
      case OpKind::Text:
        return op.text;
    }
    return {};
  }

  // --- cart: what the cart is told ------------------------------------------------------------------
  ChipMode chip = ChipMode::Array;
  bool addressLoaded = false;
  std::uint32_t loadedAddress = 0;
  int lastMode = -1;
  int saveBank = 0;
  // The control sequence being sent.
  bool inSequence = false;
  std::uint32_t sequenceWrites = 0;
  std::uint64_t sequenceSeq = 0, sequenceUs = 0;
  // Write to buffer: the set-up seen, the count, the data words, the confirm.
  enum class Buffer : std::uint8_t { None, WantCount, Data, WantConfirm } buffer = Buffer::None;
  std::uint32_t bufferAddress = 0;
  unsigned bufferWords = 0, bufferLeft = 0;
  std::uint64_t bufferSeq = 0, bufferUs = 0;
  bool eraseSetUp = false;
  std::uint32_t eraseAddress = 0;
  bool wordProgram = false;
  std::uint32_t wordProgramAddress = 0;

  // What is being summed up into one line.
  enum class Group : std::uint8_t { None, Reads, Writes, Polls, Buffers, Query, Save, AdapterTest };
  Group group = Group::None;
  std::uint64_t groupSeq = 0, groupUs = 0;
  std::uint32_t groupStart = 0, groupNext = 0;
  std::uint64_t groupCount = 0;
  bool groupSpp = false;
  bool saveWriting = false;
  std::vector<std::pair<std::uint8_t, std::uint64_t>> polls;  // status values in runs
  std::uint64_t bufferPolls = 0, bufferBusy = 0;
  std::uint8_t answer[0x40] = {};  // query answer, low bytes of the first words
  std::string testReads;
  bool testAgrees = true;

  void Cart(std::uint64_t seq, std::uint64_t us, std::string text) {
    Say(Level::Cart, seq, us, std::move(text));
  }

  void Start(Group g, std::uint64_t seq, std::uint64_t us) {
    FlushGroup();
    group = g;
    groupSeq = seq;
    groupUs = us;
    groupCount = 0;
  }

  static std::string PollText(const std::vector<std::pair<std::uint8_t, std::uint64_t>>& runs) {
    std::string text = "status";
    for (std::size_t i = 0; i < runs.size(); ++i) {
      if (i == 8 && runs.size() > 10) {
        text += ", ... (" + std::to_string(runs.size() - 9) + " more)";
        i = runs.size() - 1;
      }
      text += (i ? ", then " : " ") + Byte(runs[i].first);
      if (runs[i].second > 1) text += " x" + std::to_string(runs[i].second);
    }
    return text;
  }

  void FlushGroup() {
    const Group g = group;
    group = Group::None;
    switch (g) {
      case Group::None:
        return;
      case Group::Reads:
        return Cart(groupSeq, groupUs,
                    "read " + std::to_string(groupCount) + (groupCount == 1 ? " word at " : " words at ") +
                        Address(groupStart) + (groupCount > 1 ? "-" + Address(groupNext - 1) : ""));
      case Group::Writes:
        return Cart(groupSeq, groupUs,
                    "data " + std::to_string(groupCount) + (groupCount == 1 ? " word at " : " words at ") +
                        Address(groupStart) + (groupCount > 1 ? "-" + Address(groupNext - 1) : ""));
      case Group::Polls:
        Cart(groupSeq, groupUs, PollText(polls));
        polls.clear();
        return;
      case Group::Buffers: {
        std::string text = "write to buffer";
        if (groupCount > 1) text += " x" + std::to_string(groupCount);
        text += " at " + Address(groupStart) + "-" + Address(groupNext - 1) + " (" +
                std::to_string(bufferWords) + " words each, confirmed)";
        if (bufferPolls) text += ", status polls x" + std::to_string(bufferPolls);
        if (bufferBusy) text += " (" + std::to_string(bufferBusy) + " busy)";
        bufferPolls = bufferBusy = 0;
        return Cart(groupSeq, groupUs, text);
      }
      case Group::Query: {
        std::string text = "query answer, " + std::to_string(groupCount) + " words";
        if (groupCount > 0x12) {
          const bool signature = answer[0x10] == 'Q' && answer[0x11] == 'R' && answer[0x12] == 'Y';
          text += signature ? ": QRY" : ": no QRY";
        }
        if (groupCount > 1) {
          text += ", manufacturer " + Byte(answer[0]) + ", device " + Byte(answer[1]);
          if (summary.queryDevice < 0) summary.queryDevice = answer[1];
        }
        return Cart(groupSeq, groupUs, text);
      }
      case Group::Save:
        return Cart(groupSeq, groupUs,
                    std::string(saveWriting ? "save write" : "save read") + ", bank " +
                        std::to_string(saveBank) + ", " + Hex(groupStart, 4) + "-" + Hex(groupNext - 1, 4) +
                        " (" + std::to_string(groupCount) + " bytes)");
      case Group::AdapterTest:
        return Cart(groupSeq, groupUs,
                    std::string("adapter test over ") + (groupSpp ? "SPP" : "EPP") +
                        " reads: registers hold " + Address(groupStart) + ", read back" + testReads +
                        (testAgrees ? ": as written" : ": differs"));
    }
  }

  void Command(const Op& op, const char* what, bool showAddress = true) {
    FlushGroup();
    Cart(op.seq, op.us, std::string(what) + (showAddress ? " at " + Address(op.address) : ""));
  }

  void OnOp(const Op& op) {
    switch (op.kind) {
      case OpKind::AddressLoad:
        if (group == Group::AdapterTest) FlushGroup();
        addressLoaded = true;
        loadedAddress = op.address;
        return;
      case OpKind::RegisterWrite:
        FlushGroup();
        return Cart(op.seq, op.us, "register " + std::to_string(op.reg) + " := " + Byte(op.value));
      case OpKind::RegisterRead: {
        if (group != Group::AdapterTest) {
          Start(Group::AdapterTest, op.seq, op.us);
          groupStart = (std::uint32_t{regs[2]} << 16) | (std::uint32_t{regs[1]} << 8) | regs[0];
          groupSpp = op.spp;
          testReads.clear();
          testAgrees = true;
        }
        testReads += " " + Byte(op.value);
        if (op.reg > 2 || op.value != regs[op.reg]) testAgrees = false;
        return;
      }
      case OpKind::Mode:
        if (lastMode == op.value) return;
        lastMode = op.value;
        FlushGroup();
        return Cart(op.seq, op.us, ModeText(static_cast<std::uint8_t>(op.value)) + " mode");
      case OpKind::RomWrite:
        return RomWrite(op);
      case OpKind::RomRead:
        return RomRead(op);
      case OpKind::SaveWrite:
      case OpKind::SaveRead: {
        const bool writing = op.kind == OpKind::SaveWrite;
        if (group != Group::Save || saveWriting != writing || op.address != groupNext) {
          Start(Group::Save, op.seq, op.us);
          saveWriting = writing;
          groupStart = op.address;
        }
        ++groupCount;
        groupNext = op.address + 1;
        return;
      }
      case OpKind::Prepare:
        FlushGroup();
        return Cart(op.seq, op.us, "prepare link (status := " + Byte(op.value) + ")");
      case OpKind::Release:
        FlushGroup();
        return Cart(op.seq, op.us, "link released");
      case OpKind::Text:
        FlushGroup();
        return Cart(op.seq, op.us, op.text);
    }
  }

  void RomWrite(const Op& op) {
    const bool cartWrite = addressLoaded && op.address == loadedAddress;
    addressLoaded = false;
    const std::uint16_t v = op.value;
    if (inSequence) {
      ++sequenceWrites;
      if (cartWrite && (op.address == kEnableFlashAddress || op.address == kSelectBankAddress)) {
        inSequence = false;
        const std::string count = " (" + std::to_string(sequenceWrites) + " writes)";
        if (op.address == kEnableFlashAddress)
          return Cart(sequenceSeq, sequenceUs, "enable flash access" + count);
        saveBank = v;
        return Cart(sequenceSeq, sequenceUs, "select save bank " + std::to_string(v) + count);
      }
      if (cartWrite && SequenceAddress(op.address)) return;
      inSequence = false;
      Cart(sequenceSeq, sequenceUs,
           "control sequence broken off after " + std::to_string(sequenceWrites - 1) + " writes");
    }
    if (cartWrite && op.address == kSequenceStart && v == kSequenceStartValue) {
      FlushGroup();
      inSequence = true;
      sequenceWrites = 1;
      sequenceSeq = op.seq;
      sequenceUs = op.us;
      return;
    }
    switch (buffer) {
      case Buffer::WantCount:
        if (cartWrite && op.address == bufferAddress && (v & 0xFF) != 0xE8) {
          bufferWords = bufferLeft = (v & 0xFF) + 1u;
          buffer = Buffer::Data;
          return;
        }
        break;
      case Buffer::Data:
        if (--bufferLeft == 0) buffer = Buffer::WantConfirm;
        return;
      case Buffer::WantConfirm:
        buffer = Buffer::None;
        chip = ChipMode::Status;
        if ((v & 0xFF) == 0xD0) {
          ++summary.flash.writeToBuffer;
          if (group != Group::Buffers || bufferAddress != groupNext) {
            Start(Group::Buffers, bufferSeq, bufferUs);
            groupStart = bufferAddress;
          }
          ++groupCount;
          groupNext = bufferAddress + bufferWords;
          return;
        }
        FlushGroup();
        Cart(bufferSeq, bufferUs,
             "write to buffer at " + Address(bufferAddress) + " not confirmed: " + Word(v));
        break;
      case Buffer::None:
        break;
    }
    if (wordProgram) {
      wordProgram = false;
      ++summary.flash.wordProgram;
      chip = ChipMode::Status;
      FlushGroup();
      return Cart(op.seq, op.us, "word program " + Word(v) + " at " + Address(op.address));
    }
    switch (v & 0xFF) {
      case 0x98:
        ++summary.flash.cfiQuery;
        chip = ChipMode::Query;
        return Command(op, "CFI query");
      case 0x90:
        ++summary.flash.readIdentifier;
        chip = ChipMode::Identifier;
        return Command(op, "read identifier");
      case 0xFF:
        ++summary.flash.readArray;
        chip = ChipMode::Array;
        return Command(op, "read array");
      case 0x70:
        // Read status: the read that follows is a poll, summed up with the others.
        chip = ChipMode::Status;
        if (group != Group::Polls && group != Group::Buffers) Start(Group::Polls, op.seq, op.us);
        return;
      case 0x50:
        ++summary.flash.clearStatus;
        return Command(op, cartWrite ? "clear status" : "clear status (as a data transfer)");
      case 0x20:
        chip = ChipMode::Status;
        eraseSetUp = true;
        eraseAddress = op.address;
        return Command(op, ("block erase set-up, block " + std::to_string(op.address >> 16)).c_str());
      case 0xD0:
        chip = ChipMode::Status;
        if (eraseSetUp && op.address == eraseAddress) {
          eraseSetUp = false;
          ++summary.flash.blockErase;
          return Command(op, ("block erase confirm, block " + std::to_string(op.address >> 16)).c_str());
        }
        return Command(op, "confirm");
      case 0xE8:
        chip = ChipMode::Status;
        buffer = Buffer::WantCount;
        bufferAddress = op.address;
        bufferSeq = op.seq;
        bufferUs = op.us;
        return;
      case 0x40:
      case 0x10:
        wordProgram = true;
        wordProgramAddress = op.address;
        return Command(op, "word program set-up");
      default:
        break;
    }
    if (cartWrite) {
      FlushGroup();
      return Cart(op.seq, op.us, "write " + Word(v) + " at " + Address(op.address));
    }
    if (group != Group::Writes || op.address != groupNext) {
      Start(Group::Writes, op.seq, op.us);
      groupStart = op.address;
    }
    ++groupCount;
    groupNext = op.address + 1;
  }

  void RomRead(const Op& op) {
    addressLoaded = false;
    switch (chip) {
      case ChipMode::Array:
        if (group != Group::Reads || op.address != groupNext) {
          Start(Group::Reads, op.seq, op.us);
          groupStart = op.address;
        }
        ++groupCount;
        groupNext = op.address + 1;
        return;
      case ChipMode::Status: {
        const auto status = static_cast<std::uint8_t>(op.value);
        if (group == Group::Buffers) {
          ++bufferPolls;
          if ((status & 0x80) == 0) ++bufferBusy;
          return;
        }
        if (group != Group::Polls) Start(Group::Polls, op.seq, op.us);
        if (!polls.empty() && polls.back().first == status)
          ++polls.back().second;
        else
          polls.emplace_back(status, 1);
        return;
      }
      case ChipMode::Query:
      case ChipMode::Identifier:
        if (group != Group::Query) {
          Start(Group::Query, op.seq, op.us);
          groupStart = op.address;
        }
        if (groupCount < sizeof answer) answer[groupCount] = static_cast<std::uint8_t>(op.value);
        ++groupCount;
        return;
    }
  }

  void OnMark(const Event& e) {
    FlushRegisters();
    FlushGroup();
    std::string text;
    switch (e.mark) {
      case record::Mark::Begin:
        summary.commands.push_back({e.text, {}, {}, e.us, e.us, 0, false});
        text = "--- begin " + e.text;
        break;
      case record::Mark::End: {
        text = "--- end " + e.text;
        if (!summary.commands.empty() && !summary.commands.back().ended) {
          CommandSpan& c = summary.commands.back();
          c.ended = true;
          c.endUs = e.us;
          const std::string prefix = c.name + ": ";
          c.status = e.text.rfind(prefix, 0) == 0 ? e.text.substr(prefix.size()) : e.text;
        }
        break;
      }
      case record::Mark::Stopped:
        summary.stoppedAtLimit = true;
        text = "--- recording stopped: " + e.text;
        break;
      case record::Mark::Note:
        if (!summary.commands.empty() && !summary.commands.back().ended)
          summary.commands.back().link = e.text;
        text = "--- " + e.text;
        break;
    }
    if (sink) sink(DecodedLine{0, e.us, text});
  }

  void Finish() {
    FlushRegisters();
    FlushGroup();
    if (inSequence) {
      inSequence = false;
      Cart(sequenceSeq, sequenceUs,
           "control sequence cut off after " + std::to_string(sequenceWrites) + " writes");
    }
  }
};

Decoder::Decoder(Level level, Sink sink)
    : stages_(std::make_unique<Stages>(level, std::move(sink), summary_, *this)) {}
Decoder::~Decoder() = default;

void Decoder::Feed(const Event& event) {
  if (event.isMark)
    stages_->OnMark(event);
  else
    stages_->OnAccess(event.access);
}

void Decoder::Finish() { stages_->Finish(); }

std::string RawLine(const Access& a) {
  char offset[16];
  if (a.reg <= 4)
    std::snprintf(offset, sizeof offset, "%u", a.reg);
  else if (a.reg == record::kEcrRegister)
    std::snprintf(offset, sizeof offset, "0x402");
  else
    std::snprintf(offset, sizeof offset, "port:0x%04X", a.port);
  char text[96];
  std::snprintf(text, sizeof text, "%llu %llu %c %s %d 0x%0*X", static_cast<unsigned long long>(a.seq),
                static_cast<unsigned long long>(a.us), a.write ? 'W' : 'R', offset, a.word ? 16 : 8,
                a.word ? 4 : 2, a.value);
  return text;
}

}  // namespace brevomat::trace
