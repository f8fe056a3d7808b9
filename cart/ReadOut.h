// Reading a cartridge's game memory into a file: the size proposal (the identified flash chip, or a
// probe for the first unconnected address range), the size dialog, and a read-out in which every
// chunk crosses the link twice and reaches the file only when both reads agree.
#pragma once

#include <cstdint>

#include "base/TransferBuffer.h"

namespace brevomat {

class Link;
class OperationFrame;
struct CartState;

// The items of the cart size dialog (Form2), in order. The names count megabits: "8M" is 1 MB, 32
// chunks of 32 KB, and every item doubles the one before.
inline constexpr int kCartSizeItems = 6;
inline constexpr const char* kCartSizeNames[kCartSizeItems] = {"8M", "16M", "32M", "64M", "128M", "256M"};

// The size in chunks for a dialog item, 0 for anything else (no item selected).
constexpr std::int32_t CartSizeChunksOfItem(int item) {
  return item >= 0 && item < kCartSizeItems ? 32 << item : 0;
}
// The dialog item for a size in chunks, -1 for a value that is no size.
constexpr int CartSizeItemOf(std::int32_t chunks) {
  for (int item = 0; item < kCartSizeItems; ++item)
    if (CartSizeChunksOfItem(item) == chunks) return item;
  return -1;
}

// True when chunk n (a multiple of 4) reads back the low 16 bits of its own word addresses, which
// is what the cart's address latch shows where no memory answers. Uses the transfer buffer.
bool ChunkReadsOpenBus(Link& link, TransferBuffer& buffer, std::uint32_t n);
// The first of 32, 64, 128, 256 chunks at which the address space is unconnected; 512 if none.
std::int32_t ProbeCartSize(Link& link, TransferBuffer& buffer);

// Checks the cart's header, proposes a size, lets the user confirm it in Form2 and reads that
// many chunks into the file chosen in SaveDialog1. CartSizeChunks is the size chosen, 0 when the
// dialog gave none. Opens the operation frame once the file is
// open; the caller closes it. Returns kResultDone, kResultCancelled (Stop, or the file could not
// be opened) or kResultFailed (header, size dialog cancelled, the two reads of a chunk differ,
// the file could not be written).
int ReadCartToFile(Link& link, OperationFrame& frame, CartState& cart, std::int32_t& CartSizeChunks);

}  // namespace brevomat
