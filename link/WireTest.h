// The wire test: patterns written into the adapter's address registers 0..2 and read back through
// every kind of cycle the speeds use, and the decoder that names the line of the 25-pin connector
// a failure points to.
//
// Registers 0..2 are plain latches that read back; nothing on the cart reacts to them until a
// transfer through register 3, which the test never selects for a data cycle. So the patterns
// can test every wire without touching the flash or the save memory.
//
// How a fault shows depends on the cycle type:
//  - a data line D0..D7 stuck or two of them shorted corrupt writes and EPP reads alike, so the
//    same bit is wrong through every path;
//  - a status line (ERROR, SELECT, PAPEREND, ACK) carries one bit of each nibble: a stuck one
//    spoils bits k and k+4 of the nibble reads and nothing in EPP; BUSY carries no data;
//  - a control line that cannot move breaks the strobes: STROBE held high lets nothing be written,
//    SELECTIN no register be selected, INIT held low leaves the high nibble unseen. Where the
//    cycles cannot tell a line from an absent adapter (a data line that spoils every register
//    number, a control line that stops every cycle), the data and control registers' read-back,
//    which shows the pins on a standard port, can.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brevomat {

class Link;

// The ways the speeds reach registers 0..2.
enum class WirePath : std::uint8_t {
  Spp,      // SPP address and data cycles, nibble reads: speed "1" and an adapter found only in SPP
  EppByte,  // EPP address and data cycles, byte reads: speeds "4" and "3"
  EppWord,  // 16-bit EPP data writes and reads: speed "4"
  Mixed,    // SPP writes, EPP address cycles and byte reads: speed "2"
};
inline constexpr int kWirePathCount = 4;
const char* WirePathName(WirePath path);

// The patterns: each bit alone, each bit missing, 0x00, 0xFF, 0x55, 0xAA. Register 0 gets the
// pattern, register 1 its complement, register 2 the pattern turned by three bits, so that the
// three registers always hold different values and a register that is not selected shows.
inline constexpr int kWirePatterns = 20;
std::uint8_t WirePattern(int index);
std::uint8_t WireValue(int pattern, int reg);

// What came back.
struct WireObservation {
  std::uint8_t read[kWirePathCount][kWirePatterns][3] = {};
  bool wordHalvesDiffer = false;  // a 16-bit read gave two different bytes of one register
  // The control register read back after each of the values 0, 1, 2, 4, 6, 9 was written (the
  // levels and strobes of the link's own cycles): bits 0..3 for each.
  std::uint8_t controlWritten[6] = {};
  std::uint8_t controlRead[6] = {};
  // The data register read back after each pattern was written to it (the pins, on a standard
  // port); no strobe is given, so the adapter takes nothing.
  std::uint8_t dataRead[kWirePatterns] = {};
};

// Runs the patterns through every path on the link's port; the link's mode and speed are left as
// they were. Only registers 0..2 are written; register 3 is never selected.
WireObservation RunWireTest(Link& link);

// One named line of the connector and what is wrong with it.
struct LineFault {
  std::string line;  // "D3", "ACK", "SELECTIN"
  int pin = 0;       // on the 25-pin connector
  std::string kind;  // "stuck-low", "stuck-high", "shorted", "open"
  std::string with;  // the other line of a short, else empty
  bool operator==(const LineFault&) const = default;
};
// "D3 (pin 5) stuck low", "D4 (pin 6) and D5 (pin 7) shorted".
std::string DescribeFault(const LineFault& fault);

struct WireVerdict {
  bool pathOk[kWirePathCount] = {};
  bool pathAnswers[kWirePathCount] = {};  // read anything but the floating bus
  std::vector<LineFault> faults;
  // Nothing answers in any cycle and no line could be named: no adapter, no power, or a cable
  // that is not plugged in.
  bool noAnswer = false;
  // Some path failed in a way no single line explains.
  bool unexplained = false;
};

// Turns an observation into named lines. Pure.
WireVerdict DecodeWires(const WireObservation& observation);

}  // namespace brevomat
