// The commands of brevomat-cli: one table that names each command, its arguments and options, its
// lines of --help, the window command it runs and what it reports besides the log.
#pragma once

#include <memory>

#include "cli/CliOptions.h"
#include "cli/DumpReport.h"
#include "cli/RunEvents.h"
#include "commands/Doctor.h"
#include "dump/Dat.h"
#include "dump/DumpDigest.h"

namespace brevomat {
struct Core;
namespace sim {
class VirtualCart;
}
}  // namespace brevomat

namespace brevomat::cli {

// One command's run: what it was given, what it works on and what it leaves for the result.
struct CommandRun {
  CommandRun(const CliOptions& given, RunFigures& results) : options(given), figures(results) {}
  const CliOptions& options;
  RunFigures& figures;
  Core* core = nullptr;
  sim::VirtualCart* cart = nullptr;  // the virtual cart, or nullptr on the printer port
  std::unique_ptr<DatFile> dat;      // backup --dat, loaded by the check
  DatVerdict datVerdict;             // which DAT a backup consulted, and what it found
  // The data a verify reads, digested chunk by chunk as it is confirmed (a backup digests its own).
  std::unique_ptr<DumpDigest> digest = std::make_unique<DumpDigest>();
  DoctorSetup doctorSetup;    // doctor: how the port is reached, set when the back end is opened
  DoctorReport doctorReport;  // doctor: what it found
};

// The five port addresses: from --base, otherwise from --port as the window derives them.
void SelectPort(Core& core, const CliOptions& options);

}  // namespace brevomat::cli
