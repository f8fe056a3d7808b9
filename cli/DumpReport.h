// What brevomat-cli says on standard error about the data a backup or a verify has read: the
// checksums, the used size, the game's name from a DAT file, and the trimmed file of --trim
// (dump/Trim.h).
#pragma once

#include <cstdint>
#include <string>

#include "cli/CliOptions.h"
#include "cli/RunEvents.h"
#include "dump/Dat.h"
#include "dump/DumpDigest.h"

namespace brevomat::cli {

// What the DAT files said about a read-out (Backup Game looked the game up).
struct DatVerdict {
  std::string source;      // the DAT file or folder consulted; empty: none was
  std::string game;        // the game listed for the read-out; empty: none
  std::uint64_t size = 0;  // the size at which it is listed
};

// After a backup whose file holds the whole read-out: trims the file when asked, then prints
// "crc32: ", "sha1: ", "md5: ", "sha256: " (of the trimmed file when it was trimmed, which a line
// before them says), "used: N bytes" when the game ends early, and "dat: " with the verdict of
// the DAT files. Each goes into `figures` as well (the checksums by their names, "used_bytes",
// "trimmed_bytes", "dat"). False when the checksums could not be computed or the trim failed (the
// file then keeps the whole read-out, and standard error says why).
bool ReportBackupData(DumpDigest& digest, const CliOptions& options, const DatVerdict& dat,
                      RunFigures& figures);

// "used: N bytes" when the data read ends in 0xFF or a mirror of its start; nothing otherwise.
void ReportUsed(const DumpDigest& digest, RunFigures& figures);

}  // namespace brevomat::cli
