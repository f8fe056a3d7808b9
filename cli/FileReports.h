// What brevomat-cli says on standard error about the files of a command, beyond the log's
// "File Open Error!!!": which file and why, where the data of an unfinished read-out went, where
// write-save kept the save it replaced.
#pragma once

#include <string>

#include "cli/CliOptions.h"

namespace brevomat {
struct Core;
}

namespace brevomat::cli {

// Makes the virtual cart's own files (cart.conf, flash.bin, rom.bin, save.bin in `dir`) files no
// backup may be written to.
void ProtectCartFiles(const std::string& dir);
// A backup's file that cannot hold it (a directory, FIFO, device, a file of the cart) is refused
// before the cart is opened, with the reason. False then.
bool OutputUsable(const CliOptions& options);
// Why the run log `log` cannot be kept in that file, or the empty text: it is one of the command's
// own files, which the run would spoil (a backup renamed over the log, the log appended to the save
// a write-save puts on the cart). Compared as the same path once made absolute and normal, and as
// the same file on the disk (another spelling, a hard link). Looks only.
std::string RunLogClash(const std::string& log, const CliOptions& options);
// The same for the record of the port accesses (--trace), which must not be the run log either.
std::string TraceClash(const std::string& trace, const CliOptions& options);
// write-save keeps the save it replaces in the user's data folder, as the window does, unless
// --no-keep.
void SetUpKeptSaves(Core& core, const CliOptions& options);

// The file behind the last "File Open Error!!!" and the system's reason; multi names the game.
void ReportOpenFailure(const Core& core, const CliOptions& options);
// A backup or backup-save that did not complete: its file is as it was, and the data read so far
// is in NAME.part (or nothing was kept).
void ReportUnfinishedOutput(const Core& core, const CliOptions& options);
// write-save: where the replaced save is kept, or why it could not be (nothing was written then).
void ReportKeptSave(const Core& core);

// The text of the closing "status: " line. A run that fails never ends on a success text nor on
// the empty status a successful Backup Saver leaves: it then says "Error!!!" unless the status
// already names an error.
std::string FinalStatus(const std::string& status, bool ok);

}  // namespace brevomat::cli
