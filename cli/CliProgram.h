// brevomat-cli from argument list to exit status.
#pragma once

#include "cli/CliOptions.h"

namespace brevomat {
struct Core;
}

namespace brevomat::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // failed, declined or stopped
inline constexpr int kExitUsage = 2;   // bad command line; nothing was touched

// The five port addresses: from --base, otherwise from --port as the window derives them.
void SelectPort(Core& core, const CliOptions& options);

// Runs the chosen command through the core, whose port is already attached and whose port
// addresses are set. Returns the handler's result (kResultDone, kResultCancelled, kResultFailed).
int RunCommand(Core& core, const CliOptions& options);

// The whole program: parse, open the back end (the virtual cart or the printer port), run the
// command, write the virtual cart back, report. Returns the exit status.
int RunProgram(int argc, char** argv);

}  // namespace brevomat::cli
