// Writing only what changed: a write that reads every block it touches before it would erase it,
// and erases and programs only the blocks that need it. For people who write an image, change a
// few bytes and write it again: a block that already holds its bytes costs one read instead of a
// one-second erase and the programming of 128 KB.
#pragma once

#include <cstdint>

namespace brevomat {

class Link;
class OperationFrame;
struct CartState;
struct IpsPatch;

// WriteImage with cart.Changed.Enabled, after the IPS offer; same preconditions, result and log.
// A first pass reads the image (header review and patch as in a full write, a short last chunk
// padded with 0xFF) and compares each block it touches with the flash, up to the first word that
// settles the block, into cart.Changed's plan: a block that holds exactly what a full write would
// leave in it (the image's chunks, 0xFF in the chunks of the block outside the image) is kept as
// it is; a block whose chunks each hold their bytes or are blank is kept and only its blank chunks
// are programmed; any other block is erased and programmed. A second pass reads the file again
// and carries the plan out, counting the blocks in cart.Changed, and reads back every chunk it
// programs; the verify pass compares every chunk as after a full write, so that a chunk kept
// because the first pass saw its bytes there is read a second time. The chunks of a block that an earlier
// image of the same command erased or kept are programmed without an erase.
int WriteChangedBlocks(Link& link, OperationFrame& frame, CartState& cart, IpsPatch& ips, std::uint32_t size,
                       std::uint32_t startChunk);

}  // namespace brevomat
