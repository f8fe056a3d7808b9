#include "sim/CartDirectory.h"

#include <fstream>
#include <iterator>
#include <system_error>
#include <utility>
#include <vector>

namespace brevomat::sim {

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kSaveBytes = SaveRam::kBytes;

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
