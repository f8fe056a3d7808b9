// What the program knows about the cartridge and the image being written, for one run.
#pragma once

#include <array>
#include <cstdint>

#include "base/TransferBuffer.h"

namespace brevomat {

inline constexpr std::uint32_t kFlash4M = 0x400000;
inline constexpr std::uint32_t kFlash8M = 0x800000;
inline constexpr std::uint32_t kMaxFlashChunks = kFlash8M / kChunkBytes;
inline constexpr std::uint32_t kChunksPerBlock = kBlockBytes / kChunkBytes;

// Writing only what changed, the way every write goes unless a front end asks for every block (the
// command line's --every-block): every block the image touches is read before it would be erased
// and compared with what a full write would leave in it. One plan
// entry per block and one flag per chunk of the largest chip, filled anew for every image.
struct ChangedBlocks {
  enum class Plan : std::uint8_t {
    Erase,   // holds something else: erased and programmed, as a full write does
    Keep,    // every chunk already holds its bytes or is blank: blank chunks programmed, no erase
    Shared,  // an earlier image of this command left it erased or kept; its rest is blank
  };

  bool Enabled = true;              // false: every block erased and programmed, as the system did
  std::int32_t LastKeptBlock = -1;  // first chunk of the block this command last kept, or -1
  std::uint32_t Skipped = 0;        // blocks that held the image already: neither erased nor programmed
  std::uint32_t Programmed = 0;     // blocks programmed without an erase
  std::uint32_t Erased = 0;         // blocks erased and programmed
  std::array<Plan, kMaxFlashChunks / kChunksPerBlock> BlockPlan{};
  std::array<bool, kMaxFlashChunks> ChunkHeld{};  // of a kept block: already holds its bytes

  // A command starts with no block kept and nothing counted.
  void NewCommand() {
    LastKeptBlock = -1;
    Skipped = Programmed = Erased = 0;
  }
};

struct CartState {
  std::uint32_t FlashSize = 0;        // bytes of the identified chip; kept when identification fails
  std::int32_t LastErasedBlock = -1;  // first chunk of the block erased last in this command, or -1
  std::uint32_t InputFileSize = 0;    // length of the image or save file being written
  std::int8_t SaveStartUnit = 0;      // first 32 KB save unit of a save transfer
  std::uint8_t SaveUnitCount = 0;     // number of save units of a save transfer
  std::uint8_t IpsActive = 0;         // a patch is loaded for the image being written
  std::uint8_t HeaderChecked = 0;     // the image's first chunk passed the header check
  std::uint8_t HeaderFixed = 0;       // the image's first chunk was repaired

  // What a read-out or a comparison ended with, beyond its log, for a front end that reports more.
  bool OutputFileCreated = false;     // the read-out created (or emptied) its output file
  std::int32_t UnstableChunk = -1;    // the two reads of this chunk differed; -1 for none
  std::int64_t FirstDifference = -1;  // byte offset of the first byte the flash does not hold; -1 none

  ChangedBlocks Changed;
};

}  // namespace brevomat
