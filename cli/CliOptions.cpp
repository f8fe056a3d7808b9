#include "cli/CliOptions.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <utility>

#include "cart/ReadOut.h"
#include "commands/Captions.h"
#include "dump/Dat.h"
#include "port/PortBaseCheck.h"

namespace brevomat::cli {

namespace {

// Splits "--name=value" into name and value; a plain "--name" gives no value.
struct OptionWord {
  std::string_view name;
  std::optional<std::string_view> value;
};

OptionWord SplitOption(std::string_view arg) {
  if (arg.starts_with("--")) {
    const std::size_t eq = arg.find('=');
    if (eq != std::string_view::npos) return {arg.substr(0, eq), arg.substr(eq + 1)};
  }
  return {arg, std::nullopt};
}

std::optional<int> PortIndex(std::string_view v) {
  if (v == "lpt1") return 0;
  if (v == "lpt2") return 1;
  if (v == "lpt3") return 2;
  return std::nullopt;
}

// The Speed group's captions in item order: "4" is the fastest link, "1" the slowest.
std::optional<int> SpeedIndex(std::string_view v) {
  for (int item = 0; item < static_cast<int>(std::size(kSpeedItems)); ++item)
    if (v == kSpeedItems[item]) return item;
  return std::nullopt;
}

// The size dialog's captions ("8M" .. "256M", megabits), in item order; "m" is taken for "M".
std::optional<int> SizeItem(std::string_view v) {
  if (v.empty() || (v.back() != 'M' && v.back() != 'm')) return std::nullopt;
  for (int item = 0; item < kCartSizeItems; ++item) {
    const std::string_view name = kCartSizeNames[item];
    if (v.substr(0, v.size() - 1) == name.substr(0, name.size() - 1)) return item;
  }
  return std::nullopt;
}

// Form3's groups: "Bank 1" .. "Bank 4", given by their number, and "32K", "64K", "128K", "256K",
// where "k" is taken for "K".
std::optional<int> SaveBankIndex(std::string_view v) {
  for (int item = 0; item < static_cast<int>(std::size(kSaveBankItems)); ++item)
    if (std::string_view(kSaveBankItems[item]) == "Bank " + std::string(v)) return item;
  return std::nullopt;
}

std::optional<int> SaveSizeIndex(std::string_view v) {
  if (v.size() < 2 || (v.back() != 'K' && v.back() != 'k')) return std::nullopt;
  v.remove_suffix(1);
  for (int item = 0; item < static_cast<int>(std::size(kSaveSizeItems)); ++item) {
    const std::string_view name = kSaveSizeItems[item];
    if (v == name.substr(0, name.size() - 1)) return item;
  }
  return std::nullopt;
}

// A port base in hexadecimal, "0x" optional: the eight registers base..base+7 must be I/O
// addresses, and 0 is none.
std::optional<std::uint32_t> PortBase(std::string_view v) {
  if (v.starts_with("0x") || v.starts_with("0X")) v.remove_prefix(2);
  if (v.empty() || v.size() > 4) return std::nullopt;
  std::uint32_t base = 0;
  for (const char c : v) {
    const int digit = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
    if (digit < 0) return std::nullopt;
    base = base * 16 + static_cast<std::uint32_t>(digit);
  }
  if (base == 0 || base > 0xFFF8) return std::nullopt;
  return base;
}

std::string Quoted(std::string_view s) { return "'" + std::string(s) + "'"; }

// --- how each option reads its value ---------------------------------------------------------------

template <std::string CliOptions::*field>
std::string StoreText(CliOptions& o, std::string_view v) {
  o.*field = std::string(v);
  return {};
}

template <bool CliOptions::*field>
std::string SetFlag(CliOptions& o, std::string_view) {
  o.*field = true;
  return {};
}

std::string ApplyPort(CliOptions& o, std::string_view v) {
  const auto index = PortIndex(v);
  if (!index) return "use lpt1, lpt2 or lpt3";
  o.portIndex = *index;
  return {};
}

std::string ApplySpeed(CliOptions& o, std::string_view v) {
  const auto index = SpeedIndex(v);
  if (!index) return "use 4, 3, 2 or 1";
  o.speedIndex = *index;
  return {};
}

std::string ApplyBase(CliOptions& o, std::string_view v) {
  const auto base = PortBase(v);
  if (!base) return "use a hexadecimal I/O address such as 0xd010";
  if (std::string why = PortBaseRefusal(*base, SystemIoports()); !why.empty()) return why;
  o.cardBase = *base;
  return {};
}

std::string ApplyVirtual(CliOptions& o, std::string_view v) {
  o.virtualDir = std::string(v);
  o.useVirtual = true;
  return {};
}

std::string ApplyIps(CliOptions& o, std::string_view v) {
  o.ipsPatch = std::string(v);
  o.ips = true;
  return {};
}

std::string ApplyAnswer(CliOptions& o, std::string_view v) {
  o.answers = v == "--yes" ? Answers::Yes : Answers::No;
  return {};
}

// A cart size for backup, a save size for the save commands.
std::string ApplySize(CliOptions& o, std::string_view v) {
  if (o.command == Command::Backup) {
    const auto item = SizeItem(v);
    if (!item) return "use 8M, 16M, 32M, 64M, 128M or 256M";
    o.sizeItem = *item;
    return {};
  }
  const auto index = SaveSizeIndex(v);
  if (!index) return "use 32K, 64K, 128K or 256K";
  o.saveSize = *index;
  return {};
}

std::string ApplyBank(CliOptions& o, std::string_view v) {
  const auto index = SaveBankIndex(v);
  if (!index) return "use 1, 2, 3 or 4";
  o.saveBank = *index;
  return {};
}

std::string ApplyLevel(CliOptions& o, std::string_view v) {
  if (v == "cycles")
    o.traceLevel = TraceLevel::Cycles;
  else if (v == "link")
    o.traceLevel = TraceLevel::Link;
  else if (v == "cart")
    o.traceLevel = TraceLevel::Cart;
  else
    return "use cycles, link or cart";
  return {};
}

using V = ValueKind;

// Every option of the program. A command's own options are listed again in its entry of the
// command table, which says where they belong.
const OptionEntry kOptions[] = {
    {
        .name = "--port",
        .value = V::Words,
        .needs = "lpt1, lpt2 or lpt3",
        .words = "lpt1 lpt2 lpt3",
        .usage = "--port lpt1|lpt2|lpt3",
        .help = "printer port (default lpt1)",
        .apply = ApplyPort,
    },
    {
        .name = "--speed",
        .value = V::Words,
        .needs = "4, 3, 2 or 1",
        .words = "4 3 2 1",
        .usage = "--speed 4|3|2|1",
        .help = "link speed, as the window's Speed group (default 4)",
        .apply = ApplySpeed,
    },
    {
        .name = "--virtual",
        .value = V::Directory,
        .needs = "a directory",
        .usage = "--virtual DIR",
        .help = "use the virtual adapter and the virtual cart directory DIR\n"
                "(created as an erased 8 MB flash cart if missing)",
        .apply = ApplyVirtual,
    },
    {
        .name = "--device",
        .value = V::Device,
        .needs = "a parallel-port device such as /dev/parport0",
        .usage = "--device DEV",
        .help = "reach the port through the parallel-port device DEV\n"
                "(e.g. /dev/parport0), whichever port --port names",
        .apply = StoreText<&CliOptions::device>,
    },
    {
        .name = "--base",
        .value = V::Words,
        .needs = "a hexadecimal I/O address such as 0xd010",
        .words = "0x378 0x278 0x3bc",
        .usage = "--base ADDR",
        .help = "the printer port at the hexadecimal I/O address ADDR (a PCI\n"
                "card's, e.g. 0xd010) in place of --port",
        .apply = ApplyBase,
    },
    {
        .name = "--json",
        .usage = "--json",
        .help = "standard output carries events, one JSON object a line, instead\n"
                "of the plain log; the last one is the result",
        .apply = SetFlag<&CliOptions::json>,
    },
    {
        .name = "--log",
        .value = V::File,
        .needs = "a file",
        .usage = "--log FILE",
        .help = "append the run to FILE: what ran, every log line with the seconds\n"
                "since the start, the status and the exit status",
        .apply = StoreText<&CliOptions::runLog>,
    },
    {
        .name = "--trace",
        .value = V::File,
        .needs = "a file",
        .usage = "--trace FILE",
        .help = "record every port access of the command in FILE (compressed);\n"
                "brevomat-cli trace FILE decodes it",
        .apply = StoreText<&CliOptions::traceFile>,
    },
    {
        .name = "--yes",
        .usage = "--yes | --no",
        .help = "answer every question Yes / No; without either, questions are\n"
                "asked on the terminal when standard input is one, otherwise No",
        .apply = ApplyAnswer,
    },
    {.name = "--no", .apply = ApplyAnswer},
    {
        .name = "--help",
        .shortName = "-h",
        .usage = "-h, --help",
        .help = "this text",
        .apply = SetFlag<&CliOptions::help>,
    },
    {
        .name = "--version",
        .usage = "--version",
        .help = "the program's version",
        .apply = SetFlag<&CliOptions::version>,
    },
    {.name = "--completion-words", .hidden = true, .apply = SetFlag<&CliOptions::completionWords>},
    // The commands' own options; their help is in the commands' lines.
    {.name = "--ips", .value = V::File, .needs = "a patch file", .apply = ApplyIps},
    {.name = "--only-changed", .apply = SetFlag<&CliOptions::onlyChanged>},
    {.name = "--every-block", .apply = SetFlag<&CliOptions::everyBlock>},
    {
        .name = "--boot",
        .value = V::File,
        .needs = "a pre-boot image file",
        .apply = StoreText<&CliOptions::bootFile>,
    },
    {
        .name = "--size",
        .value = V::Words,
        .needs = "a size",
        .words = "8M 16M 32M 64M 128M 256M 32K 64K 128K 256K",
        .apply = ApplySize,
    },
    {.name = "--trim", .apply = SetFlag<&CliOptions::trim>},
    {.name = "--dat", .value = V::File, .needs = "a DAT file", .apply = StoreText<&CliOptions::datFile>},
    {.name = "--bank", .value = V::Words, .needs = "1, 2, 3 or 4", .words = "1 2 3 4", .apply = ApplyBank},
    {.name = "--no-keep", .apply = SetFlag<&CliOptions::noKeep>},
    {.name = "--report", .value = V::File, .needs = "a file", .apply = StoreText<&CliOptions::reportFile>},
    {
        .name = "--level",
        .value = V::Words,
        .needs = "cycles, link or cart",
        .words = "cycles link cart",
        .apply = ApplyLevel,
    },
    {.name = "--raw", .apply = SetFlag<&CliOptions::traceRaw>},
    {.name = "--check", .apply = SetFlag<&CliOptions::traceCheck>},
};

// Options that cannot stand together.
const std::pair<std::string_view, std::string_view> kExclusive[] = {
    {"--base", "--port"},  {"--device", "--virtual"},
    {"--yes", "--no"},     {"--only-changed", "--every-block"},
    {"--raw", "--check"},  {"--level", "--raw"},
    {"--level", "--check"}};

const OptionEntry* FindOption(std::string_view word) {
  for (const OptionEntry& option : kOptions)
    if (word == option.name || (!option.shortName.empty() && word == option.shortName)) return &option;
  return nullptr;
}

// A blank-separated list holds `word`.
bool Lists(std::string_view list, std::string_view word) {
  while (!list.empty()) {
    const std::size_t blank = list.find(' ');
    if (list.substr(0, blank) == word) return true;
    if (blank == std::string_view::npos) break;
    list.remove_prefix(blank + 1);
  }
  return false;
}

bool IsGlobal(std::string_view name) {
  for (const CommandEntry& command : CommandTable())
    if (Lists(command.options, name)) return false;
  return true;
}

// "the write and verify commands", from the table.
std::string OwnersOf(std::string_view name) {
  std::vector<std::string_view> owners;
  for (const CommandEntry& command : CommandTable())
    if (Lists(command.options, name)) owners.push_back(command.name);
  std::string text = "the ";
  for (std::size_t i = 0; i < owners.size(); ++i)
    text += std::string(i == 0 ? "" : i + 1 == owners.size() ? " and " : ", ") + std::string(owners[i]);
  return text + (owners.size() == 1 ? " command" : " commands");
}

// An option as it stood on the line, its value read.
struct GivenOption {
  const OptionEntry* entry;
  std::string_view word;  // as written: "--port", "-h"
  std::string_view value;
};

// Looks up the command and takes its arguments. Empty text, or the error.
std::string TakeCommand(const std::vector<std::string_view>& positional, CliOptions& o,
                        const CommandEntry*& entry) {
  if (positional.empty()) return "no command given";
  const std::string_view name = positional.front();
  entry = nullptr;
  for (const CommandEntry& command : CommandTable())
    if (command.name == name) entry = &command;
  if (entry == nullptr) return "unknown command " + Quoted(name);
  o.command = entry->command;
  const std::vector<std::string> arguments(positional.begin() + 1, positional.end());
  const bool many = entry->argument.ends_with("...");
  const std::size_t most = entry->argument.empty() ? 0 : many ? arguments.size() : 1;
  if (!entry->argument.empty() && (arguments.empty() || arguments.front().empty()))
    return std::string(name) + " needs " + std::string(entry->missing);
  if (arguments.size() > most)
    return "unexpected argument " + Quoted(arguments[most]) + " after " + std::string(name);
  if (entry->take != nullptr) entry->take(o, arguments);
  return {};
}

// Applies the options in the order given, each where it belongs. Empty text, or the error.
std::string ApplyOptions(const std::vector<GivenOption>& given, const CommandEntry& command, CliOptions& o) {
  for (const GivenOption& g : given) {
    const std::string_view name = g.entry->name;
    if (!IsGlobal(name) && !Lists(command.options, name))
      return std::string(name) + " belongs to " + OwnersOf(name);
    // A flag hears its own name, so that one routine can serve two (--yes, --no).
    if (const std::string why = g.entry->apply(o, g.entry->value == ValueKind::None ? name : g.value);
        !why.empty())
      return "bad " + std::string(name) + " " + Quoted(g.value) + ": " + why;
  }
  for (const auto& [a, b] : kExclusive) {
    const auto has = [&given](std::string_view n) {
      return std::any_of(given.begin(), given.end(),
                         [n](const GivenOption& g) { return g.entry->name == n; });
    };
    if (has(a) && has(b)) return std::string(a) + " and " + std::string(b) + " exclude each other";
  }
  if (!command.required.empty() && std::none_of(given.begin(), given.end(), [&command](const GivenOption& g) {
        return g.entry->name == command.required;
      }))
    return std::string(command.name) + " needs " + std::string(command.required) + " (" +
           std::string(FindOption(command.required)->needs) + ")";
  return {};
}

// "  LEFT" and the help lines in the column they share.
std::string UsageLines(std::string_view left, std::string_view help) {
  constexpr std::size_t kColumn = 29;
  std::string text = "  " + std::string(left);
  if (text.size() >= kColumn)
    text += "\n" + std::string(kColumn, ' ');
  else
    text.resize(kColumn, ' ');
  for (const char c : help) text += c == '\n' ? "\n" + std::string(kColumn, ' ') : std::string(1, c);
  return text + "\n";
}

}  // namespace

std::span<const OptionEntry> OptionTable() { return kOptions; }

ParseResult ParseCliOptions(const std::vector<std::string_view>& args) {
  ParseResult r;
  CliOptions& o = r.options;
  std::vector<std::string_view> positional;
  std::vector<GivenOption> given;
  bool optionsEnded = false;
  // The first error is the one reported; the words after it are still read as options, so that
  // the ones that decide how the run ends (--json, --help) are known.
  auto fail = [&r](std::string message) {
    if (r.error.empty()) r.error = std::move(message);
  };

  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    const OptionWord w = SplitOption(arg);
    const OptionEntry* entry = FindOption(w.name);
    if (entry == nullptr) {
      fail("unknown option " + Quoted(arg));
      continue;
    }
    GivenOption g{entry, w.name, {}};
    if (entry->value == ValueKind::None) {
      if (w.value) fail("option " + std::string(w.name) + " takes no value");
    } else if (w.value) {
      g.value = *w.value;
    } else if (i + 1 < args.size()) {
      g.value = args[++i];
    }
    if (entry->value != ValueKind::None && g.value.empty())
      fail(std::string(entry->name) + " needs " + std::string(entry->needs));
    given.push_back(g);
    // How the run ends is known even when the line is bad.
    if (entry->name == "--json") o.json = true;
    if (entry->name == "--help") o.help = true;
    if (entry->name == "--version") o.version = true;
    if (entry->name == "--completion-words") o.completionWords = true;
  }

