// One of each piece of state the program has, created once and handed to every command handler.
//
// A test builds a fresh set in one line: `Core core(window);` then attaches a port back end.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/Operation.h"
#include "base/Window.h"
#include "cart/CartState.h"
#include "commands/SettingsRecord.h"
#include "dump/Dat.h"
#include "dump/DumpDigest.h"
#include "image/Ips.h"
#include "link/Link.h"
#include "port/Port.h"

namespace brevomat {

struct Core {
  explicit Core(Window& window);
  Core(const Core&) = delete;
  Core& operator=(const Core&) = delete;

  PortIo port;
  Link link;
  OperationFrame frame;
  CartState cart;
  IpsPatch ips;
  SettingsRecord settings;

  bool FirstCommand = true;
  // Results of the two selection dialogs: the size Backup Game chose last (0 when none), and
  // the bank and size the save commands chose last (nothing after CANCEL). A Form3 closed with
  // its close box leaves the previous choice standing, "Bank 1" and "32K" before the first.
  std::int32_t CartSizeChunks = 0;
  std::optional<SaveChoice> SaveSelection = SaveChoice{};

  // Write Saver first keeps the save memory it is about to replace, in a new file in
  // KeptSavesFolder (by default the user's data folder's "saves"), and writes nothing when it
  // cannot. Only the command line's --no-keep clears KeepReplacedSave.
  bool KeepReplacedSave = true;
  std::string KeptSavesFolder;
  std::string KeptSaveFile;   // the file the last Write Saver kept
  std::string KeepSaveError;  // why it could not keep one; nothing was written then

  // Backup Game names the game it read from the DAT files in DatFolder (by default the user's data
  // folder's "dat"), or from Dat alone when a front end has loaded one of its own.
  std::string DatFolder;
  const DatFile* Dat = nullptr;
  // What the last Backup Game learned of the data it read: its checksums and used size (fed with
  // the confirmed chunks), and the game a DAT file lists for it (empty: none).
  std::unique_ptr<DumpDigest> Digest;
  std::string DumpGame;
  std::uint64_t DumpGameSize = 0;

  Window& window() { return frame.window(); }

  // Every command but Stop, Exit and Clear starts with this: the first command after start-up
  // writes no separator, every later one sets itself off with one empty log line.
  void CommandSeparator() {
    if (FirstCommand)
      FirstCommand = false;
    else
      frame.LogLine("");
  }

  // Port_sel item index -> the five port addresses; no selection means LPT1.
  void SelectPortAddresses();
  // A printer port at any I/O address (a PCI card's, e.g. 0xD010) instead of Port_sel's: the same
  // five addresses, base+0 .. base+4, derived from `base`.
  void SelectPortBase(std::uint32_t base) { link.SetBase(base); }

  // DetectAdapter on the Speed group's current item; a new command also forgets which flash
  // block it erased (or, writing only what changed, kept) last.
  bool OpenLink();
  // OpenLink, then the flash chip: identified (else "Flash not found!!!") and given the time to
  // finish whatever it was doing. False when the command cannot go on.
  bool OpenFlash();

  // After a write that erased and programmed only what changed: "Blocks = " and what it did with
  // the blocks it touched. Nothing after a write of every block.
  void LogBlockCounts();
};

// The folder Write Saver keeps replaced saves in: $XDG_DATA_HOME/brevomat/saves (by default
// ~/.local/share/brevomat/saves), on Windows %APPDATA%\brevomat\saves. Empty when the
// environment names no data folder.
std::string DefaultKeptSavesFolder();

}  // namespace brevomat
