// The doctor: when a real adapter does not answer, it finds out why. It checks, in order, how the
// port is reached, what mode the port is in, whether the adapter answers as detection asks it,
// every wire of the cable (link/WireTest.h), the cart, and which speeds work.
//
// It writes nothing into the flash or the save memory: the wire test writes only the adapter's
// address registers 0..2; detection sets the access mode as every command does; the cart check
// sends only the enable sequence, the query and read commands, and runs only once the wires have
// passed, so that a spoiled line cannot turn a query into another command.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "link/WireTest.h"

namespace brevomat {

struct Core;

enum class CheckResult : std::uint8_t { Ok, Fault, Skipped };
const char* CheckResultText(CheckResult result);  // "ok", "FAULT", "skipped"

struct DoctorCheck {
  std::string name;  // "port-access", "port", "adapter", "wires", "cart", "speed"
  CheckResult result = CheckResult::Skipped;
  std::string detail;
};

// What the front end knows of the port before the doctor runs.
struct DoctorSetup {
  bool portOpen = true;
  std::string portAccess;  // the back end in use, or (portOpen false) why none could be opened
  // The extended control register at base+0x402 can be read through the back end (the virtual
  // cart, the Windows drivers, iopl); ioperm opens only the eight registers, the kernel's device
  // none beyond them.
  bool ecrReachable = false;
  // Where the kernel describes its parallel ports ("/"), when the port is reached through the
  // kernel's device; empty otherwise.
  std::string kernelRoot;
  // The probe's figures for the speed check, given the fastest speed that works and whether it
  // runs EPP cycles there: how long the accesses take on this port and what that makes of the
  // commands. Not set: the speed check names the speeds only.
  std::function<std::string(int speedIndex, bool epp)> speedFigures;
};

struct DoctorReport {
  std::vector<DoctorCheck> checks;
  std::vector<LineFault> faults;
  std::vector<std::string> advice;
  int fastestSpeed = -1;  // the Speed group's item index (0 = "4"), -1 when no speed works
  bool Passed() const;
};

// "NAME: ok - detail".
std::string DoctorLine(const DoctorCheck& check);
// The whole report as the log shows it: a line per check, the verdict, a line per advice.
std::vector<std::string> DoctorReportLines(const DoctorReport& report);
// The Speed group's caption of an item index: "4", "3", "2", "1".
const char* SpeedCaption(int speedIndex);

// Runs every check on the core's port, logs one line per check, the verdict and the advice, and
// sets the status ("Doctor Ok" or "Error!!!").
DoctorReport RunDoctor(Core& core, const DoctorSetup& setup);

}  // namespace brevomat
