// The command line of brevomat-cli, parsed into one plain record before anything is touched.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brevomat::cli {

enum class Command { None, Info, Erase, Write, Multi, Backup, Verify, BackupSave, WriteSave, Probe };

// How the questions of a command are answered.
enum class Answers { Ask, Yes, No };

struct CliOptions {
  Command command = Command::None;
  std::string image;     // write, verify, write-save: the file to read, answers OpenDialog1
  std::string ipsPatch;  // write/verify --ips: the patch file, answers OpenDialog3 and switches RadioIps on
  bool ips = false;
  std::string output;  // backup, backup-save: the file to write, answers SaveDialog1
  int sizeItem = -1;   // backup --size: the Form2 item to choose (0 = "8M" .. 5 = "256M"); -1 = as proposed
  int portIndex = 0;   // Port_sel: lpt1, lpt2, lpt3 -> 0..2
  int speedIndex = 0;  // RadioSpeed: captions "4", "3", "2", "1" -> 0..3
  std::string virtualDir;
  bool useVirtual = false;
  std::string device;  // --device: this parallel-port device, not direct port access; empty: choose
  Answers answers = Answers::Ask;
  bool help = false;
  bool version = false;

  // How the run is reported and where the port is.
  bool json = false;           // --json: events, one JSON object a line, instead of the plain log
  std::string runLog;          // --log FILE: the run appended to FILE
  std::uint32_t cardBase = 0;  // --base ADDR: the port's base address in place of --port; 0: none

  std::string bootFile;            // multi --boot: the pre-boot image, in place of the settings file
  std::vector<std::string> games;  // multi: the game images in the order given, answers OpenDialog1
  bool onlyChanged = false;        // write, multi --only-changed: the default; accepted for old scripts
  bool everyBlock = false;         // write, multi --every-block: erase and program every block

  // The save commands.
  int saveBank = 0;            // --bank 1..4: Form3's RadioBankSel item 0..3 ("Bank 1" by default)
  int saveSize = 0;            // --size 32K..256K: Form3's RadioSizeSel item 0..3 ("32K" by default)
  bool saveAreaGiven = false;  // --bank or --size was on the command line
  bool noKeep = false;         // write-save --no-keep: do not keep the save it replaces

  // What backup does with the data it read.
  bool trim = false;    // --trim: keep only the part the game uses in the file
  std::string datFile;  // --dat: the DAT file to name the game from
};

struct ParseResult {
  CliOptions options;
  std::string error;  // empty when the command line is usable
  bool ok() const { return error.empty(); }
};

// Parses the arguments after the program name. Options may stand before or after the command.
// Any error (unknown command or option, a missing or extra argument, a bad value, --yes together
// with --no) is reported in `error`; nothing is opened or created here.
ParseResult ParseCliOptions(const std::vector<std::string_view>& args);

std::string UsageText();
std::string VersionText();

}  // namespace brevomat::cli
