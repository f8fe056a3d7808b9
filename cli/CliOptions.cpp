#include "cli/CliOptions.h"

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

std::string Quoted(std::string_view s) { return "'" + std::string(s) + "'"; }

}  // namespace

ParseResult ParseCliOptions(const std::vector<std::string_view>& args) {
  ParseResult r;
  CliOptions& o = r.options;
  std::vector<std::string_view> positional;
  bool yes = false, no = false, optionsEnded = false;

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
    } else if (w.name == "--yes") {
      flag(yes);
    } else if (w.name == "--no") {
      flag(no);
    } else if (w.name == "--port") {
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
    } else if (w.name == "--ips") {
      const auto v = value();
      if (!v || v->empty())
        r.error = "--ips needs a patch file";
      else {
        o.ipsPatch = std::string(*v);
        o.ips = true;
      }
    } else if (w.name == "--bank") {
      const auto v = value();
      const auto index = v ? SaveBankIndex(*v) : std::nullopt;
      if (!index)
        r.error = v ? "bad --bank " + Quoted(*v) + ": use 1, 2, 3 or 4" : "--bank needs 1, 2, 3 or 4";
      else
        o.saveBank = *index;
      o.saveAreaGiven = true;
    } else if (w.name == "--size") {
      const auto v = value();
      const auto index = v ? SaveSizeIndex(*v) : std::nullopt;
      if (!index)
        r.error = v ? "bad --size " + Quoted(*v) + ": use 32K, 64K, 128K or 256K"
                    : "--size needs 32K, 64K, 128K or 256K";
      else
        o.saveSize = *index;
      o.saveAreaGiven = true;
    } else {
      r.error = "unknown option " + Quoted(arg);
    }
    if (!r.ok()) return r;
  }

  // Help and version answer at once, whatever else the line holds.
  if (o.help || o.version) return r;

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
  } else if (command == "backup-save") {
    o.command = Command::BackupSave;
    expected = 1;
  } else if (command == "write-save") {
    o.command = Command::WriteSave;
    expected = 1;
  } else {
    r.error = "unknown command " + Quoted(command);
    return r;
  }
  if (o.command == Command::Write) {
    if (arguments == 0 || positional[1].empty()) {
      r.error = "write needs an image file";
      return r;
    }
    o.image = std::string(positional[1]);
  }
  const bool saveCommand = o.command == Command::BackupSave || o.command == Command::WriteSave;
  if (saveCommand) {
    if (arguments == 0 || positional[1].empty()) {
      r.error = std::string(command) + " needs a save file";
      return r;
    }
    (o.command == Command::BackupSave ? o.outputFile : o.image) = std::string(positional[1]);
  }
  if (arguments > expected) {
    r.error = "unexpected argument " + Quoted(positional[expected + 1]) + " after " + std::string(command);
    return r;
  }
  if (o.ips && o.command != Command::Write) {
    r.error = "--ips belongs to the write command";
    return r;
  }
  if (o.saveAreaGiven && !saveCommand) {
    r.error = "--bank and --size belong to the backup-save and write-save commands";
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
         "  --yes | --no               answer every question Yes / No; without either, questions are\n"
         "                             asked on the terminal when standard input is one, otherwise No\n"
         "  -h, --help                 this text;  --version  the program's version\n"
         "Commands:\n"
         "  info                       detect the adapter, identify the flash, read and check the header\n"
         "  erase                      erase the whole flash\n"
         "  write IMAGE [--ips PATCH]  write IMAGE into the flash and verify it; --ips patches it on the "
         "way\n"
         "  backup-save FILE [--bank 1|2|3|4] [--size 32K|64K|128K|256K]\n"
         "                             read save memory from the bank on into FILE (default bank 1, 32K)\n"
         "  write-save FILE [--bank 1|2|3|4] [--size 32K|64K|128K|256K]\n"
         "                             write FILE (32768 or 65536 bytes) into save memory from the bank on;\n"
         "                             --size 32K writes only the first 32K of a 64K file\n"
         "The log goes to standard output; standard error ends with the line \"status: \" and the final\n"
         "status. Exit status: 0 success, 1 failed, declined or stopped, 2 usage error.\n";
}

std::string VersionText() { return "Tarvex Brevomat 1.2nt\nbrevomat-cli " BREVOMAT_VERSION "\n"; }

}  // namespace brevomat::cli
