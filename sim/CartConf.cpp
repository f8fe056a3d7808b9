#include "sim/CartConf.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace brevomat::sim {

namespace {

std::string_view Trim(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// Text for a message: printable ASCII kept, anything else escaped, long values cut.
std::string Quote(std::string_view s) {
  std::string out = "\"";
  for (std::size_t i = 0; i < s.size() && i < 40; ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    }
  }
  if (s.size() > 40) out += "...";
  return out + "\"";
}

// Decimal, or hexadecimal with 0x. Nothing else: no sign, no blanks, no trailing characters.
bool ParseUnsigned(std::string_view s, std::uint64_t max, std::uint64_t& out) {
  int radix = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    s.remove_prefix(2);
    radix = 16;
  }
  if (s.empty() || s.front() == '+' || s.front() == '-') return false;
  std::uint64_t v = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, radix);
  if (ec != std::errc() || end != s.data() + s.size() || v > max) return false;
  out = v;
  return true;
}

bool ParseProbability(std::string_view s, double& out) {
  if (s.empty() || s.front() == '+' || s.front() == '-') return false;
  double v = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
  if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(v) || v < 0.0 || v > 1.0)
    return false;
  out = v;
  return true;
}

enum Key : int {
  kCart,
  kSave,
  kAdapter,
  kBase,
  kTiming,
  kPace,
  kEraseErrorBlock,
  kProgramErrorWord,
  kNeverReady,
  kSetupB0Polls,
  kFlipRead,
  kReadNoise,
  kSeed,
  kSaveStuckByte,
  kStuckLine,
  kShort,
  kPort,
  kKeyCount
};

constexpr const char* kKeyNames[kKeyCount] = {"cart",
                                              "save",
                                              "adapter",
                                              "base",
                                              "timing",
                                              "pace",
                                              "erase_error_block",
                                              "program_error_word",
                                              "never_ready",
                                              "setup_b0_polls",
                                              "flip_read",
                                              "read_noise",
                                              "seed",
                                              "save_stuck_byte",
                                              "stuck_line",
                                              "short",
                                              "port"};

// The lines of the 25-pin connector a fault can hold, by name: which register bit shows them.
struct LineName {
  const char* name;
  enum Group : std::uint8_t { Data, Status, Control } group;
  std::uint8_t bit;
};
constexpr LineName kLines[] = {
    {"d0", LineName::Data, 0},       {"d1", LineName::Data, 1},         {"d2", LineName::Data, 2},
    {"d3", LineName::Data, 3},       {"d4", LineName::Data, 4},         {"d5", LineName::Data, 5},
    {"d6", LineName::Data, 6},       {"d7", LineName::Data, 7},         {"error", LineName::Status, 3},
    {"select", LineName::Status, 4}, {"paperend", LineName::Status, 5}, {"ack", LineName::Status, 6},
    {"busy", LineName::Status, 7},   {"strobe", LineName::Control, 0},  {"autofd", LineName::Control, 1},
    {"init", LineName::Control, 2},  {"selectin", LineName::Control, 3}};

const LineName* FindLine(std::string_view name) {
  for (const LineName& line : kLines)
    if (name == line.name) return &line;
  return nullptr;
}

// "d3:low, ack:high" into the masks; false when an entry does not read.
bool ParseStuckLines(std::string_view value, CableFaults& cable) {
  while (!value.empty()) {
    const std::size_t comma = value.find(',');
    const std::string_view entry = Trim(value.substr(0, comma));
    value = comma == std::string_view::npos ? std::string_view() : value.substr(comma + 1);
    const std::size_t colon = entry.find(':');
    if (colon == std::string_view::npos) return false;
    const LineName* line = FindLine(Trim(entry.substr(0, colon)));
    const std::string_view level = Trim(entry.substr(colon + 1));
    if (line == nullptr || (level != "low" && level != "high")) return false;
    std::uint8_t* masks[3][2] = {{&cable.dataLow, &cable.dataHigh},
                                 {&cable.statusLow, &cable.statusHigh},
                                 {&cable.controlLow, &cable.controlHigh}};
    std::uint8_t* mask = masks[line->group][level == "high" ? 1 : 0];
    const auto bit = static_cast<std::uint8_t>(1u << line->bit);
    if (((*masks[line->group][0] | *masks[line->group][1]) & bit) != 0) return false;  // named twice
    *mask = static_cast<std::uint8_t>(*mask | bit);
    if (value.empty() && comma != std::string_view::npos) return false;
  }
  return true;
}

