// Programming an image into the flash and proving it: erase when due, 16-word buffered
// programming, an immediate read-back of every chunk, and a verify pass over the whole file.
#pragma once

#include <cstdint>

namespace brevomat {

struct Core;

inline constexpr int kResultDone = 0;
inline constexpr int kResultCancelled = 254;
inline constexpr int kResultFailed = -1;

// Reads chunk n (32 KB at word address n * 0x4000) into the transfer buffer.
void ReadChunk(Core& core, std::uint32_t n);
// Reads the first byteCount / 512 runs of chunk n again and compares them with the transfer buffer.
bool VerifyChunk(Core& core, std::uint32_t n, std::uint32_t byteCount);
// Programs the 16 buffer words from word offset o at chunk word address c.
bool WriteFlashBuffer(Core& core, std::uint32_t c, std::uint32_t o);
// Erases when due, programs byteCount / 32 buffers of chunk n, then reads the chunk back.
bool ProgramChunk(Core& core, std::uint32_t n, std::uint32_t byteCount);
// Writes the open file (CurrentFile) of `size` bytes from chunk `startChunk` on. 0, 254 or -1.
int WriteImage(Core& core, std::uint32_t size, std::uint32_t startChunk, bool ipsAllowed);

}  // namespace brevomat
