// What the two selection dialogs hand back, whichever window shows them.
#pragma once

#include <cstdint>

namespace brevomat {

// CartSizeChunks for a SelectCartSize item index: 8M .. 256M as 32 KiB chunks, 0 for no item.
inline std::int32_t CartSizeChunksForItem(int itemIndex) {
  // 8 Mbit = 1 MiB = 32 chunks of 32 KiB, doubling with each item.
  return itemIndex >= 0 && itemIndex <= 5 ? 32 << itemIndex : 0;
}

}  // namespace brevomat
