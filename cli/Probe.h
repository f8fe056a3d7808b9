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
// The expected duration of a command at a speed follows from the model, not from a table: the real
// cart code runs a part of each command (one 128 KB block written and verified, one 32 KB chunk read
// out twice, one block erased and checked, the save probe and one save unit backed up) at that
// speed's cycle types on a virtual adapter and chip whose clock advances by the measured cost of
// each access, and by the chip's busy times, which the status polls overlap as on the hardware. The
// part's time is scaled to the whole command.
#pragma once

#include <cstdint>
#include <string>

#include "cli/RunEvents.h"
#include "sim/FlashChip.h"

namespace brevomat {
struct Core;
}

namespace brevomat::cli {

// Port accesses by kind, as the probe counts them.
struct AccessCounts {
  std::uint64_t registerAccesses = 0;  // base+0 .. base+2
  std::uint64_t eppBytes = 0;          // base+3 .. base+7, byte wide
  std::uint64_t eppWords = 0;          // 16-bit accesses
};

// Microseconds per access of each kind.
struct AccessCosts {
  double registerUs = 0;
  double eppByteUs = 0;
  double eppWordUs = 0;
};

// The four commands the probe estimates.
enum class ProbedCommand { Write8M, ReadOut8M, Erase8M, SaveBackup256K };

// The seconds `command` takes at the Speed group's item `speedIndex` (0 = "4" .. 3 = "1") when the
// adapter answers in EPP (`epp`) or only in SPP, each access costing what `costs` says, with a chip
// of `timing`: a part of the command run on the virtual adapter, scaled to the whole.
double EstimateSeconds(ProbedCommand command, int speedIndex, bool epp, const sim::ChipTiming& timing,
                       const AccessCosts& costs);

// The probe on the core's port, whose addresses are set; logs what it finds and sets the result's
// figures. kResultDone, or kResultFailed when the adapter answers in no mode.
int RunProbe(Core& core, const sim::ChipTiming& timing, RunFigures& figures);

// The probe's figures for the doctor's speed check, once the doctor has found `speedIndex` the
// fastest speed that works (`epp`: in EPP cycles): the cost of each kind of access on this port
// and what it makes of an 8 MB write and read-out at that speed. Sets the same figures as the
// probe; writes only the adapter's address registers.
std::string DoctorSpeedFigures(Core& core, const sim::ChipTiming& timing, int speedIndex, bool epp,
                               RunFigures& figures);

}  // namespace brevomat::cli
