// Erasing 128 KB flash blocks.
#pragma once

#include <cstdint>

namespace brevomat {

class Link;
class OperationFrame;

// Erases the block holding word address `a`. Returns false on time-out, error status or Stop.
bool EraseFlashBlock(Link& link, OperationFrame& frame, std::uint32_t a);
// Opens the operation frame and erases every block of a chip of `flashSize` bytes, reading each
// block back: it counts as erased only when every word reads 0xFFFF.
bool EraseAllBlocks(Link& link, OperationFrame& frame, std::uint32_t flashSize);

}  // namespace brevomat
