// brevomat-cli from argument list to exit status.
#pragma once

#include "cli/CliCommands.h"
#include "cli/CliOptions.h"

namespace brevomat::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // failed, declined or stopped
inline constexpr int kExitUsage = 2;   // bad command line; nothing was touched

// Descriptors 0, 1 and 2 that the program was started without are opened on the null device,
// read-only, before any other file: so no file the program opens (a run log, the cart's lock, a
// backup) becomes one of them, and a write to a standard stream that was closed still fails.
void OccupyClosedStandardStreams();

// The whole program: parse, open the back end (the virtual cart or the printer port), run the
// command, write the virtual cart back, report. Returns the exit status. With --json, standard
// output ends with exactly one result event, whose exit is the one returned, whatever ends the
// run (a usage error, --help, a refusal, an exception, a stop).
int RunProgram(int argc, char** argv);

}  // namespace brevomat::cli
