// A virtual cartridge kept in a directory, so that one program can write a game and another read
// it back:
//   cart.conf  its settings (sim/CartConf.h); without one, the defaults
//   flash.bin  the flash array of a flash cart (4 or 8 MB)
//   rom.bin    the game of a ROM cart (1 to 32 MB)
//   save.bin   the save memory (262,144 bytes, bank 0 first)
// A missing directory is created as an erased 8 MB flash cart with zeroed save memory. One program
// at a time holds the directory (an exclusive lock, taken in Open, released by the destructor).
// Close first lets the flash chip finish an erase or a programming it has started (a real chip
// does, whether or not anyone waits for it), then writes back the files whose contents changed,
// each through a temporary file that is renamed over the old one (AtomicOutputFile), so a failed
// write never leaves a half-written file behind. A cart that is destroyed without Close saves
// nothing.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/AtomicOutputFile.h"
#include "port/Port.h"
#include "sim/CartBus.h"
#include "sim/CartConf.h"
#include "sim/FlashCart.h"
#include "sim/RomCart.h"
#include "sim/VirtualAdapter.h"

namespace brevomat::sim {

// The files of a virtual cart, in its directory (see above); nothing else there is the cart's.
inline constexpr const char* kCartConfFile = "cart.conf";
inline constexpr const char* kFlashFile = "flash.bin";
inline constexpr const char* kRomFile = "rom.bin";
inline constexpr const char* kSaveFile = "save.bin";
inline constexpr std::array<const char*, 4> kCartFiles = {kCartConfFile, kFlashFile, kRomFile, kSaveFile};

class VirtualCart {
 public:
  static constexpr std::uint64_t kMinRomBytes = 1u << 20;
  static constexpr std::uint64_t kMaxRomBytes = 32u << 20;

  static std::unique_ptr<VirtualCart> Open(const std::filesystem::path& dir, std::string& error);
  // The demo programs' cart: "virtual-cart" in the working directory, its own files protected
  // from being chosen as a backup's output.
  static std::unique_ptr<VirtualCart> OpenInWorkingDirectory(std::string& error);

  brevomat::PortBackend& Port() { return *adapter_; }
  VirtualAdapter& Adapter() { return *adapter_; }
  CartBus& Bus();
  FlashCart* Flash() { return flash_.get(); }
  RomCart* Rom() { return rom_.get(); }
  const CartConfig& Config() const { return config_; }
  const std::filesystem::path& Directory() const { return dir_; }

  // Writes flash.bin (flash carts) and save.bin (carts with save memory) back where they changed.
  // Returns false with a message when a file could not be written; the old file is then intact.
  bool Close(std::string& error);
  ~VirtualCart();

  VirtualCart(const VirtualCart&) = delete;
  VirtualCart& operator=(const VirtualCart&) = delete;

 private:
  VirtualCart() = default;

  std::filesystem::path dir_;
  CartConfig config_;
  std::unique_ptr<FlashCart> flash_;
  std::unique_ptr<RomCart> rom_;
  std::unique_ptr<VirtualAdapter> adapter_;
  bool closed_ = false;
  int lockFd_ = -1;
  std::vector<std::uint8_t> savedFlash_, savedSave_;  // what the files hold now
};

}  // namespace brevomat::sim
