// Erasing 128 KB flash blocks, and the EraseFlash command.
#pragma once

#include <cstdint>

namespace brevomat {

struct Core;

// Erases the block holding word address `a`. Returns false on time-out, error status or Stop.
bool EraseFlashBlock(Core& core, std::uint32_t a);
// Opens the operation frame and erases every block of the identified chip.
bool EraseAllBlocks(Core& core);

}  // namespace brevomat
