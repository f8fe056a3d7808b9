// cart.conf, the settings of a virtual cartridge: text, one `key = value` a line, `#` starts a
// comment, keys in lower case, values in any case:
//   cart    = flash-4m | flash-8m | rom         (default flash-8m)
//   save    = sram | none                       (default sram)
//   adapter = both | spp | epp | none           (default both)
//   base    = 0x378 | 0x278 | 0x3bc             (default 0x378)
//   timing  = datasheet | slow | fast           (default datasheet; flash carts only)
//   pace    = fast | realtime                   (default fast; see sim/WallClockPort.h)
//   faults: erase_error_block = K, program_error_word = 0xADDR, never_ready = yes|no,
//   setup_b0_polls = N, flip_read = N, read_noise = P (0..1), seed = N, save_stuck_byte = 0xADDR
//   cable and port faults (sim/VirtualAdapter.h):
//   stuck_line = LINE:low|high [, LINE:low|high ...]   LINE one of D0..D7, ERROR, SELECT, PAPEREND,
//                                                      ACK, BUSY, STROBE, AUTOFD, INIT, SELECTIN
//   short      = Dn,Dm                                 two data lines shorted together
//   port       = epp | spp | ecp-epp | ecp-spp | ecp-ps2 | ecp-fifo | ecp-ecp   (default epp)
// Parsing is pure: text in, settings out, nothing read or written. Reading the file is the cart
// directory's business (sim/CartDirectory.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "sim/CartParts.h"
#include "sim/FlashChip.h"
#include "sim/SaveMemory.h"
#include "sim/VirtualAdapter.h"

namespace brevomat::sim {

enum class CartKind : std::uint8_t { Flash4M, Flash8M, Rom };
enum class TimingProfile : std::uint8_t { Datasheet, Slow, Fast };
// How a program that a person works with runs the cart: as fast as the host allows, or held to
// the wall clock so that every command takes its real time.
enum class Pace : std::uint8_t { Fast, Realtime };

struct CartConfig {
  CartKind cart = CartKind::Flash8M;
  SaveMemory save = SaveMemory::Sram;
  AdapterAnswers adapter = AdapterAnswers::Both;
  std::uint16_t base = 0x378;
  TimingProfile timing = TimingProfile::Datasheet;
  Pace pace = Pace::Fast;
  FlashFaults faults;
  CableFaults cable;
};

ChipTiming TimingOf(TimingProfile profile);

// Parses cart.conf. On failure returns false, leaves `out` unchanged and puts a message that
// names the line ("cart.conf line N: ...") into `error`.
bool ParseCartConf(std::string_view text, CartConfig& out, std::string& error);

// The text of a cart.conf that states every setting of `config` (faults only when set).
std::string FormatCartConf(const CartConfig& config);

}  // namespace brevomat::sim
