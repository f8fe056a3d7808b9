#include "cli/CliOptions.h"

#include "cart/ReadOut.h"
#include "cli/Dat.h"
#include "port/PortBaseCheck.h"

#ifndef BREVOMAT_VERSION
#define BREVOMAT_VERSION "unknown"
#endif

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
  if (v == "4") return 0;
  if (v == "3") return 1;
  if (v == "2") return 2;
  if (v == "1") return 3;
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

// Form3's groups: "Bank 1" .. "Bank 4" and "32K", "64K", "128K", "256K".
std::optional<int> SaveBankIndex(std::string_view v) {
  if (v.size() == 1 && v[0] >= '1' && v[0] <= '4') return v[0] - '1';
  return std::nullopt;
}

std::optional<int> SaveSizeIndex(std::string_view v) {
  const std::string_view sizes[] = {"32", "64", "128", "256"};
  if (v.size() < 2 || (v.back() != 'K' && v.back() != 'k')) return std::nullopt;
  v.remove_suffix(1);
  for (int i = 0; i < 4; ++i)
    if (v == sizes[i]) return i;
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

}  // namespace

ParseResult ParseCliOptions(const std::vector<std::string_view>& args) {
  ParseResult r;
  CliOptions& o = r.options;
  std::vector<std::string_view> positional;
  bool yes = false, no = false, optionsEnded = false, portGiven = false;
  std::string sizeText;

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
    // The value of an option that takes one: "--name=value" or the next argument.
    auto value = [&]() -> std::optional<std::string_view> {
      if (w.value) return w.value;
      if (i + 1 < args.size()) return args[++i];
      return std::nullopt;
    };
    auto flag = [&](bool& target) {
      if (w.value) {
        r.error = "option " + std::string(w.name) + " takes no value";
        return;
      }
      target = true;
    };

    if (w.name == "-h" || w.name == "--help") {
      flag(o.help);
    } else if (w.name == "--version") {
      flag(o.version);
    } else if (w.name == "--no-keep") {
      flag(o.noKeep);
    } else if (w.name == "--yes") {
      flag(yes);
    } else if (w.name == "--no") {
      flag(no);
    } else if (w.name == "--json") {
      flag(o.json);
    } else if (w.name == "--log") {
      const auto v = value();
      if (!v || v->empty())
        r.error = "--log needs a file";
      else
        o.runLog = std::string(*v);
    } else if (w.name == "--base") {
      const auto v = value();
      const auto base = v ? PortBase(*v) : std::nullopt;
      if (!base)
        r.error = v ? "bad --base " + Quoted(*v) + ": use a hexadecimal I/O address such as 0xd010"
                    : "--base needs a hexadecimal I/O address such as 0xd010";
      else if (const std::string why = PortBaseRefusal(*base, SystemIoports()); !why.empty())
        r.error = "bad --base " + Quoted(*v) + ": " + why;
      else
        o.cardBase = *base;
    } else if (w.name == "--port") {
      portGiven = true;
      const auto v = value();
      const auto index = v ? PortIndex(*v) : std::nullopt;
      if (!index)
        r.error =
            v ? "bad --port " + Quoted(*v) + ": use lpt1, lpt2 or lpt3" : "--port needs lpt1, lpt2 or lpt3";
      else
        o.portIndex = *index;
    } else if (w.name == "--speed") {
      const auto v = value();
      const auto index = v ? SpeedIndex(*v) : std::nullopt;
      if (!index)
        r.error = v ? "bad --speed " + Quoted(*v) + ": use 4, 3, 2 or 1" : "--speed needs 4, 3, 2 or 1";
      else
        o.speedIndex = *index;
    } else if (w.name == "--virtual") {
      const auto v = value();
      if (!v || v->empty())
        r.error = "--virtual needs a directory";
      else {
        o.virtualDir = std::string(*v);
        o.useVirtual = true;
      }
    } else if (w.name == "--size") {
      // Read once the command is known: a cart size for backup, a save size for the save commands.
      const auto v = value();
      if (!v || v->empty())
        r.error = "--size needs a size";
      else
        sizeText = std::string(*v);
    } else if (w.name == "--device") {
      const auto v = value();
      if (!v || v->empty())
        r.error = "--device needs a parallel-port device such as /dev/parport0";
      else
        o.device = std::string(*v);
    } else if (w.name == "--ips") {
      const auto v = value();
      if (!v || v->empty())
        r.error = "--ips needs a patch file";
      else {
        o.ipsPatch = std::string(*v);
        o.ips = true;
      }
    } else if (w.name == "--trim") {
      flag(o.trim);
    } else if (w.name == "--dat") {
      const auto v = value();
      if (!kDatAvailable)
        r.error = "--dat is not available in this build: it has no XML library";
      else if (!v || v->empty())
        r.error = "--dat needs a DAT file";
      else
        o.datFile = std::string(*v);
    } else if (w.name == "--boot") {
      const auto v = value();
      if (!v || v->empty())
        r.error = "--boot needs a pre-boot image file";
      else
        o.bootFile = std::string(*v);
    } else if (w.name == "--only-changed") {
      flag(o.onlyChanged);
    } else if (w.name == "--bank") {
      const auto v = value();
      const auto index = v ? SaveBankIndex(*v) : std::nullopt;
      if (!index)
        r.error = v ? "bad --bank " + Quoted(*v) + ": use 1, 2, 3 or 4" : "--bank needs 1, 2, 3 or 4";
      else
        o.saveBank = *index;
      o.saveAreaGiven = true;
    } else {
      r.error = "unknown option " + Quoted(arg);
    }
    if (!r.ok()) return r;
  }

  // Help and version answer at once, whatever else the line holds.
  if (o.help || o.version) return r;

  if (portGiven && o.cardBase != 0) {
    r.error = "--base and --port exclude each other";
    return r;
  }
  if (o.useVirtual && !o.device.empty()) {
    r.error = "--device and --virtual exclude each other";
    return r;
  }
  if (yes && no) {
    r.error = "--yes and --no exclude each other";
    return r;
  }
  o.answers = yes ? Answers::Yes : no ? Answers::No : Answers::Ask;

  if (positional.empty()) {
    r.error = "no command given";
    return r;
  }
  const std::string_view command = positional.front();
  const std::size_t arguments = positional.size() - 1;
  std::size_t expected = 0;
  if (command == "info") {
    o.command = Command::Info;
  } else if (command == "erase") {
    o.command = Command::Erase;
  } else if (command == "write") {
    o.command = Command::Write;
    expected = 1;
  } else if (command == "multi") {
    // As many games as given: the command itself answers a number the cart cannot take.
    o.command = Command::Multi;
    o.games.assign(positional.begin() + 1, positional.end());
    expected = arguments;
  } else if (command == "verify") {
    o.command = Command::Verify;
    expected = 1;
  } else if (command == "backup") {
    o.command = Command::Backup;
    expected = 1;
  } else if (command == "backup-save") {
    o.command = Command::BackupSave;
    expected = 1;
  } else if (command == "write-save") {
    o.command = Command::WriteSave;
    expected = 1;
  } else if (command == "probe") {
    o.command = Command::Probe;
  } else {
    r.error = "unknown command " + Quoted(command);
    return r;
  }
  if (o.command == Command::Write || o.command == Command::Verify) {
    if (arguments == 0 || positional[1].empty()) {
      r.error = std::string(command) + " needs an image file";
      return r;
    }
    o.image = std::string(positional[1]);
  }
  if (o.command == Command::Backup) {
    if (arguments == 0 || positional[1].empty()) {
      r.error = "backup needs the name of the file to write";
      return r;
    }
    o.output = std::string(positional[1]);
  }
  const bool saveCommand = o.command == Command::BackupSave || o.command == Command::WriteSave;
  if (saveCommand) {
    if (arguments == 0 || positional[1].empty()) {
      r.error = std::string(command) + " needs a save file";
      return r;
    }
    (o.command == Command::BackupSave ? o.output : o.image) = std::string(positional[1]);
  }
  if (arguments > expected) {
    r.error = "unexpected argument " + Quoted(positional[expected + 1]) + " after " + std::string(command);
    return r;
  }
  if (o.ips && o.command != Command::Write && o.command != Command::Verify) {
    r.error = "--ips belongs to the write and verify commands";
    return r;
  }
  if (!sizeText.empty()) {
    if (o.command == Command::Backup) {
      const auto item = SizeItem(sizeText);
      if (!item) {
        r.error = "bad --size " + Quoted(sizeText) + ": use 8M, 16M, 32M, 64M, 128M or 256M";
        return r;
      }
      o.sizeItem = *item;
    } else if (saveCommand) {
      const auto index = SaveSizeIndex(sizeText);
      if (!index) {
        r.error = "bad --size " + Quoted(sizeText) + ": use 32K, 64K, 128K or 256K";
        return r;
      }
      o.saveSize = *index;
      o.saveAreaGiven = true;
    } else {
      r.error = "--size belongs to the backup, backup-save and write-save commands";
      return r;
    }
  }
  if ((o.trim || !o.datFile.empty()) && o.command != Command::Backup) {
    r.error = std::string(o.trim ? "--trim" : "--dat") + " belongs to the backup command";
    return r;
  }
  if (o.command == Command::Multi && (o.bootFile.empty() || o.games.empty())) {
    r.error = "multi needs --boot BOOT and the game images";
    return r;
  }
  if (!o.bootFile.empty() && o.command != Command::Multi) {
    r.error = "--boot belongs to the multi command";
    return r;
  }
  if (o.onlyChanged && o.command != Command::Write && o.command != Command::Multi) {
    r.error = "--only-changed belongs to the write and multi commands";
    return r;
  }
  if (o.noKeep && o.command != Command::WriteSave) {
    r.error = "--no-keep belongs to the write-save command";
    return r;
  }
  if (o.saveAreaGiven && !saveCommand) {
    r.error = "--bank belongs to the backup-save and write-save commands";
    return r;
  }
  return r;
}

