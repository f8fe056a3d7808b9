// Naming a read-out from DAT files: the lookup in one DAT file, and the user's DAT folder, whose
// files every Backup Game consults without a file dialog.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "dump/Dat.h"
#include "dump/DumpDigest.h"

namespace brevomat {

// The folder a user puts DAT files in: $XDG_DATA_HOME/brevomat/dat (by default
// ~/.local/share/brevomat/dat), on Windows %APPDATA%\brevomat\dat. Empty when the environment
// names no data folder.
std::string DefaultDatFolder();

// A game a DAT lists for the read-out: the whole read-out, or its first `size` bytes.
struct DatMatch {
  const std::string* game = nullptr;  // nullptr: no match
  std::uint64_t size = 0;
};

// The DAT's verdict on the whole read-out first, then on each power-of-two prefix, largest first:
// a game of the whole size is the better answer, and of the prefixes the largest one that is
// listed is the game's own size.
DatMatch LookUpDump(const DatFile& dat, const DumpDigest& digest, const Digests& whole);

struct DatFolderResult {
  int datFiles = 0;        // DAT files found in the folder (read or not)
  bool found = false;      // a game matched
  std::string game;        // its name
  std::uint64_t size = 0;  // the size at which it matched
  std::string datFile;     // the DAT file that lists it
  bool stopped = false;    // the lookup was asked to stop
};

// Looks the read-out up in the DAT files of `folder` (the files named *.dat or *.xml, in the order
// of their names), one loaded at a time; the first file that lists it names the game. A file that
// cannot be used is handed to `unreadable` with the reason and skipped. No folder is no DAT file.
DatFolderResult LookUpInDatFolder(const std::string& folder, const DumpDigest& digest, const Digests& whole,
                                  const std::function<void(const std::string& why)>& unreadable,
                                  const DatFile::StopCheck& stop = {});

}  // namespace brevomat
