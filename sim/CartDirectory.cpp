#include "sim/CartDirectory.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <system_error>
#include <utility>
#include <vector>

namespace brevomat::sim {

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kSaveBytes = FlashCart::kSaveBytes;

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
  kEraseErrorBlock,
  kProgramErrorWord,
  kNeverReady,
  kSetupB0Polls,
  kFlipRead,
  kReadNoise,
  kSeed,
  kSaveStuckByte,
  kKeyCount
};

constexpr const char* kKeyNames[kKeyCount] = {"cart",
                                              "save",
                                              "adapter",
                                              "base",
                                              "timing",
                                              "erase_error_block",
                                              "program_error_word",
                                              "never_ready",
                                              "setup_b0_polls",
                                              "flip_read",
                                              "read_noise",
                                              "seed",
                                              "save_stuck_byte"};

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
        if (!ParseUnsigned(value, kSaveBytes - 1, n)) return bad("a save address 0 to 0x3ffff");
        c.faults.saveStuckByte = static_cast<std::int32_t>(n);
        break;
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
  return s;
}

namespace {

std::string Describe(const fs::path& p) { return "\"" + p.string() + "\""; }

// Reads a whole file whose size must be `expected` bytes, or lie between min and max.
bool ReadExact(const fs::path& p, std::uint64_t min, std::uint64_t max, std::vector<std::uint8_t>& out,
               std::string& error) {
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(p, ec);
  if (ec) {
    error = "Cannot read " + Describe(p) + ": " + ec.message();
    return false;
  }
  if (size < min || size > max) {
    error = Describe(p) + " is " + std::to_string(size) + " bytes; " +
            (min == max ? "it must be exactly " + std::to_string(min)
                        : "it must be " + std::to_string(min) + " to " + std::to_string(max)) +
            " bytes";
    return false;
  }
  std::ifstream in(p, std::ios::binary);
  out.resize(static_cast<std::size_t>(size));
  if (!in || !in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(size)) ||
      in.peek() != std::char_traits<char>::eof()) {
    error = "Cannot read " + Describe(p) + " completely";
    return false;
  }
  return true;
}

// Writes through a temporary file beside the target and renames it over the target, so that the
// old contents survive any failure.
bool WriteReplacing(const fs::path& p, const void* data, std::size_t size, std::string& error) {
  fs::path tmp = p;
  tmp += ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (out) out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (out) out.flush();
    if (!out) {
      std::error_code ignore;
      fs::remove(tmp, ignore);
      error = "Cannot write " + Describe(tmp) + "; " + Describe(p) + " is unchanged";
      return false;
    }
  }
  std::error_code ec;
  fs::rename(tmp, p, ec);
  if (ec) {
    std::error_code ignore;
    fs::remove(tmp, ignore);
    error = "Cannot replace " + Describe(p) + ": " + ec.message();
    return false;
  }
  return true;
}

}  // namespace

std::unique_ptr<VirtualCart> VirtualCart::Open(const fs::path& dir, std::string& error) {
  std::unique_ptr<VirtualCart> vc(new VirtualCart());
  vc->dir_ = dir;
  vc->closed_ = true;  // nothing to write back until the cart has been loaded completely
  std::error_code ec;
  bool fresh = false;
  if (!fs::exists(dir, ec)) {
    if (ec || !fs::create_directories(dir, ec) || ec) {
      error = "Cannot create the virtual cart directory " + Describe(dir) + (ec ? ": " + ec.message() : "");
      return nullptr;
    }
    fresh = true;
  } else if (!fs::is_directory(dir, ec)) {
    error = Describe(dir) + " is not a directory";
    return nullptr;
  }

  const fs::path confPath = dir / "cart.conf";
  if (fs::exists(confPath, ec)) {
    std::ifstream in(confPath, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.eof() && in.fail()) {
      error = "Cannot read " + Describe(confPath);
      return nullptr;
    }
    std::string why;
    if (!ParseCartConf(text, vc->config_, why)) {
      error = Describe(dir) + ": " + why;
      return nullptr;
    }
  }
  const CartConfig& c = vc->config_;

  std::vector<std::uint8_t> save;
  const fs::path savePath = dir / "save.bin";
  if (c.save == SaveMemory::Sram && fs::exists(savePath, ec) &&
      !ReadExact(savePath, kSaveBytes, kSaveBytes, save, error))
    return nullptr;

  CartBus* bus = nullptr;
  if (c.cart == CartKind::Rom) {
    std::vector<std::uint8_t> rom;
    const fs::path romPath = dir / "rom.bin";
    if (!fs::exists(romPath, ec)) {
      error = Describe(dir) + " is a ROM cart (cart = rom) but has no rom.bin";
      return nullptr;
    }
    if (!ReadExact(romPath, kMinRomBytes, kMaxRomBytes, rom, error)) return nullptr;
    vc->rom_ = std::make_unique<RomCart>(std::move(rom), c.save);
    vc->rom_->Faults() = c.faults;
    if (!save.empty()) vc->rom_->Save() = std::move(save);
    bus = vc->rom_.get();
  } else {
    const FlashChip chip = c.cart == CartKind::Flash4M ? FlashChip::J3_32Mbit : FlashChip::J3_64Mbit;
    vc->flash_ = std::make_unique<FlashCart>(chip, TimingOf(c.timing), c.save);
    vc->flash_->Faults() = c.faults;
    const fs::path flashPath = dir / "flash.bin";
    if (fs::exists(flashPath, ec)) {
      std::vector<std::uint8_t> flash;
      const std::uint32_t bytes = vc->flash_->FlashBytes();
      if (!ReadExact(flashPath, bytes, bytes, flash, error)) return nullptr;
      vc->flash_->Flash() = std::move(flash);
    }
    if (!save.empty()) vc->flash_->Save() = std::move(save);
    bus = vc->flash_.get();
  }
  vc->adapter_ = std::make_unique<VirtualAdapter>(AdapterConfig{c.base, c.adapter, 1000}, *bus);

  if (fresh) {
    const std::string conf = FormatCartConf(c);
    if (!WriteReplacing(confPath, conf.data(), conf.size(), error)) return nullptr;
    vc->closed_ = false;
    if (!vc->Close(error)) {
      vc->closed_ = true;
      return nullptr;
    }
  }
  vc->closed_ = false;
  return vc;
}

CartBus& VirtualCart::Bus() {
  if (flash_) return *flash_;
  return *rom_;
}

bool VirtualCart::Close(std::string& error) {
  if (closed_) return true;
  if (flash_) {
    flash_->Settle(adapter_->NowNs());
    if (!WriteReplacing(dir_ / "flash.bin", flash_->Flash().data(), flash_->Flash().size(), error))
      return false;
  }
  std::vector<std::uint8_t>* save = flash_ ? &flash_->Save() : &rom_->Save();
  if (config_.save == SaveMemory::Sram && !save->empty()) {
    if (!WriteReplacing(dir_ / "save.bin", save->data(), save->size(), error)) return false;
  }
  closed_ = true;
  return true;
}

VirtualCart::~VirtualCart() {
  std::string ignored;
  Close(ignored);
}

}  // namespace brevomat::sim
