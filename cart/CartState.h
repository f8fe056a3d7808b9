// What the program knows about the cartridge and the image being written, for one run.
#pragma once

#include <cstdint>

namespace brevomat {

inline constexpr std::uint32_t kFlash4M = 0x400000;
inline constexpr std::uint32_t kFlash8M = 0x800000;

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
};

}  // namespace brevomat
