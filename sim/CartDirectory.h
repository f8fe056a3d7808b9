// A virtual cartridge kept in a directory, so that one program can write a game and another read
// it back:
//   cart.conf  text, one `key = value` a line, `#` starts a comment:
//              cart    = flash-4m | flash-8m | rom         (default flash-8m)
//              save    = sram | none                       (default sram)
//              adapter = both | spp | epp | none           (default both)
//              base    = 0x378 | 0x278 | 0x3bc             (default 0x378)
//              timing  = datasheet | slow | fast           (default datasheet)
//              faults: erase_error_block = K, program_error_word = 0xADDR, never_ready = yes|no,
//              setup_b0_polls = N, flip_read = N, read_noise = P (0..1), seed = N,
//              save_stuck_byte = 0xADDR
//   flash.bin  the flash array of a flash cart (4 or 8 MB)
//   rom.bin    the game of a ROM cart (1 to 32 MB)
//   save.bin   the save memory (262,144 bytes)
// A missing directory is created as an erased 8 MB flash cart with zeroed save memory. The
// contents go back to the files when the cart is closed, each through a temporary file that is
// renamed over the old one, so a failed write never leaves a half-written file behind.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "port/Port.h"
#include "sim/CartBus.h"
#include "sim/FlashCart.h"
#include "sim/RomCart.h"
#include "sim/VirtualAdapter.h"

namespace brevomat::sim {

enum class CartKind : std::uint8_t { Flash4M, Flash8M, Rom };
enum class TimingProfile : std::uint8_t { Datasheet, Slow, Fast };

struct CartConfig {
  CartKind cart = CartKind::Flash8M;
  SaveMemory save = SaveMemory::Sram;
  AdapterAnswers adapter = AdapterAnswers::Both;
  std::uint16_t base = 0x378;
  TimingProfile timing = TimingProfile::Datasheet;
  FlashFaults faults;
};

ChipTiming TimingOf(TimingProfile profile);

// Parses cart.conf. On failure returns false, leaves `out` unchanged and puts a message that
// names the line into `error`.
bool ParseCartConf(std::string_view text, CartConfig& out, std::string& error);

// The text of a cart.conf that states every setting of `config` (faults only when set).
std::string FormatCartConf(const CartConfig& config);

class VirtualCart {
 public:
  static constexpr std::uint64_t kMinRomBytes = 1u << 20;
  static constexpr std::uint64_t kMaxRomBytes = 32u << 20;

  static std::unique_ptr<VirtualCart> Open(const std::filesystem::path& dir, std::string& error);

  brevomat::PortBackend& Port() { return *adapter_; }
  VirtualAdapter& Adapter() { return *adapter_; }
  CartBus& Bus();
  FlashCart* Flash() { return flash_.get(); }
  RomCart* Rom() { return rom_.get(); }
  const CartConfig& Config() const { return config_; }
  const std::filesystem::path& Directory() const { return dir_; }

  // Writes flash.bin (flash carts) and save.bin (carts with save memory) back. Returns false with
  // a message when a file could not be written; the old file is then still intact.
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
};

}  // namespace brevomat::sim