  // Help, version and the completion's words answer at once, whatever else the line holds.
  if (o.help || o.version || o.completionWords) {
    r.error.clear();
    return r;
  }
  if (!r.ok()) return r;
  const CommandEntry* command = nullptr;
  r.error = TakeCommand(positional, o, command);
  if (r.ok()) r.error = ApplyOptions(given, *command, o);
  return r;
}

std::string UsageText() {
  std::string text = "Usage: brevomat-cli [options] COMMAND [arguments]\n";
  for (const OptionEntry& option : kOptions)
    if (!option.hidden && !option.usage.empty()) text += UsageLines(option.usage, option.help);
  text += "Commands:\n";
  for (const CommandEntry& command : CommandTable()) text += UsageLines(command.usage, command.help);
  return text +
         "The log goes to standard output; standard error ends with the line \"status: \" and the final\n"
         "status; after a backup the crc32, sha1, md5 and sha256 of what was read come before it, then\n"
         "\"used: N bytes\" when the game ends before the read-out does (also after verify), and the\n"
         "DAT file's verdict. On a terminal, standard error also shows a progress line while a command\n"
         "runs.\n"
         "Exit status: 0 success, 1 failed, declined, stopped or differing, 2 usage error.\n";
}

std::string CompletionWords() {
  static const char* const kKinds[] = {"", "words", "file", "directory", "device", "text"};
  std::string text;
  for (const CommandEntry& command : CommandTable()) text += "command " + std::string(command.name) + "\n";
  for (const OptionEntry& option : kOptions) {
    if (option.hidden) continue;
    for (const std::string_view name : {option.shortName, option.name}) {
      if (name.empty()) continue;
      text += "option " + std::string(name);
      if (option.value != ValueKind::None) text += std::string(" ") + kKinds[static_cast<int>(option.value)];
      if (!option.words.empty()) text += " " + std::string(option.words);
      text += "\n";
    }
  }
  return text;
}

std::string VersionText() { return std::string(kProgramTitle) + "\nbrevomat-cli " BREVOMAT_VERSION "\n"; }

}  // namespace brevomat::cli
