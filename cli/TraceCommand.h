// brevomat-cli trace FILE: a record of port accesses (--trace) decoded, listed or checked against
// the model of the hardware. Nothing is opened but the record.
#pragma once

#include "cli/CliOptions.h"

namespace brevomat::cli {

// Returns the exit status: 0 decoded (or the check agrees), 1 unreadable (or hardware and model
// part).
int RunTraceCommand(const CliOptions& options);

}  // namespace brevomat::cli
