// probe: how fast the link between this PC and the adapter really is, and what that makes of each
// command.
//
// It finds out in which modes the adapter answers (the register read-back test of adapter
// detection, in SPP and in EPP), then times a few thousand adapter register writes and read-backs
// in each mode, and 16-bit accesses to the EPP data register, on the port's clock (the steady clock
// on real hardware, the modelled one on a virtual cart). From the times follow the microseconds of
// one access of each kind: a printer-port register (data, status, control), an EPP address or data
// byte, an EPP data word. Nothing but the adapter's address registers is written: no cart command
// is sent and nothing on the cart changes.
//
// The expected duration of a command at a speed is its port accesses of each kind times their
// measured cost, plus the flash chip's own busy time. The accesses are not a table of numbers: the
// real cart code runs a part of each command (one 128 KB block written and verified, one 32 KB
// chunk read out, one block erased, one save unit backed up) on a virtual adapter that counts them,
// at that speed's cycle types, and the part is scaled to the whole command.
#pragma once

#include <cstdint>

#include "cli/RunEvents.h"
#include "sim/FlashChip.h"

namespace brevomat {
struct Core;
}

namespace brevomat::cli {

// Port accesses by kind, and how long the flash chip is busy, for one command.
struct AccessCounts {
  std::uint64_t registerAccesses = 0;  // base+0 .. base+2
  std::uint64_t eppBytes = 0;          // base+3 .. base+7, byte wide
  std::uint64_t eppWords = 0;          // 16-bit accesses
  std::uint64_t chipNs = 0;            // erase and programming time of the chip
};

// Microseconds per access of each kind.
struct AccessCosts {
  double registerUs = 0;
  double eppByteUs = 0;
  double eppWordUs = 0;
};

inline double Seconds(const AccessCounts& counts, const AccessCosts& costs) {
  return (static_cast<double>(counts.registerAccesses) * costs.registerUs +
          static_cast<double>(counts.eppBytes) * costs.eppByteUs +
          static_cast<double>(counts.eppWords) * costs.eppWordUs) /
             1e6 +
         static_cast<double>(counts.chipNs) / 1e9;
}

// The four commands the probe estimates.
enum class ProbedCommand { Write8M, ReadOut8M, Erase8M, SaveBackup256K };

// The accesses of `command` at the Speed group's item `speedIndex` (0 = "4" .. 3 = "1") when the
// adapter answers in EPP (`epp`) or only in SPP, with a chip of `timing`.
AccessCounts CountAccesses(ProbedCommand command, int speedIndex, bool epp, const sim::ChipTiming& timing);

// The probe on the core's port, whose addresses are set; logs what it finds and sets the result's
// figures. kResultDone, or kResultFailed when the adapter answers in no mode.
int RunProbe(Core& core, const sim::ChipTiming& timing, RunFigures& figures);

}  // namespace brevomat::cli
