// What a read-out learns about the data while it reads: the checksums of the whole read-out and of
// every power-of-two prefix from 256 KB up (a game of that size may sit at the start of a larger
// chip), and where the game ends. Fed with the confirmed chunks as they come off the cable, so
// nothing is read back from a file.
#pragma once

#include <array>
#include <cstdint>

#include "base/Operation.h"
#include "dump/Checksums.h"

namespace brevomat {

inline constexpr std::uint64_t kSmallestGame = 0x40000;  // 256 KB: the smallest used size and prefix

// How the bytes after the used size look.
enum class UnusedTail {
  None,    // the whole read-out is used
  Blank,   // all 0xFF, as erased flash reads
  Mirror,  // the first bytes over again, as a cart whose address lines run out repeats itself
};

struct UsedSize {
  std::uint64_t size = 0;  // 0 when the whole read-out is used
  UnusedTail tail = UnusedTail::None;
};

// Chunks of 32 KB, in cart order, at most 32 MB of them (the largest read-out).
class DumpDigest final : public ConfirmedChunkListener {
 public:
  static constexpr int kMaxChunks = 1024;
  static constexpr int kMaxPrefixes = 8;  // 256 KB .. 32 MB

  void ChunkConfirmed(const std::uint8_t* data, std::uint32_t size) override;

  // False when a hash could not be computed (a library failed); nothing below is to be trusted then.
  bool Ok() const { return ok_ && whole_.Ok(); }
  std::uint64_t Size() const { return size_; }
  // The digests of everything confirmed so far.
  bool Whole(Digests& out) { return Ok() && whole_.Peek(out); }
  // The digests of the first `size` bytes, when `size` is a power of two of at least 256 KB that
  // the read-out reached; nullptr otherwise.
  const Digests* Prefix(std::uint64_t size) const;
  // The smallest power of two N >= 256 KB, below the read-out's size, after which every byte is
  // 0xFF or repeats the first N bytes (byte i equals byte i mod N).
  UsedSize Used() const;

 private:
  // Enough to tell whether two chunks hold the same bytes without keeping them.
  struct ChunkPrint {
    std::uint32_t crc = 0;
    std::uint32_t adler = 0;
    bool blank = false;  // every byte 0xFF
    bool operator==(const ChunkPrint&) const = default;
  };

  Checksums whole_;
  std::array<Digests, kMaxPrefixes> prefixes_{};
  int prefixCount_ = 0;
  std::array<ChunkPrint, kMaxChunks> prints_{};
  std::uint64_t size_ = 0;
  int chunks_ = 0;
  bool ok_ = true;
};

}  // namespace brevomat