std::string UsageText() {
  return "Usage: brevomat-cli [options] COMMAND [arguments]\n"
         "  --port lpt1|lpt2|lpt3      printer port (default lpt1)\n"
         "  --speed 4|3|2|1            link speed, as the window's Speed group (default 4)\n"
         "  --virtual DIR              use the virtual adapter and the virtual cart directory DIR\n"
         "                             (created as an erased 8 MB flash cart if missing)\n"
         "  --device DEV               reach the port through the parallel-port device DEV\n"
         "                             (e.g. /dev/parport0), whichever port --port names\n"
         "  --base ADDR                the printer port at the hexadecimal I/O address ADDR (a PCI\n"
         "                             card's, e.g. 0xd010) in place of --port\n"
         "  --json                     standard output carries events, one JSON object a line, instead\n"
         "                             of the plain log; the last one is the result\n"
         "  --log FILE                 append the run to FILE: what ran, every log line with the seconds\n"
         "                             since the start, the status and the exit status\n"
         "  --yes | --no               answer every question Yes / No; without either, questions are\n"
         "                             asked on the terminal when standard input is one, otherwise No\n"
         "  -h, --help                 this text;  --version  the program's version\n"
         "Commands:\n"
         "  info                       detect the adapter, identify the flash, read and check the header\n"
         "  erase                      erase the whole flash\n"
         "  write IMAGE [--ips PATCH]  write IMAGE into the flash and verify it; --ips patches it on the "
         "way\n"
         "  multi --boot BOOT GAME...  write the 32 KB pre-boot image BOOT and two games behind it into\n"
         "                             the 8 MB flash, each verified; the order decides the places\n"
         "  --only-changed             with write or multi: read each block first and erase and program\n"
         "                             only those that differ from the image; verified as always\n"
         "  verify IMAGE [--ips PATCH] compare the flash with IMAGE as write would have put it there\n"
         "                             (each chunk read twice; nothing is written to the cart)\n"
         "  backup FILE [--size S] [--trim] [--dat DATFILE]\n"
         "                             read the cart into FILE, each chunk read twice; S is 8M, 16M, 32M,\n"
         "                             64M, 128M or 256M (megabits), otherwise the size the cart proposes;\n"
         "                             --trim keeps only the part the game uses (\"used:\") in FILE,\n"
         "                             --dat names the game from a Logiqx XML DAT file (No-Intro's)\n"
         "  backup-save FILE [--bank 1|2|3|4] [--size 32K|64K|128K|256K]\n"
         "                             read save memory from the bank on into FILE (default bank 1, 32K)\n"
         "  write-save FILE [--bank 1|2|3|4] [--size 32K|64K|128K|256K]\n"
         "                             write FILE (32768 or 65536 bytes) into save memory from the bank on;\n"
         "                             --size 32K writes only the first 32K of a 64K file; the save it\n"
         "                             replaces is kept first in $XDG_DATA_HOME/brevomat/saves (--no-keep:\n"
         "                             not kept)\n"
         "  probe                      detect the adapter, time its register accesses in each mode it\n"
         "                             answers and estimate each command's duration at each speed\n"
         "                             (nothing on the cart changes)\n"
         "The log goes to standard output; standard error ends with the line \"status: \" and the final\n"
         "status; after a backup the crc32, sha1, md5 and sha256 of what was read come before it, then\n"
         "\"used: N bytes\" when the game ends before the read-out does (also after verify), and the\n"
         "DAT file's verdict. On a terminal, standard error also shows a progress line while a command\n"
         "runs.\n"
         "Exit status: 0 success, 1 failed, declined, stopped or differing, 2 usage error.\n";
}

std::string VersionText() { return "Tarvex Brevomat 1.2nt\nbrevomat-cli " BREVOMAT_VERSION "\n"; }

}  // namespace brevomat::cli
