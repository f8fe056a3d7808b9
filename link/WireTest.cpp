#include "link/WireTest.h"

#include "link/Link.h"

namespace brevomat {

namespace {

constexpr std::uint8_t kControlProbe[6] = {control::kReadLevel,  control::kWriteLevel,
                                           control::kNibbleLow,  control::kReleased,
                                           control::kNibbleHigh, control::kAddressStrobe};

void UsePath(Link& link, WirePath path) {
  switch (path) {
    case WirePath::Spp:
      link.Mode = LinkMode::SPP;
      link.SpeedSetting = 3;
      return;
    case WirePath::EppByte:
      link.Mode = LinkMode::EPP;
      link.SpeedSetting = 1;
      return;
    case WirePath::EppWord:
      link.Mode = LinkMode::EPP;
      link.SpeedSetting = 0;
      return;
    case WirePath::Mixed:
      link.Mode = LinkMode::EPP;
      link.SpeedSetting = 2;
      return;
  }
}

// Every register write is preceded by a write of 0xFF to the same register. Should a fault send
// the writes to the cart data register instead (a register number spoiled on its way, an address
// strobe that never arrives), the cart gets words whose low byte, where the flash chip reads its
// commands, is 0xFF: read array, which changes nothing. A 16-bit write does the same in one access.
void RunPattern(Link& link, WirePath path, int pattern, WireObservation& o) {
  const auto dataPort = static_cast<std::uint32_t>(link.EppDataPort);
  for (int reg = 0; reg < 3; ++reg) {
    const std::uint8_t v = WireValue(pattern, reg);
    if (path == WirePath::EppWord) {
      // Both bytes of a 16-bit write land in the selected register, the high one last.
      link.SelectAdapterRegister(static_cast<std::uint8_t>(reg));
      link.Io().PortWriteWord(dataPort, static_cast<std::uint16_t>(0xFF | v << 8));
    } else {
      link.WriteAdapterRegister(static_cast<std::uint8_t>(reg), 0xFF);
      link.WriteAdapterData(v);
    }
  }
  for (int reg = 0; reg < 3; ++reg) {
    link.SelectAdapterRegister(static_cast<std::uint8_t>(reg));
    link.WriteControl(control::kReadLevel);
    std::uint8_t got = 0;
    if (path == WirePath::EppWord) {
      const std::uint16_t word = link.Io().PortReadWord(dataPort);
      got = static_cast<std::uint8_t>(word);
      if ((word >> 8) != got) o.wordHalvesDiffer = true;
    } else {
      got = link.ReadAdapterByte();
    }
    o.read[static_cast<int>(path)][pattern][reg] = got;
  }
}

// The control register read back after each level the link's own cycles use, in an order that
// keeps to the handshake: the address strobe selects register 0 (the data lines hold 0), the
// nibble read presents register 0; nothing is written.
void ProbeControlLines(Link& link, WireObservation& o) {
  const auto controlPort = static_cast<std::uint32_t>(link.ControlPort);
  link.WriteControl(control::kWriteLevel);
  link.Io().PortWriteByte(static_cast<std::uint32_t>(link.DataPort), 0);
  const std::uint8_t sequence[] = {control::kReadLevel,  control::kWriteLevel, control::kAddressStrobe,
                                   control::kWriteLevel, control::kReadLevel,  control::kNibbleLow,
                                   control::kNibbleHigh, control::kReadLevel,  control::kReleased};
  for (int p = 0; p < kWirePatterns; ++p) {
    link.Io().PortWriteByte(static_cast<std::uint32_t>(link.DataPort), WirePattern(p));
    o.dataRead[p] = link.Io().PortReadByte(static_cast<std::uint32_t>(link.DataPort));
  }
  link.Io().PortWriteByte(static_cast<std::uint32_t>(link.DataPort), 0);
  for (const std::uint8_t value : sequence) {
    link.WriteControl(value);
    const std::uint8_t got = link.Io().PortReadByte(controlPort);
    for (int i = 0; i < 6; ++i) {
      if (kControlProbe[i] != value) continue;
      o.controlWritten[i] = value;
      o.controlRead[i] = static_cast<std::uint8_t>(got & 0x0F);
    }
  }
}

// --- the decoder ---------------------------------------------------------------------------------

struct PathAnalysis {
  bool ok = true;
  bool answers = false;
  bool frozen = true;         // every register reads the same whatever was written
  bool selectBroken = true;   // every register reads what was written last (register 2)
  bool nibbleDoubled = true;  // the low nibble came back in both halves
};

PathAnalysis Analyse(const std::uint8_t (&read)[kWirePatterns][3]) {
  PathAnalysis a;
  for (int p = 0; p < kWirePatterns; ++p) {
    for (int reg = 0; reg < 3; ++reg) {
      const std::uint8_t w = WireValue(p, reg), r = read[p][reg];
      if (r != w) a.ok = false;
      if (r != 0xFF) a.answers = true;
      if (r != read[0][reg]) a.frozen = false;
      if (r != WireValue(p, 2)) a.selectBroken = false;
      if (r != ((w & 0x0F) | (w & 0x0F) << 4)) a.nibbleDoubled = false;
    }
  }
  if (a.ok) a.frozen = a.selectBroken = a.nibbleDoubled = false;
  return a;
}

// A single fault of the data or status lines, and what it makes of every read-back: the data
// lines spoil what is written, the register numbers of the address cycles and what EPP reads;
// a status line spoils two bits of each nibble read.
struct Candidate {
  std::uint8_t low = 0, high = 0, shorted = 0;  // data lines
  int status = -1;                              // status line k (bits k, k+4 of a nibble read)
  bool statusHigh = false;
  std::uint8_t Lines(std::uint8_t v) const {
    if (shorted != 0 && (v & shorted) != shorted) v = static_cast<std::uint8_t>(v & ~shorted);
    return static_cast<std::uint8_t>((v & ~low) | high);
  }
};

// True when every read-back the candidate can predict is what came back. A read of a register the
// spoiled number does not reach (the cart data register, or none) predicts nothing.
bool Explains(const Candidate& c, const WireObservation& o, const bool (&answers)[kWirePathCount]) {
  for (int path = 0; path < kWirePathCount; ++path) {
    if (!answers[path]) continue;
    int predicted = 0;
    int regs[3] = {-1, -1, -1};  // what each register holds, -1 unknown
    for (int p = 0; p < kWirePatterns; ++p) {
      for (int reg = 0; reg < 3; ++reg) {
        const std::uint8_t target = c.Lines(static_cast<std::uint8_t>(reg));
        if (target < 3) regs[target] = c.Lines(WireValue(p, reg));
      }
      for (int reg = 0; reg < 3; ++reg) {
        const std::uint8_t source = c.Lines(static_cast<std::uint8_t>(reg));
        if (source >= 3 || regs[source] < 0) continue;
        auto expected = static_cast<std::uint8_t>(regs[source]);
        if (c.status >= 0) {
          if (path != static_cast<int>(WirePath::Spp)) {
            expected = WireValue(p, reg);
          } else {
            const auto pair = static_cast<std::uint8_t>((1u << c.status) | (1u << (c.status + 4)));
            expected = static_cast<std::uint8_t>(c.statusHigh ? expected | pair : expected & ~pair);
          }
        }
        if (o.read[path][p][reg] != expected) return false;
        ++predicted;
      }
    }
    if (predicted == 0) return false;  // a fault that reaches no register explains nothing here
  }
  return true;
}

// The data pins as the PC reads them back: the one single data-line fault they show, if any.
bool DataPinEvidence(const WireObservation& o, Candidate& found) {
  bool clean = true;
  for (int p = 0; p < kWirePatterns; ++p) clean = clean && o.dataRead[p] == WirePattern(p);
  if (clean) return false;
  const auto fits = [&o](const Candidate& c) {
    for (int p = 0; p < kWirePatterns; ++p)
      if (o.dataRead[p] != c.Lines(WirePattern(p))) return false;
    return true;
  };
  for (int bit = 0; bit < 8; ++bit) {
    for (int level = 0; level < 2; ++level) {
      Candidate c;
      (level != 0 ? c.high : c.low) = static_cast<std::uint8_t>(1u << bit);
      if (fits(c)) {
        found = c;
        return true;
      }
    }
  }
  for (int x = 0; x < 8; ++x) {
    for (int y = x + 1; y < 8; ++y) {
      Candidate c;
      c.shorted = static_cast<std::uint8_t>((1u << x) | (1u << y));
      if (fits(c)) {
        found = c;
        return true;
      }
    }
  }
  return false;
}

struct LineInfo {
  const char* name;
  int pin;
};
constexpr LineInfo kDataLines[8] = {{"D0", 2}, {"D1", 3}, {"D2", 4}, {"D3", 5},
                                    {"D4", 6}, {"D5", 7}, {"D6", 8}, {"D7", 9}};
// Status bits 3..6, which carry bits k and k+4 of a nibble-read byte.
constexpr LineInfo kStatusLines[4] = {{"ERROR", 15}, {"SELECT", 13}, {"PAPEREND", 12}, {"ACK", 10}};
// Control bits 0..3; all but INIT are inverted at the connector.
constexpr LineInfo kControlLines[4] = {{"STROBE", 1}, {"AUTOFD", 14}, {"INIT", 16}, {"SELECTIN", 17}};

LineFault Fault(const LineInfo& line, const char* kind) { return {line.name, line.pin, kind, ""}; }

// A control line whose read-back never follows what was written, or none. More than one such line
// means nothing answers at this address at all (a missing port reads 0xFF), which is no line's
// fault.
bool ControlEvidence(const WireObservation& o, LineFault& fault) {
  int found = 0;
  for (int bit = 0; bit < 4; ++bit) {
    int ones = 0, zeros = 0, follows = 0;
    for (int i = 0; i < 6; ++i) {
      const int r = (o.controlRead[i] >> bit) & 1;
      (r != 0 ? ones : zeros)++;
      if (r == ((o.controlWritten[i] >> bit) & 1)) ++follows;
    }
    if (follows == 6 || (ones != 0 && zeros != 0)) continue;
    // The bit's level in the register, as the pin shows it.
    const bool setBit = ones != 0;
    const bool pinHigh = bit == 2 ? setBit : !setBit;
    fault = Fault(kControlLines[bit], pinHigh ? "stuck-high" : "stuck-low");
    ++found;
  }
  return found == 1;
}

}  // namespace

const char* WirePathName(WirePath path) {
  switch (path) {
    case WirePath::Spp:
      return "SPP cycles with nibble reads";
    case WirePath::EppByte:
      return "EPP cycles with byte reads";
    case WirePath::EppWord:
      return "EPP 16-bit data cycles";
    case WirePath::Mixed:
      return "SPP writes with EPP reads";
  }
  return "";
}

std::uint8_t WirePattern(int index) {
  if (index < 8) return static_cast<std::uint8_t>(1u << index);
  if (index < 16) return static_cast<std::uint8_t>(~(1u << (index - 8)));
  constexpr std::uint8_t kRest[4] = {0x00, 0xFF, 0x55, 0xAA};
  return kRest[(index - 16) & 3];
}

std::uint8_t WireValue(int pattern, int reg) {
  const std::uint8_t p = WirePattern(pattern);
  if (reg == 0) return p;
  if (reg == 1) return static_cast<std::uint8_t>(~p);
  return static_cast<std::uint8_t>(p << 3 | p >> 5);
}

WireObservation RunWireTest(Link& link) {
  const LinkMode mode = link.Mode;
  const std::int8_t speed = link.SpeedSetting;
  WireObservation o;
  ProbeControlLines(link, o);
  for (int path = 0; path < kWirePathCount; ++path) {
    UsePath(link, static_cast<WirePath>(path));
    for (int p = 0; p < kWirePatterns; ++p) RunPattern(link, static_cast<WirePath>(path), p, o);
  }
  link.ReleaseLink();
  link.Mode = mode;
  link.SpeedSetting = speed;
  return o;
}

std::string DescribeFault(const LineFault& f) {
  const std::string line = f.line + " (pin " + std::to_string(f.pin) + ")";
  if (f.kind == "shorted") {
    for (const LineInfo& other : kDataLines)
      if (f.with == other.name)
        return line + " and " + f.with + " (pin " + std::to_string(other.pin) + ") shorted";
    return line + " shorted with " + f.with;
  }
  if (f.kind == "stuck-low") return line + " stuck low";
  if (f.kind == "stuck-high") return line + " stuck high";
  return line + " open";
}

WireVerdict DecodeWires(const WireObservation& o) {
  WireVerdict v;
  PathAnalysis a[kWirePathCount];
  for (int path = 0; path < kWirePathCount; ++path) {
    a[path] = Analyse(o.read[path]);
    v.pathOk[path] = a[path].ok && !(path == static_cast<int>(WirePath::EppWord) && o.wordHalvesDiffer);
    v.pathAnswers[path] = a[path].answers;
  }
  const PathAnalysis& spp = a[static_cast<int>(WirePath::Spp)];
  const PathAnalysis* epp[3] = {&a[1], &a[2], &a[3]};
  bool allOk = true, anyAnswer = false, eppAnswers = false, eppOk = true;
  for (int path = 0; path < kWirePathCount; ++path) {
    allOk = allOk && v.pathOk[path];
    anyAnswer = anyAnswer || a[path].answers;
  }
  for (const PathAnalysis* e : epp) {
    eppAnswers = eppAnswers || e->answers;
    if (e->answers && !e->ok) eppOk = false;
  }
  if (allOk) return v;

  // The control register shows its pins on a standard port: the most direct evidence.
  if (LineFault control; ControlEvidence(o, control)) {
    v.faults.push_back(control);
    return v;
  }
  if (Candidate pins; DataPinEvidence(o, pins)) {
    int bits[2] = {-1, -1}, n = 0;
    const std::uint8_t mask = pins.shorted | pins.low | pins.high;
    for (int b = 0; b < 8; ++b)
      if ((mask >> b) & 1) bits[n++] = b;
    LineFault f = Fault(kDataLines[bits[0]], pins.shorted != 0 ? "shorted"
                                             : pins.low != 0   ? "stuck-low"
                                                               : "stuck-high");
    if (pins.shorted != 0) f.with = kDataLines[bits[1]].name;
    v.faults.push_back(f);
    return v;
  }
  if (!anyAnswer) {
    v.noAnswer = true;
    return v;
  }
  // Reads work but no write ever lands: the adapter never sees a write cycle.
  // (Without an EPP answer to compare, a stuck AUTOFD looks the same in SPP.)
  bool frozen = spp.frozen && spp.answers && eppAnswers;
  for (const PathAnalysis* e : epp) frozen = frozen && (!e->answers || e->frozen);
  if (frozen) {
    v.faults.push_back(Fault(kControlLines[0], "stuck-high"));
    return v;
  }
  // No register can be selected: the address strobe never arrives.
  if (spp.answers && spp.selectBroken) {
    v.faults.push_back(Fault(kControlLines[3], "stuck-high"));
    return v;
  }
  if (!spp.answers) {
    for (const PathAnalysis* e : epp) {
      if (e->answers && e->selectBroken) {
        v.faults.push_back(Fault(kControlLines[3], "stuck-low"));
        return v;
      }
    }
  }
  // The high nibble never presented: INIT does not rise.
  if (spp.answers && spp.nibbleDoubled && eppOk) {
    v.faults.push_back(Fault(kControlLines[2], "stuck-low"));
    return v;
  }
  // Data and status lines: the one single fault that explains every read-back.
  bool answers[kWirePathCount];
  for (int path = 0; path < kWirePathCount; ++path) answers[path] = a[path].answers;
  if (spp.answers) {
    for (int bit = 0; bit < 8; ++bit) {
      for (int level = 0; level < 2; ++level) {
        Candidate c;
        (level != 0 ? c.high : c.low) = static_cast<std::uint8_t>(1u << bit);
        if (Explains(c, o, answers)) {
          v.faults.push_back(Fault(kDataLines[bit], level != 0 ? "stuck-high" : "stuck-low"));
          return v;
        }
      }
    }
    for (int x = 0; x < 8; ++x) {
      for (int y = x + 1; y < 8; ++y) {
        Candidate c;
        c.shorted = static_cast<std::uint8_t>((1u << x) | (1u << y));
        if (Explains(c, o, answers)) {
          LineFault f = Fault(kDataLines[x], "shorted");
          f.with = kDataLines[y].name;
          v.faults.push_back(f);
          return v;
        }
      }
    }
    for (int k = 0; k < 4; ++k) {
      for (int level = 0; level < 2; ++level) {
        Candidate c;
        c.status = k;
        c.statusHigh = level != 0;
        if (Explains(c, o, answers)) {
          v.faults.push_back(Fault(kStatusLines[k], level != 0 ? "stuck-high" : "stuck-low"));
          return v;
        }
      }
    }
  }
  // A port without working EPP registers leaves the EPP paths silent; that is the port's mode, not
  // a wire, and the SPP path alone shows the wires.
  if (spp.ok && !eppAnswers) return v;
  v.unexplained = true;
  return v;
}

}  // namespace brevomat
