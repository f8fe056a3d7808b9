// Where the games of a multi-game cart go in the flash, behind the 32 KB pre-boot image.
//
// The pre-boot image takes chunk 0; the first game starts at 0x008000 and every next game starts
// 4 MB (or 8 MB, behind a game larger than 4 MB) after the one before, so each game starts 32 KB
// past a 4 MB boundary. The slot of the last game therefore runs 32 KB past the end of the flash:
// a last game must be shorter than 0x3F8000 bytes, or give up a blank final 32 KB. Nothing but
// this fixed rule ties the images together on the cart: there is no directory.
//
// A pure function of the image sizes: no files, no cart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "base/TransferBuffer.h"

namespace brevomat {

inline constexpr std::uint32_t kPreBootBytes = kChunkBytes;  // the pre-boot image, at chunk 0
inline constexpr std::uint32_t kMultiSlotBytes = 0x400000;   // 4 MB between game starts
// A last game of this length or more runs past the end of its slot unless it drops its final chunk.
inline constexpr std::uint32_t kLastFitWholeLimit = kMultiSlotBytes - kChunkBytes;  // 0x3F8000

struct MultiImage {
  std::uint32_t size = 0;        // the file's length in bytes
  bool finalChunkBlank = false;  // its final 32 KB are all 0x00 or all 0xFF
};

// LastFit: 1 when the image fits a last slot whole, 2 when only without its blank final 32 KB,
// 0 when it cannot go last.
std::uint8_t LastFit(const MultiImage& image);

// True when the buffer's 32 KB are all 0x00 or all 0xFF.
bool ChunkBlank(const TransferBuffer& buffer);

struct MultiPlacement {
  std::size_t image = 0;         // index into the chosen images (the dialog's order)
  std::uint32_t startChunk = 0;  // 32 KB chunk of the flash where it starts
  std::uint32_t size = 0;        // bytes to write: the last game may have given up 32 KB
  bool operator==(const MultiPlacement&) const = default;
};

enum class MultiVerdict {
  Placed,
  NoLastImage,  // no image may go last
  PastFlash,    // an image would end past the end of the flash
};

struct MultiLayout {
  MultiVerdict verdict = MultiVerdict::Placed;
  std::vector<MultiPlacement> placements;  // in writing order (filled when Placed or PastFlash)
  std::size_t overflowing = 0;             // PastFlash: index into placements of the first misfit
  std::uint64_t overflowEnd = 0;           // PastFlash: the byte past its last byte
};

// The last game is the first image (in the given order) that may go last; it trades places with
// the image at the end of the list, the others keep their order. A last game of LastFit 2 is
// written without its final 32 KB. Every game must end within `flashSize` bytes.
MultiLayout LayOutMultiImages(std::span<const MultiImage> images, std::uint32_t flashSize);

}  // namespace brevomat
