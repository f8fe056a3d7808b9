// The command line of brevomat-cli, parsed into one plain record before anything is touched.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace brevomat::cli {

enum class Command {
  None,
  Info,
  Erase,
  Write,
  Multi,
  Backup,
  Verify,
  BackupSave,
  WriteSave,
  Probe,
  Doctor,
  Trace
};

// How far trace decodes a record.
enum class TraceLevel { Cycles, Link, Cart };

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
  bool completionWords = false;  // --completion-words: the word lists of the bash completion

  // How the run is reported and where the port is.
  bool json = false;           // --json: events, one JSON object a line, instead of the plain log
  std::string runLog;          // --log FILE: the run appended to FILE
  std::uint32_t cardBase = 0;  // --base ADDR: the port's base address in place of --port; 0: none

  std::string bootFile;            // multi --boot: the pre-boot image, in place of the settings file
  std::vector<std::string> games;  // multi: the game images in the order given, answers OpenDialog1
  bool onlyChanged = false;        // write, multi --only-changed: the default; accepted for old scripts
  bool everyBlock = false;         // write, multi --every-block: erase and program every block

  // The save commands.
  int saveBank = 0;     // --bank 1..4: Form3's RadioBankSel item 0..3 ("Bank 1" by default)
  int saveSize = 0;     // --size 32K..256K: Form3's RadioSizeSel item 0..3 ("32K" by default)
  bool noKeep = false;  // write-save --no-keep: do not keep the save it replaces

  // What backup does with the data it read.
  bool trim = false;    // --trim: keep only the part the game uses in the file
  std::string datFile;  // --dat: the DAT file to name the game from

  std::string reportFile;  // doctor --report FILE: the report into FILE as well

  // The record of every port access.
  std::string traceFile;                     // --trace FILE: record the command's port accesses
  std::string record;                        // trace: the record to read
  TraceLevel traceLevel = TraceLevel::Cart;  // trace --level
  bool traceRaw = false;                     // trace --raw: one access a line
  bool traceCheck = false;                   // trace --check: against the model
};

struct ParseResult {
  CliOptions options;
  std::string error;  // empty when the command line is usable
  bool ok() const { return error.empty(); }
};

// What follows an option, as the bash completion offers it.
enum class ValueKind { None, Words, File, Directory, Device, Text };

// One option: its names, the value it takes, how it reads that value into the record, and its
// lines of --help. The rows name their fields and leave out the ones at their defaults; a member
// without a default is one every row gives (GCC's -Wmissing-field-initializers holds them to it).
struct OptionEntry {
  std::string_view name;         // "--port"
  std::string_view shortName{};  // "-h", or empty
  ValueKind value = ValueKind::None;
  std::string_view needs{};  // what a missing value should be: "lpt1, lpt2 or lpt3"
  std::string_view words{};  // the values the completion offers (ValueKind::Words)
  std::string_view usage{};  // --help's left column ("--port lpt1|lpt2|lpt3"); empty: told elsewhere
  std::string_view help{};   // --help's right column, lines apart by '\n'
  bool hidden = false;       // not in --help
  // Stores the value, or sets the flag. Returns why the value is bad ("use 4, 3, 2 or 1"), or the
  // empty text. Runs once the command is known.
  std::string (*apply)(CliOptions& options, std::string_view value) = nullptr;
};

struct CommandRun;

// One command: its name and arguments, the options that belong to it, its --help lines, what it
// checks before the cart is touched, the window command it runs and what it reports afterwards.
// As with the options, a member without a default is one every row gives.
struct CommandEntry {
  std::string_view name;  // "write"
  Command command = Command::None;
  std::string_view argument{};  // "IMAGE"; "GAME..." for one or more; empty: none
  std::string_view missing{};   // how a missing argument is named: "an image file"
  std::string_view options{};   // its own options, apart by blanks: "--ips --only-changed"
  std::string_view required{};  // an option it cannot go without, or empty
  std::string_view usage;       // --help's left column
  std::string_view help;        // --help's right column, lines apart by '\n'
  // Stores the arguments in the record.
  void (*take)(CliOptions& options, const std::vector<std::string>& arguments) = nullptr;
  // The files it reads or writes, checked before the cart is touched. False (with the reason said
  // on standard error) refuses the run. May be null.
  bool (*check)(CommandRun& run) = nullptr;
  // Runs it; kResultDone, kResultCancelled or kResultFailed.
  int (*run)(CommandRun& run) = nullptr;
  // Says on standard error what the log does not, and judges the outcome: `ok` as it stays or
  // false. May be null.
  bool (*report)(CommandRun& run, bool ok) = nullptr;
};

// The tables the parser, --help and the bash completion are made from.
std::span<const OptionEntry> OptionTable();
std::span<const CommandEntry> CommandTable();
const CommandEntry* FindCommand(Command command);

// Parses the arguments after the program name. Options may stand before or after the command.
// Any error (unknown command or option, a missing or extra argument, a bad value, --yes together
// with --no) is reported in `error`; nothing is opened or created here. The options that were
// given as options are read even past an error, so that --json is known for the usage error's
// result; --help and --version win over everything else.
ParseResult ParseCliOptions(const std::vector<std::string_view>& args);

std::string UsageText();
std::string VersionText();
// The completion's word lists, one line each: "command NAME", or "option NAME [KIND [WORDS...]]"
// with KIND one of words, file, directory, device, text.
std::string CompletionWords();

}  // namespace brevomat::cli