bool ParseShort(std::string_view value, CableFaults& cable) {
  const std::size_t comma = value.find(',');
  if (comma == std::string_view::npos) return false;
  const LineName* a = FindLine(Trim(value.substr(0, comma)));
  const LineName* b = FindLine(Trim(value.substr(comma + 1)));
  if (a == nullptr || b == nullptr || a->group != LineName::Data || b->group != LineName::Data || a == b)
    return false;
  cable.shorted = static_cast<std::uint8_t>((1u << a->bit) | (1u << b->bit));
  return true;
}

constexpr const char* kPortNames[] = {"epp", "spp", "ecp-epp", "ecp-spp", "ecp-ps2", "ecp-fifo", "ecp-ecp"};

std::string LineMessage(std::size_t line, const std::string& what) {
  return "cart.conf line " + std::to_string(line) + ": " + what;
}

}  // namespace

ChipTiming TimingOf(TimingProfile profile) {
  switch (profile) {
    case TimingProfile::Slow:
      return ChipTiming::Slow();
    case TimingProfile::Fast:
      return ChipTiming::Fast();
    case TimingProfile::Datasheet:
      break;
  }
  return ChipTiming::Datasheet();
}

bool ParseCartConf(std::string_view text, CartConfig& out, std::string& error) {
  CartConfig c;
  std::size_t lineOf[kKeyCount] = {};
  std::size_t lineNo = 0;
  while (!text.empty() || lineNo == 0) {
    ++lineNo;
    const std::size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    if (const std::size_t hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
    line = Trim(line);
    if (line.empty()) {
      if (text.empty()) break;
      continue;
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
      error = LineMessage(lineNo, "expected \"key = value\", found " + Quote(line));
      return false;
    }
    const std::string_view keyText = Trim(line.substr(0, eq));
    const std::string_view rawValue = Trim(line.substr(eq + 1));
    int key = -1;
    for (int k = 0; k < kKeyCount; ++k)
      if (keyText == kKeyNames[k]) key = k;
    if (key < 0) {
      error = LineMessage(lineNo, "unknown key " + Quote(keyText));
      return false;
    }
    if (lineOf[key] != 0) {
      error = LineMessage(
          lineNo, Quote(keyText) + " is set again (first set on line " + std::to_string(lineOf[key]) + ")");
      return false;
    }
    lineOf[key] = lineNo;
    const std::string value = Lower(rawValue);
    const auto bad = [&](const char* expected) {
      error = LineMessage(
          lineNo, "bad value " + Quote(rawValue) + " for " + kKeyNames[key] + " (expected " + expected + ")");
      return false;
    };
    std::uint64_t n = 0;
    switch (key) {
      case kCart:
        if (value == "flash-4m")
          c.cart = CartKind::Flash4M;
        else if (value == "flash-8m")
          c.cart = CartKind::Flash8M;
        else if (value == "rom")
          c.cart = CartKind::Rom;
        else
          return bad("flash-4m, flash-8m or rom");
        break;
      case kSave:
        if (value == "sram")
          c.save = SaveMemory::Sram;
        else if (value == "none")
          c.save = SaveMemory::None;
        else
          return bad("sram or none");
        break;
      case kAdapter:
        if (value == "both")
          c.adapter = AdapterAnswers::Both;
        else if (value == "spp")
          c.adapter = AdapterAnswers::SppOnly;
        else if (value == "epp")
          c.adapter = AdapterAnswers::EppOnly;
        else if (value == "none")
          c.adapter = AdapterAnswers::None;
        else
          return bad("both, spp, epp or none");
        break;
      case kBase:
        if (!ParseUnsigned(value, 0xFFFF, n) || (n != 0x378 && n != 0x278 && n != 0x3BC))
          return bad("0x378, 0x278 or 0x3bc");
        c.base = static_cast<std::uint16_t>(n);
        break;
      case kTiming:
        if (value == "datasheet")
          c.timing = TimingProfile::Datasheet;
        else if (value == "slow")
          c.timing = TimingProfile::Slow;
        else if (value == "fast")
          c.timing = TimingProfile::Fast;
        else
          return bad("datasheet, slow or fast");
        break;
      case kPace:
        if (value == "fast")
          c.pace = Pace::Fast;
        else if (value == "realtime")
          c.pace = Pace::Realtime;
        else
          return bad("fast or realtime");
        break;
      case kEraseErrorBlock:
        if (!ParseUnsigned(value, 63, n)) return bad("a block number 0 to 63");
        c.faults.eraseErrorBlock = static_cast<int>(n);
        break;
      case kProgramErrorWord:
        if (!ParseUnsigned(value, 0xFFFFFF, n)) return bad("a word address 0 to 0xffffff");
        c.faults.programErrorWord = static_cast<std::int64_t>(n);
        break;
      case kNeverReady:
        if (value == "yes")
          c.faults.neverReady = true;
        else if (value == "no")
          c.faults.neverReady = false;
        else
          return bad("yes or no");
        break;
      case kSetupB0Polls:
        if (!ParseUnsigned(value, 0xFFFFFFFF, n)) return bad("a poll count");
        c.faults.setupStatusB0Polls = static_cast<std::uint32_t>(n);
        break;
      case kFlipRead:
        if (!ParseUnsigned(value, UINT64_MAX, n)) return bad("a read number, 0 for none");
        c.faults.flipRead = n;
        break;
      case kReadNoise:
        if (!ParseProbability(value, c.faults.readNoise)) return bad("a probability from 0 to 1");
        break;
      case kSeed:
        if (!ParseUnsigned(value, UINT64_MAX, n)) return bad("a number");
        c.faults.seed = n;
        break;
      case kSaveStuckByte:
        if (!ParseUnsigned(value, SaveRam::kBytes - 1, n)) return bad("a save address 0 to 0x3ffff");
        c.faults.saveStuckByte = static_cast<std::int32_t>(n);
        break;
      case kStuckLine:
        if (value.empty() || !ParseStuckLines(value, c.cable))
          return bad(
              "LINE:low or LINE:high, apart by commas; LINE D0..D7, ERROR, SELECT, PAPEREND, ACK, "
              "BUSY, STROBE, AUTOFD, INIT or SELECTIN");
        break;
      case kShort:
        if (!ParseShort(value, c.cable)) return bad("two data lines, e.g. D4,D5");
        break;
      case kPort: {
        int kind = -1;
        for (int k = 0; k < 7; ++k)
          if (value == kPortNames[k]) kind = k;
        if (kind < 0) return bad("epp, spp, ecp-epp, ecp-spp, ecp-ps2, ecp-fifo or ecp-ecp");
        c.cable.port = static_cast<PortKind>(kind);
        break;
      }
      default:
        break;
    }
  }
  // Settings that contradict each other, reported at the line that does not fit.
  if (c.cart == CartKind::Rom) {
    for (int k : {kEraseErrorBlock, kProgramErrorWord, kNeverReady, kSetupB0Polls, kTiming}) {
      if (lineOf[k] != 0) {
        error = LineMessage(lineOf[k], std::string(kKeyNames[k]) + " needs a flash cart, but cart = rom");
        return false;
      }
    }
  }
  if (c.cart == CartKind::Flash4M && c.faults.eraseErrorBlock >= 32) {
    error = LineMessage(lineOf[kEraseErrorBlock], "a flash-4m cart has blocks 0 to 31 only");
    return false;
  }
  if (c.save == SaveMemory::None && lineOf[kSaveStuckByte] != 0) {
    error = LineMessage(lineOf[kSaveStuckByte], "save_stuck_byte needs save memory, but save = none");
    return false;
  }
  out = c;
  return true;
}

std::string FormatCartConf(const CartConfig& c) {
  const char* cart = c.cart == CartKind::Flash4M   ? "flash-4m"
                     : c.cart == CartKind::Flash8M ? "flash-8m"
                                                   : "rom";
  const char* adapter = c.adapter == AdapterAnswers::Both      ? "both"
                        : c.adapter == AdapterAnswers::SppOnly ? "spp"
                        : c.adapter == AdapterAnswers::EppOnly ? "epp"
                                                               : "none";
  const char* timing = c.timing == TimingProfile::Slow   ? "slow"
                       : c.timing == TimingProfile::Fast ? "fast"
                                                         : "datasheet";
  char base[16];
  std::snprintf(base, sizeof base, "0x%x", static_cast<unsigned>(c.base));
  std::string s = "# Virtual cartridge. Contents: flash.bin (or rom.bin) and save.bin.\n";
  s += std::string("cart = ") + cart + "\n";
  s += std::string("save = ") + (c.save == SaveMemory::Sram ? "sram" : "none") + "\n";
  s += std::string("adapter = ") + adapter + "\n";
  s += std::string("base = ") + base + "\n";
  if (c.cart != CartKind::Rom) s += std::string("timing = ") + timing + "\n";
  s += std::string("pace = ") + (c.pace == Pace::Realtime ? "realtime" : "fast") + "\n";
  const FlashFaults& f = c.faults;
  if (f.eraseErrorBlock >= 0) s += "erase_error_block = " + std::to_string(f.eraseErrorBlock) + "\n";
  if (f.programErrorWord >= 0) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(f.programErrorWord));
    s += std::string("program_error_word = ") + buf + "\n";
  }
  if (f.neverReady) s += "never_ready = yes\n";
  if (f.setupStatusB0Polls != 0) s += "setup_b0_polls = " + std::to_string(f.setupStatusB0Polls) + "\n";
  if (f.flipRead != 0) s += "flip_read = " + std::to_string(f.flipRead) + "\n";
  if (f.readNoise > 0.0) {
    char buf[40];
    const auto r = std::to_chars(buf, buf + sizeof buf, f.readNoise);  // shortest exact, no locale
    s += "read_noise = " + std::string(buf, r.ptr) + "\n";
  }
  if (f.seed != 1) s += "seed = " + std::to_string(f.seed) + "\n";
  if (f.saveStuckByte >= 0) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%x", static_cast<unsigned>(f.saveStuckByte));
    s += std::string("save_stuck_byte = ") + buf + "\n";
  }
  const CableFaults& cable = c.cable;
  std::string stuck;
  for (const LineName& line : kLines) {
    const std::uint8_t* masks[3][2] = {{&cable.dataLow, &cable.dataHigh},
                                       {&cable.statusLow, &cable.statusHigh},
                                       {&cable.controlLow, &cable.controlHigh}};
    for (int high = 0; high < 2; ++high) {
      if ((*masks[line.group][high] & (1u << line.bit)) == 0) continue;
      std::string name = line.name;
      for (char& ch : name) ch = static_cast<char>(ch >= 'a' && ch <= 'z' ? ch - 'a' + 'A' : ch);
      stuck += (stuck.empty() ? "" : ", ") + name + (high ? ":high" : ":low");
    }
  }
  if (!stuck.empty()) s += "stuck_line = " + stuck + "\n";
  if (cable.shorted != 0) {
    std::string pair;
    for (int bit = 0; bit < 8; ++bit)
      if ((cable.shorted >> bit) & 1) pair += (pair.empty() ? "D" : ",D") + std::to_string(bit);
    s += "short = " + pair + "\n";
  }
  if (cable.port != PortKind::Epp)
    s += std::string("port = ") + kPortNames[static_cast<int>(cable.port)] + "\n";
  return s;
}

}  // namespace brevomat::sim
